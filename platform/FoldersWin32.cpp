// The program's folders on Windows: a copy run from a folder of its own (the zip's) keeps everything
// beside itself; an installed copy keeps its settings and default.txt in the roaming application data
// and the backups in the local application data.
#include "platform/Folders.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <QDir>
#include <QFileInfo>

#ifndef ZB_DESKTOP_ID
#define ZB_DESKTOP_ID "org.example.ZindleBeaconSetup"
#endif

namespace {
const char kFolderName[] = "zbeacon";
const char kHelpPage[] = "zbeacon.html";
// The installer writes its uninstaller beside the program.
const char kUninstaller[] = "Uninstall.exe";

// A known folder of the user or the system (forward slashes), or empty when the system has none.
QString KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    QString folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr)
        folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path);
    return folder;
}

// True when `dir` is `folder` or lies below it; names compare without regard to case, as the system's do.
bool IsWithin(const QString& dir, const QString& folder) {
    if (folder.isEmpty()) return false;
    const QString d = QDir::cleanPath(dir);
    const QString f = QDir::cleanPath(folder);
    if (d.compare(f, Qt::CaseInsensitive) == 0) return true;
    const QString withSlash = f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/');
    return d.startsWith(withSlash, Qt::CaseInsensitive);
}
}  // namespace

QString DesktopEntryId() {
    return QStringLiteral(ZB_DESKTOP_ID);
}

TProgramFolders TProgramFolders::ForInstalled(const QString& programDir, const QString& configDir,
                                              const QString& documentsDir) {
    TProgramFolders f;
    f.Program = programDir;
    f.Data = configDir;
    f.Documents = documentsDir;
    f.HelpPage = QDir(programDir).filePath(kHelpPage);  // the installer puts it beside the program
    return f;
}

bool IsInstalledLayout(const QString& programDir) {
    if (QFileInfo::exists(QDir(programDir).filePath(kUninstaller))) return true;
    const QString dir = QDir(programDir).absolutePath();
    return IsWithin(dir, KnownFolder(FOLDERID_ProgramFiles)) ||
           IsWithin(dir, KnownFolder(FOLDERID_ProgramFilesX86));
}

TProgramFolders ChooseProgramFolders(const QString& programDir) {
    if (!IsInstalledLayout(programDir)) return TProgramFolders::Portable(programDir);
    const QString data = QDir(KnownFolder(FOLDERID_RoamingAppData)).filePath(kFolderName);
    QString documents = KnownFolder(FOLDERID_Documents);
    if (documents.isEmpty() || !QFileInfo(documents).isDir()) documents = QDir::homePath();
    return TProgramFolders::ForInstalled(programDir, data, documents);
}

QString BackupsFolder(const TProgramFolders& folders) {
    if (!folders.IsInstalled()) return QDir(folders.Data).filePath(QStringLiteral("backups"));
    return QDir(KnownFolder(FOLDERID_LocalAppData)).filePath(QStringLiteral("zbeacon/backups"));
}
