// The install step and the Debian package, checked on this build: what lands where, that the desktop
// entry and metadata are valid, that an installed program run by an ordinary user keeps its settings
// in that user's configuration folder, and what the package holds and depends on.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <thread>

#include "platform/IniFile.h"
#include "support/FileTestSupport.h"

namespace {

using filetest::TempDir;

const QString kAppId = QStringLiteral("org.example.ZindleBeaconSetup");

struct Result {
    int Code = -1;
    QString Output;
};

// Runs a program to its end (at most two minutes) with `extraEnv` added to the environment.
Result RunTool(const QString& program, const QStringList& args, const QStringList& extraEnv = {},
               const QString& workDir = QString()) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnv)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
    process.start(program, args);
    Result result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.Output = "timed out: " + program + " " + args.join(' ');
        return result;
    }
    result.Output = QString::fromLocal8Bit(process.readAll());
    result.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// The install step and the packaging both use the build folder (its install manifest); one at a time.
class BuildFolderLock {
public:
    BuildFolderLock() : fd_(::open(ZB_BUILD_DIR "/.install-test.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0644)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~BuildFolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_;
};

// Every regular file under `root`, relative to it.
QStringList FilesUnder(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

QString EntryValue(const QString& desktopFile, const QString& key) {
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key.toUtf8() + '=')) return QString::fromUtf8(line.mid(key.size() + 1)).trimmed();
    }
    return QString();
}

void ChmodPath(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

// Runs the program at `program` as `user` (or as this process's user when it is not root) with HOME at
// `home` and the headless platform, asks it to end as a desktop session does, and returns its exit
// status; -1 when it did not end within a minute.
int RunAndEnd(const QString& program, const passwd* user, const QString& home) {
    const QByteArray path = QFile::encodeName(program);
    const QByteArray homeVar = "HOME=" + QFile::encodeName(home);
    // The screen's description goes with the program into its home: the checkout may sit in a folder that
    // only root can enter.
    const QString screen = QDir(home).filePath(QStringLiteral("offscreen-screen.json"));
    QFile::remove(screen);
    if (!QFile::copy(QStringLiteral(ZB_TEST_SCREEN_CONFIG), screen)) return -1;
    QFile::setPermissions(screen, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QByteArray platform = "QT_QPA_PLATFORM=offscreen:configfile=" + QFile::encodeName(screen);
    const QByteArray log = QFile::encodeName(QDir(home).filePath("run.log"));
    const QByteArray asanVar = "ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS");
    // The request to end stays blocked (the child inherits the mask) until the program has its handler
    // in place and unblocks it, so it can be sent at once.
    sigset_t endRequest;
    sigset_t saved;
    sigemptyset(&endRequest);
    sigaddset(&endRequest, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &endRequest, &saved);
    // Only async-signal-safe calls between fork and exec: everything is prepared above.
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (user != nullptr && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
                _exit(90);
        }
        const int out = ::open(log.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        char* env[] = {const_cast<char*>(homeVar.constData()), const_cast<char*>(platform.constData()),
                       const_cast<char*>("PATH=/usr/bin:/bin"), const_cast<char*>(asanVar.constData()),
                       nullptr};
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};
        ::execve(path.constData(), argv, env);
        _exit(91);
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (pid < 0) return -1;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Install, TheInstalledProgramKeepsItsSettingsInTheUsersConfigurationFolder) {
    TempDir stage;
    const QString root = QString::fromStdString(stage.Path()) + "/usr";
    QStringList manifest;
    {
        BuildFolderLock lock;
        const Result install = RunTool(ZB_CMAKE_COMMAND, {"--install", ZB_BUILD_DIR, "--prefix", "/usr"},
                                       {"DESTDIR=" + QString::fromStdString(stage.Path())});
        ASSERT_EQ(install.Code, 0) << install.Output.toStdString();
        QFile list(ZB_BUILD_DIR "/install_manifest.txt");
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        manifest = QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // Where everything went.
    const QString desktop = root + "/share/applications/" + kAppId + ".desktop";
    const QString metainfo = root + "/share/metainfo/" + kAppId + ".metainfo.xml";
    for (const QString& file :
         {root + "/bin/ZBeacon", root + "/bin/zbeacon-cli", root + "/bin/zbeacon-sim", desktop, metainfo,
          root + "/share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
          root + "/share/man/man1/ZBeacon.1.gz", root + "/share/man/man1/zbeacon-sim.1.gz",
          root + "/share/doc/zindle-beacon-setup/zbeacon.html"})
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    EXPECT_TRUE(QFileInfo(root + "/bin/ZBeacon").isExecutable());

    // The desktop entry names what was installed, and it and the metadata are valid.
    EXPECT_EQ(EntryValue(desktop, "Exec"), "ZBeacon");
    EXPECT_TRUE(QFileInfo(root + "/share/icons/hicolor/scalable/apps/" + EntryValue(desktop, "Icon") + ".svg")
                    .isFile());
    const Result entryCheck = RunTool("desktop-file-validate", {desktop});
    EXPECT_EQ(entryCheck.Code, 0) << entryCheck.Output.toStdString();
    EXPECT_FALSE(entryCheck.Output.contains("error")) << entryCheck.Output.toStdString();
    const Result metaCheck = RunTool("appstreamcli", {"validate", "--no-net", metainfo});
    EXPECT_EQ(metaCheck.Code, 0) << metaCheck.Output.toStdString();

    // An ordinary user with a fresh home runs it and closes it. The program's folder is open to
    // everyone, so a program that wrote beside itself would be caught.
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && nobody == nullptr) {
        GTEST_SKIP() << "no user 'nobody' to run the installed program as";
    }
    TempDir home;
    for (const QString& dir : {QString::fromStdString(stage.Path()), root, root + "/bin", root + "/share"})
        ChmodPath(dir, 0755);
    ChmodPath(root + "/bin", 0777);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(home.Path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const QStringList before = FilesUnder(root);
    ASSERT_EQ(RunAndEnd(root + "/bin/ZBeacon", nobody, QString::fromStdString(home.Path())), 0)
        << filetest::ReadBytes(home / "run.log");

    const std::string ini = home / ".config/zbeacon/zbeacon.ini";
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(ini))) << filetest::ReadBytes(home / "run.log");
    const TIniFile settings(ini);
    EXPECT_EQ(settings.ReadString("Window", "Top", ""), "156");
    EXPECT_EQ(settings.ReadString("Window", "Left", ""), "213");
    EXPECT_EQ(settings.ReadString("Window", "Width", ""), "606");
    EXPECT_EQ(settings.ReadString("Window", "Height", ""), "589");
    EXPECT_EQ(settings.ReadString("Window", "Debug.Height", ""), "500");
    EXPECT_EQ(settings.ReadString("Window", "Debug", ""), "0");
    EXPECT_EQ(settings.ReadString("Files", "SaveAs", ""), home / ".config/zbeacon/default.txt");
    EXPECT_EQ(settings.ReadString("Comm", "Port", ""), "0");
    EXPECT_EQ(settings.ReadString("Beacon", "MaxChar", ""), "127");
    EXPECT_EQ(settings.ReadString("Beacon", "GPS", ""), "100000000000100000000000");
    EXPECT_EQ(FilesUnder(root), before);  // nothing written beside the program

    // The install manifest lists every installed file (without DESTDIR): removing them (make uninstall)
    // leaves none.
    for (const QString& file : manifest)
        EXPECT_TRUE(QFile::remove(QString::fromStdString(stage.Path()) + file)) << file.toStdString();
    EXPECT_EQ(FilesUnder(QString::fromStdString(stage.Path())), QStringList{});
}

