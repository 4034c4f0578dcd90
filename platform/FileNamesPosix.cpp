// File names on Linux: names are bytes.
#include <sys/stat.h>

#include <QFile>

#include "platform/FileNames.h"

namespace FileNames {

bool ExistsAsNonFolder(const QString& text) {
    struct stat st {};
    return !text.isEmpty() && ::stat(ToBytes(text).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string Native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromNative(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace FileNames
