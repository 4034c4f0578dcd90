// Where the program keeps its files: beside itself when portable, in the user's configuration folder
// when installed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/Folders.h"
#include "support/FileTestSupport.h"
#include "support/FormHarness.h"

namespace {

using filetest::ReadBytes;
using filetest::WriteBytes;

// An install tree as the install step lays it out, in a temporary prefix.
class Folders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(Bin()));
        ASSERT_TRUE(QDir().mkpath(prefix.filePath("share/applications")));
        ASSERT_TRUE(QDir().mkpath(prefix.filePath("share/doc/zindle-beacon-setup")));
        WriteBytes(DesktopEntry().toStdString(), "[Desktop Entry]\n");
        WriteBytes(prefix.filePath("share/doc/zindle-beacon-setup/zbeacon.html").toStdString(), "<html/>");
#ifdef _WIN32
        WriteBytes(QDir(Bin()).filePath("zbeacon.html").toStdString(),
                   "<html/>");  // installed beside the program
#endif
    }
    QString Bin() const {
        return prefix.filePath("bin");
    }
    QString DesktopEntry() const {
        return prefix.filePath("share/applications/org.example.ZindleBeaconSetup.desktop");
    }

    QTemporaryDir prefix;
    QTemporaryDir home;
};

}  // namespace

#ifndef _WIN32
TEST_F(Folders, OnlyAnInstallTreeMovesTheFilesToTheConfigurationFolder) {
    EXPECT_TRUE(IsInstalledLayout(Bin()));
    EXPECT_TRUE(IsInstalledLayout(Bin() + "/"));
    EXPECT_FALSE(IsInstalledLayout(prefix.path()));  // not the bin folder
    EXPECT_FALSE(IsInstalledLayout(home.path()));    // a build folder or any other folder

    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("cfg")));
    const TProgramFolders installed = ChooseProgramFolders(Bin());
    const TProgramFolders portable = ChooseProgramFolders(home.path());
    // Root or not, a zbeacon.ini beside an installed program is not used.
    WriteBytes(QDir(Bin()).filePath("zbeacon.ini").toStdString(), "[Comm]\nPort=3\n");
    const TProgramFolders stillInstalled = ChooseProgramFolders(Bin());
    QFile::remove(DesktopEntry());
    const TProgramFolders withoutEntry = ChooseProgramFolders(Bin());
    if (savedConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfig);

    EXPECT_TRUE(installed.IsInstalled());
    EXPECT_EQ(installed.Data, home.filePath("cfg/zbeacon"));
    EXPECT_EQ(installed.DefaultCommandFile(), home.filePath("cfg/zbeacon/default.txt"));
    EXPECT_FALSE(installed.Documents.isEmpty());
    EXPECT_EQ(installed.HelpPage, prefix.filePath("share/doc/zindle-beacon-setup/zbeacon.html"));
    EXPECT_EQ(stillInstalled.Data, installed.Data);
    EXPECT_TRUE(EnsureDataFolder(installed));
    EXPECT_TRUE(QFileInfo(installed.Data).isDir());

    for (const TProgramFolders& f : {portable, withoutEntry}) {
        EXPECT_FALSE(f.IsInstalled());
        EXPECT_EQ(f.Data, f.Program);
        EXPECT_TRUE(f.Documents.isEmpty());
        EXPECT_EQ(f.HelpPage, QDir(f.Program).filePath("zbeacon.html"));
    }
    // A help page beside the program comes first.
    WriteBytes(QDir(Bin()).filePath("zbeacon.html").toStdString(), "<html/>");
    EXPECT_EQ(TProgramFolders::ForInstalled(Bin(), home.path(), home.path()).HelpPage,
              QDir(Bin()).filePath("zbeacon.html"));
}
#else
// A copy run from a folder of its own keeps everything beside itself; the installer's uninstaller beside
// it, or a place under Program Files, makes it an installed copy, whose files live in the application
// data folders.
TEST_F(Folders, AnUninstallerOrProgramFilesMakesACopyInstalled) {
    const QString program = home.filePath("ZindleBeaconSetup");
    ASSERT_TRUE(QDir().mkpath(program));
    const TProgramFolders portable = ChooseProgramFolders(program);
    EXPECT_FALSE(portable.IsInstalled());
    EXPECT_EQ(portable.Data, program);
    EXPECT_EQ(BackupsFolder(portable), QDir(program).filePath("backups"));

    WriteBytes(QDir(program).filePath("Uninstall.exe").toStdString(), "MZ");
    const TProgramFolders installed = ChooseProgramFolders(program);
    EXPECT_TRUE(installed.IsInstalled());
    EXPECT_TRUE(installed.Data.endsWith("/zbeacon")) << installed.Data.toStdString();
    EXPECT_FALSE(installed.Data.startsWith(program));
    EXPECT_EQ(installed.DefaultCommandFile(), QDir(installed.Data).filePath("default.txt"));
    EXPECT_EQ(installed.HelpPage, QDir(program).filePath("zbeacon.html"));
    EXPECT_FALSE(installed.Documents.isEmpty());
    // The backups are kept apart from the roaming settings, in the local application data.
    const QString backups = BackupsFolder(installed);
    EXPECT_TRUE(backups.endsWith("/zbeacon/backups")) << backups.toStdString();
    EXPECT_FALSE(backups.startsWith(installed.Data)) << backups.toStdString();

    // Under Program Files without an uninstaller; a folder whose name only begins the same is no part of it.
    // (The layout is told from the names alone: the folders need not exist.)
    const QString programFiles = QDir::fromNativeSeparators(qEnvironmentVariable("ProgramFiles"));
    ASSERT_FALSE(programFiles.isEmpty());
    const QString underProgramFiles = programFiles + "/ZindleBeaconSetupTest";
    const QString besideProgramFiles = programFiles + "Test/ZindleBeaconSetup";
    EXPECT_TRUE(IsInstalledLayout(underProgramFiles));
    EXPECT_TRUE(IsInstalledLayout(underProgramFiles.toUpper()));
    EXPECT_FALSE(IsInstalledLayout(besideProgramFiles));
}
#endif