// `make install STRIP=1` strips the programs; `make uninstall` removes the files and then the folders
// that the install created, but no folder that was there before, empty or not.
TEST(Install, MakeInstallStripsAndUninstallRemovesOnlyTheFoldersItCreated) {
    TempDir stage;
    const QString root = QString::fromStdString(stage.Path());
    ASSERT_TRUE(QDir().mkpath(root + "/usr/share/man"));
    ASSERT_TRUE(QDir().mkpath(root + "/usr/share/applications"));
    filetest::WriteBytes(stage / "usr/share/applications/other.desktop", "[Desktop Entry]\n");
    const QStringList where = {"-C", ZB_SOURCE_DIR, "BUILD=" ZB_BUILD_DIR, "DESTDIR=" + root, "PREFIX=/usr"};
    BuildFolderLock lock;
    const Result install = RunTool("make", where + QStringList{"install", "STRIP=1"});
    ASSERT_EQ(install.Code, 0) << install.Output.toStdString();
    for (const char* program : {"ZBeacon", "zbeacon-cli", "zbeacon-sim"}) {
        const Result type = RunTool("file", {"-b", root + "/usr/bin/" + program});
        EXPECT_TRUE(type.Output.contains(", stripped")) << program << ": " << type.Output.toStdString();
    }
    EXPECT_TRUE(QFileInfo(root + "/usr/share/man/man1/zbeacon-cli.1.gz").isFile());

    const Result uninstall = RunTool("make", where + QStringList{"uninstall"});
    ASSERT_EQ(uninstall.Code, 0) << uninstall.Output.toStdString();
    QStringList left;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        left << QDir(root).relativeFilePath(it.next());
    left.sort();
    EXPECT_EQ(left, (QStringList{"usr", "usr/share", "usr/share/applications",
                                 "usr/share/applications/other.desktop", "usr/share/man"}));
}

