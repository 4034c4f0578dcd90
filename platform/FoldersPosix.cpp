// The program's folders on Linux: the install tree beside the program, the desktop's configuration and
// data folders.
#include "platform/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

// The install layout, relative to the prefix; the build passes the folders it installs into.
#ifndef ZB_INSTALL_BINDIR
#define ZB_INSTALL_BINDIR "bin"
#endif
#ifndef ZB_INSTALL_DATADIR
#define ZB_INSTALL_DATADIR "share"
#endif
#ifndef ZB_INSTALL_DOCDIR
#define ZB_INSTALL_DOCDIR "share/doc/zindle-beacon-setup"
#endif
#ifndef ZB_CLI_INSTALL_DOCDIR
#define ZB_CLI_INSTALL_DOCDIR "share/doc/zbeacon-cli"
#endif
#ifndef ZB_DESKTOP_ID
#define ZB_DESKTOP_ID "org.example.ZindleBeaconSetup"
#endif

namespace {
const char kConfigFolderName[] = "zbeacon";
const char kHelpPage[] = "zbeacon.html";

// The prefix of an install tree whose program folder is `programDir`, or empty when `programDir` is
// not the tree's bin folder.
QString InstallPrefix(const QString& programDir) {
    const QString bin = QDir::cleanPath(QStringLiteral(ZB_INSTALL_BINDIR));
    const QString dir = QDir::cleanPath(QDir(programDir).absolutePath());
    if (QDir::isAbsolutePath(bin)) return dir == bin ? QStringLiteral("/") : QString();
    const QString suffix = QLatin1Char('/') + bin;
    if (!dir.endsWith(suffix)) return QString();
    const QString prefix = dir.left(dir.size() - suffix.size());
    return prefix.isEmpty() ? QStringLiteral("/") : prefix;
}

// A folder of the install tree: absolute folders stand as they are, relative ones under the prefix.
QString UnderPrefix(const QString& prefix, const char* folder) {
    const QString f = QString::fromUtf8(folder);
    return QDir::isAbsolutePath(f) ? f : QDir(prefix).filePath(f);
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
    f.HelpPage = QDir(programDir).filePath(kHelpPage);
    const QString prefix = InstallPrefix(programDir);
    if (!QFileInfo::exists(f.HelpPage) && !prefix.isEmpty())
        f.HelpPage = QDir(UnderPrefix(prefix, ZB_INSTALL_DOCDIR)).filePath(kHelpPage);
    return f;
}

bool IsInstalledLayout(const QString& programDir) {
    const QString prefix = InstallPrefix(programDir);
    if (prefix.isEmpty()) return false;
    const QString entry = QDir(UnderPrefix(prefix, ZB_INSTALL_DATADIR))
                              .filePath(QStringLiteral("applications/" ZB_DESKTOP_ID ".desktop"));
    // The command-line tools also come without the window (their own package): their copyright notice
    // marks the layout then.
    const QString cliNotice =
        QDir(UnderPrefix(prefix, ZB_CLI_INSTALL_DOCDIR)).filePath(QStringLiteral("copyright"));
    return QFileInfo::exists(entry) || QFileInfo::exists(cliNotice);
}

TProgramFolders ChooseProgramFolders(const QString& programDir) {
    if (!IsInstalledLayout(programDir)) return TProgramFolders::Portable(programDir);
    // GenericConfigLocation is $XDG_CONFIG_HOME, or ~/.config when that is unset or not absolute.
    const QString config = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                               .filePath(kConfigFolderName);
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QFileInfo(documents).isDir()) documents = QDir::homePath();
    return TProgramFolders::ForInstalled(programDir, config, documents);
}

QString BackupsFolder(const TProgramFolders& folders) {
    if (!folders.IsInstalled()) return QDir(folders.Data).filePath(QStringLiteral("backups"));
    // GenericDataLocation is $XDG_DATA_HOME, or ~/.local/share when that is unset or not absolute.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("zbeacon/backups"));
}