TEST_F(Folders, AnInstalledWindowKeepsItsFilesInTheDataFolderAndDialogsStartInDocuments) {
    QTemporaryDir data;
    QTemporaryDir documents;
    const TProgramFolders folders = TProgramFolders::ForInstalled(Bin(), data.path(), documents.path());
    ScriptedDialogs dialogs;
    const QString other = documents.filePath("mine.txt");
    WriteBytes(other.toStdString(), "KUZ");
    {
        TForm1 form(folders, dialogs);
        form.Create();
        EXPECT_EQ(form.CommandFileName, data.filePath("default.txt"));
        form.show();
        form.Help2->trigger();
        EXPECT_EQ(dialogs.Documents, QStringList{folders.HelpPage});

        // No file remembered: both dialogs start in the documents folder.
        dialogs.SaveAnswers.enqueue(std::nullopt);
        form.SaveAs1->trigger();
        ASSERT_EQ(dialogs.SaveRequests.size(), 1);
        EXPECT_EQ(dialogs.SaveRequests[0].FileName, documents.filePath("default.txt"));
        dialogs.OpenAnswers.enqueue(other);
        form.Open1->trigger();
        ASSERT_EQ(dialogs.OpenRequests.size(), 1);
        EXPECT_EQ(dialogs.OpenRequests[0].InitialDir, documents.path());
        // Once a file of the operator's is current, they start in its folder as usual.
        dialogs.SaveAnswers.enqueue(std::nullopt);
        form.SaveAs1->trigger();
        EXPECT_EQ(dialogs.SaveRequests[1].FileName, other);

        form.Save1->trigger();  // writes mine.txt in the documents folder
        ASSERT_TRUE(form.close());
    }
    EXPECT_NE(ReadBytes(data.filePath("zbeacon.ini").toStdString()).find("SaveAs=" + other.toStdString()),
              std::string::npos);
    // Nothing was written beside the program (where, on Windows, only the help page lies).
    QStringList besideProgram = QDir(Bin()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    besideProgram.removeOne(QStringLiteral("zbeacon.html"));
    EXPECT_EQ(besideProgram, QStringList{});
}