// `make run` and `make build` install only what building and running needs, and build only the
// programs. setup-deps is run against a stand-in package manager that has nothing installed and notes
// what it is asked for.
TEST(Install, MakeRunAsksOnlyForWhatRunningNeedsAndBuildsOnlyThePrograms) {
    for (const char* target : {"run", "build"}) {
        const Result plan = RunTool("make", {"-n", "-C", ZB_SOURCE_DIR, target});
        ASSERT_EQ(plan.Code, 0) << plan.Output.toStdString();
        EXPECT_TRUE(plan.Output.contains("scripts/setup-deps --run\n")) << plan.Output.toStdString();
        EXPECT_TRUE(plan.Output.contains("--target programs\n")) << plan.Output.toStdString();
    }
    const Result query = RunTool("ninja", {"-C", ZB_BUILD_DIR, "-t", "query", "programs"});
    ASSERT_EQ(query.Code, 0) << query.Output.toStdString();
    const QString inputs = query.Output.section("input:", 1).section("outputs:", 0, 0);
    for (const char* program : {"ZBeacon", "zbeacon-cli", "zbeacon-sim"})
        EXPECT_TRUE(inputs.contains(program)) << inputs.toStdString();
    for (const char* other : {"test_", "bench", "soak", "fuzz"})
        EXPECT_FALSE(inputs.contains(other)) << inputs.toStdString();

    TempDir fake;
    const std::string log = fake / "apt.log";
    filetest::WriteBytes(fake / "dpkg-query", "#!/bin/sh\nexit 1\n");
    filetest::WriteBytes(fake / "apt-get", "#!/bin/sh\necho \"$*\" >>\"$APT_LOG\"\n");
    filetest::WriteBytes(fake / "sudo", "#!/bin/sh\nexec \"$@\"\n");
    for (const char* tool : {"dpkg-query", "apt-get", "sudo"})
        ChmodPath(QString::fromStdString(fake / tool), 0755);
    const auto asked = [&](const QStringList& args) {
        std::remove(log.c_str());
        const Result run = RunTool(ZB_SOURCE_DIR "/scripts/setup-deps", args,
                                   {"PATH=" + QString::fromStdString(fake.Path()) + ":/usr/bin:/bin",
                                    "APT_LOG=" + QString::fromStdString(log)});
        EXPECT_EQ(run.Code, 0) << run.Output.toStdString();
        return (" " + QString::fromStdString(filetest::ReadBytes(log)).simplified() + " ");
    };
    const QString forRun = asked({"--run"});
    for (const char* needed :
         {"g++", "cmake", "ninja-build", "qt6-base-dev", "qt6-serialport-dev", "fonts-liberation2"})
        EXPECT_TRUE(forRun.contains(QString(" %1 ").arg(needed)))
            << needed << " not in:" << forRun.toStdString();
    const char* notForRunning[] = {
        "googletest", "libgtest-dev", "libgmock-dev", "lintian", "dpkg-dev", "desktop-file-utils",
        "appstream",  "adwaita-qt6",  "librsvg2-bin", "clang",   "llvm"};
    for (const char* tool : notForRunning)
        EXPECT_FALSE(forRun.contains(QString(" %1 ").arg(tool))) << tool << " in:" << forRun.toStdString();
    const QString forTests = asked({});
    for (const char* tool : {"googletest", "lintian", "dpkg-dev", "qt6-base-dev"})
        EXPECT_TRUE(forTests.contains(QString(" %1 ").arg(tool)))
            << tool << " not in:" << forTests.toStdString();
}

