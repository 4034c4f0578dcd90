// File names on Windows: names are UTF-16; the file layer holds them in UTF-8.
#include <windows.h>

#include "platform/FileNames.h"

namespace FileNames {

bool ExistsAsNonFolder(const QString& text) {
    if (text.isEmpty()) return false;
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(text.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string Native(const QString& path) {
    return ToBytes(path);
}

QString FromNative(const std::string& path) {
    return FromBytes(path);
}

std::wstring Wide(const std::string& path) {
    return FromBytes(path).toStdWString();
}

std::string Narrow(const std::wstring& name) {
    return ToBytes(QString::fromStdWString(name));
}

}  // namespace FileNames
