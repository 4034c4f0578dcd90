#include "platform/Folders.h"

#include <QDir>

namespace {
const char kHelpPage[] = "zbeacon.html";
}  // namespace

QString TProgramFolders::DefaultCommandFile() const {
    return QDir(Data).filePath(QStringLiteral("default.txt"));
}

TProgramFolders TProgramFolders::Portable(const QString& programDir) {
    TProgramFolders f;
    f.Program = programDir;
    f.Data = programDir;
    f.HelpPage = QDir(programDir).filePath(kHelpPage);
    return f;
}

bool EnsureDataFolder(const TProgramFolders& folders) {
    return QDir().mkpath(folders.Data);
}