// Two packages: the window, and the command-line tools that need no GUI libraries. Both pass lintian
// without an error or a warning (a well-formed description, a copyright file, gzipped manual pages);
// the help's document opener is only recommended. The tools' package alone is an install layout of its
// own: unpacked, zbeacon-cli reads the user's settings file.
TEST(Install, ThePackagesAreLintianCleanAndTheToolsNeedNoDesktop) {
    TempDir out;
    {
        BuildFolderLock lock;
        const Result package = RunTool(ZB_CPACK_COMMAND,
                                       {"-G", "DEB", "--config", ZB_BUILD_DIR "/CPackConfig.cmake", "-B",
                                        QString::fromStdString(out.Path())},
                                       {}, ZB_BUILD_DIR);
        ASSERT_EQ(package.Code, 0) << package.Output.toStdString();
    }
    const QDir outDir(QString::fromStdString(out.Path()));
    const QStringList guiDebs = outDir.entryList({"zindle-beacon-setup_*.deb"}, QDir::Files);
    const QStringList cliDebs = outDir.entryList({"zbeacon-cli_*.deb"}, QDir::Files);
    ASSERT_EQ(guiDebs.size(), 1) << outDir.entryList().join(' ').toStdString();
    ASSERT_EQ(cliDebs.size(), 1) << outDir.entryList().join(' ').toStdString();
    const QString gui = outDir.filePath(guiDebs.first());
    const QString cli = outDir.filePath(cliDebs.first());
    const auto field = [](const QString& deb, const QString& name) {
        return RunTool("dpkg-deb", {"--field", deb, name}).Output.trimmed();
    };

    EXPECT_EQ(field(gui, "Section"), "hamradio");
    EXPECT_EQ(field(gui, "Description").section('\n', 0, 0),
              "setup tool for the Zindle Morse-code radio beacon");
    const QString guiDepends = field(gui, "Depends");
    for (const char* dependency : {"zbeacon-cli (= ", "fonts-liberation2", "qt6-qpa-plugins",
                                   "libqt6widgets6", "libqt6gui6", "libqt6core6", "libc6"})
        EXPECT_TRUE(guiDepends.contains(dependency))
            << dependency << " missing from: " << guiDepends.toStdString();
    EXPECT_FALSE(guiDepends.contains("xdg-utils")) << guiDepends.toStdString();
    EXPECT_EQ(field(gui, "Recommends"), "xdg-utils");
    const QString cliDepends = field(cli, "Depends");
    EXPECT_TRUE(cliDepends.contains("libqt6core6") && cliDepends.contains("libqt6serialport6"))
        << cliDepends.toStdString();
    for (const char* desktop : {"libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins", "fonts-", "xdg-utils"})
        EXPECT_FALSE(cliDepends.contains(desktop)) << desktop << " in: " << cliDepends.toStdString();
    EXPECT_EQ(field(cli, "Description").section('\n', 0, 0),
              "command-line tool for the Zindle Morse-code radio beacon");

    const auto contents = [](const QString& deb) {
        const Result listing = RunTool("dpkg-deb", {"--contents", deb});
        EXPECT_EQ(listing.Code, 0) << listing.Output.toStdString();
        QStringList files;
        for (const QString& line : listing.Output.split('\n', Qt::SkipEmptyParts)) {
            if (!line.endsWith('/')) files << line.section(' ', -1);
        }
        return files;
    };
    const QStringList guiFiles = contents(gui);
    for (const QString& file :
         QStringList{"./usr/bin/ZBeacon", "./usr/share/applications/" + kAppId + ".desktop",
                     "./usr/share/metainfo/" + kAppId + ".metainfo.xml",
                     "./usr/share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
                     "./usr/share/man/man1/ZBeacon.1.gz", "./usr/share/doc/zindle-beacon-setup/zbeacon.html",
                     "./usr/share/doc/zindle-beacon-setup/copyright",
                     "./usr/share/doc/zindle-beacon-setup/changelog.gz"})
        EXPECT_TRUE(guiFiles.contains(file)) << file.toStdString();
    const QStringList cliFiles = contents(cli);
    EXPECT_EQ(
        cliFiles,
        (QStringList{"./usr/bin/zbeacon-cli", "./usr/bin/zbeacon-sim",
                     "./usr/share/doc/zbeacon-cli/changelog.gz", "./usr/share/doc/zbeacon-cli/copyright",
                     "./usr/share/man/man1/zbeacon-cli.1.gz", "./usr/share/man/man1/zbeacon-sim.1.gz"}));
    for (const QString& file : guiFiles)
        EXPECT_FALSE(cliFiles.contains(file)) << "in both packages: " << file.toStdString();

    const Result lint = RunTool("lintian", {gui, cli});
    EXPECT_EQ(lint.Code, 0) << lint.Output.toStdString();
    for (const QString& line : lint.Output.split('\n'))
        EXPECT_FALSE(line.startsWith("E: ") || line.startsWith("W: ")) << line.toStdString();

    TempDir unpacked;
    TempDir home;
    ASSERT_EQ(RunTool("dpkg-deb", {"-x", cli, QString::fromStdString(unpacked.Path())}).Code, 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home / ".config/zbeacon")));
    filetest::WriteBytes(home / ".config/zbeacon/zbeacon.ini",
                         "[Ports]\r\nCOM7=" + (home / "adapter-gone") + "\r\n");
    const Result read = RunTool(QString::fromStdString(unpacked / "usr/bin/zbeacon-cli"),
                                {"read", "--port", "7", "--timeout", "1"},
                                {"HOME=" + QString::fromStdString(home.Path()),
                                 "XDG_CONFIG_HOME=" + QString::fromStdString(home / ".config")});
    EXPECT_EQ(read.Code, 3) << read.Output.toStdString();
    EXPECT_TRUE(read.Output.contains(QString::fromStdString(home / "adapter-gone")))
        << read.Output.toStdString();
}
