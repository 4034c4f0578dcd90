// The file layer on Windows: replacement that keeps the old file when it fails, names beyond the 8-bit
// code page, and read-only files that are never written.
#include <windows.h>
// The system names its own file replacement ReplaceFile too (a macro for ReplaceFileW); ours keeps its name.
#undef ReplaceFile

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <set>
#include <string>

#include "platform/Exception.h"
#include "platform/FileNames.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "support/FileTestSupport.h"

using filetest::ReadBytes;
using filetest::TempDir;
using filetest::WriteBytes;

namespace {

std::wstring Wide(const std::string& path) {
    return FileNames::Wide(path);
}

}  // namespace

TEST(WindowsFiles, AReplacementThatFailsKeepsTheOldFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir / "cmd.txt";
    const std::string old = "the operator's program, which must survive";
    WriteBytes(path, old);
    {
        // Another program holds the file and lets others read and write it, but not delete or rename it:
        // the new file is written and flushed, and then cannot take the old one's place.
        HANDLE holder = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(TextFile::ReplaceFile(path, std::string(4096, 'N')));
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_FALSE(TextFile::ErrorText(errno).empty());
        EXPECT_THROW(SaveCommandFile(path, "new"), EFCreateError);
        CloseHandle(holder);
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"cmd.txt"});

    // Once it is let go, the replacement goes through; a file made afresh appears whole.
    SaveCommandFile(path, "new");
    EXPECT_EQ(ReadBytes(path), "new");
    SaveCommandFile(dir / "fresh.txt", "fresh");
    EXPECT_EQ(ReadBytes(dir / "fresh.txt"), "fresh");
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"cmd.txt", "fresh.txt"}));
}

TEST(WindowsFiles, NamesBeyondTheCodePageRoundTrip) {
    TempDir dir;
    // Latin, Greek, Japanese and a character beyond the 16-bit range, in a folder and a file name.
    const std::string folderName =
        "\xC3\x9C"
        "ber \xCE\xB1\xCE\xB2";
    const std::string fileName = "\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x93\xA1.txt";
    const std::string folder = dir / folderName;
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
    const std::string path = folder + "/" + fileName;

    SaveCommandFile(path, "KUZ\r\n");
    EXPECT_EQ(LoadCommandFile(path, 1024), "KUZ\r\n");
    EXPECT_EQ(filetest::TempDir::EntriesOf(folder), std::set<std::string>{fileName});
    // Qt and the system see the same name.
    const QString text = FileNames::FromNative(path);
    EXPECT_TRUE(QFile::exists(text));
    EXPECT_TRUE(FileNames::ExistsAsNonFolder(text));
    EXPECT_FALSE(FileNames::ExistsAsNonFolder(FileNames::FromNative(folder)));
    EXPECT_EQ(FileNames::Native(text), path);

    // The settings file in such a folder, with such a name as a value.
    TIniFile ini(folder + "/zbeacon.ini");
    ini.WriteString("Files", "SaveAs", path);
    EXPECT_EQ(TIniFile(folder + "/zbeacon.ini").ReadString("Files", "SaveAs", ""), path);
}

TEST(WindowsFiles, AReadOnlyFileIsNeverWritten) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    const std::string old = "[Comm]\r\nPort=1\r\n";
    WriteBytes(path, old);
    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_FALSE(TextFile::MayWrite(path));
    EXPECT_FALSE(TextFile::ReplaceFile(path, "x"));
    EXPECT_EQ(errno, EACCES);
    EXPECT_THROW(SaveCommandFile(path, "x"), EFCreateError);
    TIniFile ini(path);
    EXPECT_THROW(ini.WriteInteger("Comm", "Port", 2), EIniFileException);
    EXPECT_THROW(ini.WriteInteger("Comm", "Port", 1), EIniFileException);  // even with the value unchanged
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", 0), 1);

    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"zbeacon.ini"});
    // A device is no file: neither read nor replaced.
    EXPECT_FALSE(TextFile::ReplaceFile("NUL", "x"));
    std::string bytes;
    EXPECT_EQ(TextFile::ReadRegularFile("NUL", bytes, 16, false), TextFile::ReadResult::Failed);
}
