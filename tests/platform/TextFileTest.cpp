#include "platform/TextFile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <set>
#include <string>

#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "support/FileTestSupport.h"
#ifndef _WIN32
#include "support/OrdinaryUser.h"
#endif

#ifndef _WIN32
using filetest::Mode;
#endif
using filetest::ReadBytes;
using filetest::TempDir;
using filetest::WriteBytes;

namespace {

constexpr std::size_t kCapacity = 1024 * 1024;

// A device that reads as empty: no command file.
#ifdef _WIN32
const std::string kNullDevice = "NUL";
#else
const std::string kNullDevice = "/dev/null";
#endif

// Runs `action` and expects it to throw an exception of type E with exactly `message`.
template <typename E, typename F>
void ExpectError(F&& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no error raised; expected \"" << message << "\"";
    } catch (const E& e) {
        EXPECT_EQ(e.Message(), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong error type: " << e.what();
    }
}

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

}  // namespace

TEST(NormalizeLineBreaks, EveryLoneCrOrLfBecomesCrLf) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"PSDvvvSQSZ", "PSDvvvSQSZ"},
        {"a\rb", "a\r\nb"},                        // CR alone
        {"a\nb", "a\r\nb"},                        // LF alone
        {"a\r\nb", "a\r\nb"},                      // CR LF stays one break
        {"a\n\rb", "a\r\n\r\nb"},                  // LF CR is two breaks
        {"a\n\r\nb", "a\r\n\r\nb"},                // LF, then CR LF
        {"\r\r", "\r\n\r\n"},                      // two lone CRs
        {"\n\n", "\r\n\r\n"},                      // two lone LFs
        {"\nabc\r", "\r\nabc\r\n"},                // breaks at both ends
        {"\r\nabc\r\n", "\r\nabc\r\n"},            // CR LF at both ends
        {"x\r\n\n\r\r\ny", "x\r\n\r\n\r\n\r\ny"},  // mixed
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeLineBreaks(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(CommandFile, LoadConvertsBreaksAndKeepsEveryOtherByte) {
    TempDir dir;
    const std::string path = dir / "cmd.txt";
    const std::string bytes = AllByteValues();
    WriteBytes(path, bytes);
    EXPECT_EQ(LoadCommandFile(path, kCapacity), NormalizeLineBreaks(bytes));

    // Text in the form the memo gives it (CR LF breaks, no break at the end) comes back byte for byte.
    std::string memo;
    for (int i = 0; i < 256; ++i) {
        if (i != '\r' && i != '\n') memo += static_cast<char>(i);
    }
    memo += "\r\nsecond line\r\n\r\nlast";
    SaveCommandFile(path, memo);
    EXPECT_EQ(ReadBytes(path), memo);
    EXPECT_EQ(LoadCommandFile(path, kCapacity), memo);

    // An LF-only file loads as CR LF lines; the next save stores CR LF.
    WriteBytes(path, "PSD\nvvv\n");
    const std::string loaded = LoadCommandFile(path, kCapacity);
    EXPECT_EQ(loaded, "PSD\r\nvvv\r\n");
    SaveCommandFile(path, loaded);
    EXPECT_EQ(ReadBytes(path), "PSD\r\nvvv\r\n");

    WriteBytes(path, "");
    EXPECT_EQ(LoadCommandFile(path, kCapacity), "");
}

TEST(CommandFile, LoadRefusesWhatCannotBeReadAsAFile) {
    TempDir dir;
    const std::string missing = dir / "missing.txt";
    ExpectError<EFOpenError>([&] { LoadCommandFile(missing, kCapacity); }, "Cannot open file " + missing);
    const std::string inMissingFolder = dir / "nofolder/cmd.txt";
    ExpectError<EFOpenError>([&] { LoadCommandFile(inMissingFolder, kCapacity); },
                             "Cannot open file " + inMissingFolder);
    ExpectError<EFOpenError>([&] { LoadCommandFile(dir.Path(), kCapacity); },
                             "Cannot open file " + dir.Path());
    ExpectError<EFOpenError>([&] { LoadCommandFile(kNullDevice, kCapacity); },
                             "Cannot open file " + kNullDevice);
    ExpectError<EFOpenError>([&] { LoadCommandFile("", kCapacity); }, "Cannot open file ");
}

#ifndef _WIN32
TEST(CommandFile, LoadOfAFifoDoesNotBlock) {
    TempDir dir;
    const std::string fifo = dir / "pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string outcome = filetest::WithoutBlocking(fifo, [&] {
        try {
            LoadCommandFile(fifo, kCapacity);
            return std::string("no error");
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
    });
    EXPECT_EQ(outcome, "Cannot open file " + fifo);
}
#endif

TEST(CommandFile, LoadRefusesTextBeyondTheCapacity) {
    TempDir dir;
    const std::string path = dir / "big.txt";
    WriteBytes(path, std::string(100, 'A'));
    EXPECT_EQ(LoadCommandFile(path, 100).size(), 100u);
    ExpectError<Exception>([&] { LoadCommandFile(path, 99); }, "Text exceeds memo capacity");

    // The limit applies to the converted text: 50 lone LFs become 100 bytes.
    WriteBytes(path, std::string(50, '\n'));
    std::string fifty;
    for (int i = 0; i < 50; ++i)
        fifty += "\r\n";
    EXPECT_EQ(LoadCommandFile(path, 100), fifty);
    ExpectError<Exception>([&] { LoadCommandFile(path, 99); }, "Text exceeds memo capacity");

    // A large file is refused without trouble.
    WriteBytes(path, std::string(3 * kCapacity, 'x'));
    ExpectError<Exception>([&] { LoadCommandFile(path, kCapacity); }, "Text exceeds memo capacity");
}

#ifndef _WIN32
TEST(CommandFile, LoadWaitsOnlyBrieflyForAWritersLock) {
    TempDir dir;
    const std::string path = dir / "locked.txt";
    WriteBytes(path, "ABC");
    const int writer = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    // A writer that keeps its exclusive lock makes the file unreadable rather than hanging the reader.
    ExpectError<EFOpenError>([&] { LoadCommandFile(path, kCapacity); }, "Cannot open file " + path);
    // Once the writer is done the file reads normally; readers do not exclude one another.
    ASSERT_EQ(::flock(writer, LOCK_SH), 0);
    EXPECT_EQ(LoadCommandFile(path, kCapacity), "ABC");
    ::close(writer);
}
#endif

#ifndef _WIN32
TEST(CommandFile, SaveReplacesTheFileAndKeepsItsPermissions) {
    TempDir dir;
    const std::string path = dir / "cmd.txt";
    {
        filetest::UmaskScope mask(022);
        SaveCommandFile(path, "new");
    }
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(Mode(path), 0644u);
    {
        filetest::UmaskScope mask(0);
        SaveCommandFile(dir / "open.txt", "x");
    }
    EXPECT_EQ(Mode(dir / "open.txt"), 0666u);

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    SaveCommandFile(path, "PSDvvvSQSZ");
    EXPECT_EQ(ReadBytes(path), "PSDvvvSQSZ");
    EXPECT_EQ(Mode(path), 0640u);

    // A shorter text leaves nothing of the longer one behind; an empty memo gives an empty file.
    SaveCommandFile(path, "");
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"cmd.txt", "open.txt"}));
}
#endif

#ifndef _WIN32
TEST(CommandFile, SaveThroughASymlinkReplacesItsTarget) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    const std::string target = dir / "real/cmd.txt";
    WriteBytes(target, "old");
    ASSERT_EQ(::symlink("real/cmd.txt", (dir / "link.txt").c_str()), 0);               // relative link
    ASSERT_EQ(::symlink((dir / "link.txt").c_str(), (dir / "link2.txt").c_str()), 0);  // a chain

    SaveCommandFile(dir / "link2.txt", "new");
    EXPECT_EQ(ReadBytes(target), "new");
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat((dir / "link2.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A dangling link gets its target created.
    ASSERT_EQ(::symlink("real/fresh.txt", (dir / "dangling.txt").c_str()), 0);
    SaveCommandFile(dir / "dangling.txt", "fresh");
    EXPECT_EQ(ReadBytes(dir / "real/fresh.txt"), "fresh");

    // A loop of links is an error, not a hang.
    ASSERT_EQ(::symlink("loop2", (dir / "loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (dir / "loop2").c_str()), 0);
    ExpectError<EFCreateError>([&] { SaveCommandFile(dir / "loop1", "x"); },
                               "Cannot create file " + (dir / "loop1"));
}
#endif

TEST(CommandFile, FailedSaveKeepsTheOldFileWhole) {
    TempDir dir;
    // No such folder, or a "folder" that is a regular file.
    const std::string noFolder = dir / "nofolder/cmd.txt";
    ExpectError<EFCreateError>([&] { SaveCommandFile(noFolder, "x"); }, "Cannot create file " + noFolder);
    WriteBytes(dir / "plain", "plain");
    const std::string underFile = dir / "plain/cmd.txt";
    ExpectError<EFCreateError>([&] { SaveCommandFile(underFile, "x"); }, "Cannot create file " + underFile);
    // A folder in the file's place is never replaced.
    ASSERT_TRUE(std::filesystem::create_directory(filetest::SystemPath(dir / "sub")));
    ExpectError<EFCreateError>([&] { SaveCommandFile(dir / "sub", "x"); },
                               "Cannot create file " + (dir / "sub"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
    ExpectError<EFCreateError>([&] { SaveCommandFile("", "x"); }, "Cannot create file ");

#ifndef _WIN32
    // The write itself fails part-way (as on a full disk): the old program stays, no new file is left.
    const std::string path = dir / "cmd.txt";
    const std::string old = "the operator's program, which must survive";
    WriteBytes(path, old);
    std::string message;
    {
        filetest::FileSizeLimit limit(16);
        ASSERT_TRUE(limit.Active());
        try {
            SaveCommandFile(path, std::string(4096, 'N'));
        } catch (const EFCreateError& e) {
            message = e.Message();
        }
    }
    EXPECT_EQ(message, "Cannot create file " + path);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"cmd.txt", "plain", "sub"}));
#else
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"plain", "sub"}));
#endif
}

#ifndef _WIN32
TEST(ReadRegularFile, ReadsFilesWhoseSizeIsNotKnownInAdvance) {
    // Virtual files report a size of 0 but have content.
    std::string bytes;
    ASSERT_EQ(TextFile::ReadRegularFile("/proc/self/status", bytes, 1 << 20, false),
              TextFile::ReadResult::Ok);
    EXPECT_NE(bytes.find("Name:"), std::string::npos);
    EXPECT_EQ(TextFile::ReadRegularFile("/proc/self/status", bytes, 10, false),
              TextFile::ReadResult::TooLarge);
}
#endif

#ifndef _WIN32
// As an ordinary user: a file the user may not write is never replaced, whatever its folder allows,
// and a replacement keeps what a write in place keeps (inode where it must, owner, mode, hard links).
TEST(CommandFile, SavesAsAnOrdinaryUserRespectPermissionsAndKeepWhatAWriteInPlaceKeeps) {
    OrdinaryUser user;
    if (!user.Unavailable().empty()) GTEST_SKIP() << user.Unavailable();
    TempDir dir;
    const auto own = [&](const std::string& path, mode_t mode) {
        ASSERT_EQ(::chown(path.c_str(), user.Uid(), user.Gid()), 0) << path;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
    };
    const auto file = [&](const std::string& name, const std::string& bytes, mode_t mode) {
        WriteBytes(dir / name, bytes);
        own(dir / name, mode);
        return dir / name;
    };
    own(dir.Path(), 0755);
    // Protected by the operator, in a folder the user may write.
    const std::string readOnly = file("protected.txt", "PSDkeep me", 0444);
    const std::string ini = file("zbeacon.ini", "[Beacon]\r\nMaxChar=127\r\n", 0444);
    // Writable, in a folder the user may not write.
    ASSERT_EQ(::mkdir((dir / "shut").c_str(), 0755), 0);
    const std::string inShut = file("shut/cmd.txt", "old text, longer than the new one", 0640);
    // Two names for one file.
    const std::string linked = file("linked.txt", "old", 0644);
    ASSERT_EQ(::link(linked.c_str(), (dir / "other-name.txt").c_str()), 0);
    // Another user's file that the user may write through its group.
    const std::string shared = dir / "shared.txt";
    WriteBytes(shared, "old");
    if (user.FromRoot()) {
        ASSERT_EQ(::chown(shared.c_str(), 0, user.Gid()), 0);
        ASSERT_EQ(::chmod(shared.c_str(), 0664), 0);
    }
    const ino_t readOnlyInode = filetest::Inode(readOnly), inShutInode = filetest::Inode(inShut);
    ASSERT_EQ(::chmod((dir / "shut").c_str(), 0555), 0);  // shut for its owner too

    const bool ran = user.Run([&] {
        ExpectError<EFCreateError>([&] { SaveCommandFile(readOnly, ""); }, "Cannot create file " + readOnly);
        TIniFile settings(ini);
        ExpectError<EIniFileException>([&] { settings.WriteInteger("Beacon", "MaxChar", 99); },
                                       "Unable to write to " + ini);
        // Writing the value already stored is refused all the same.
        ExpectError<EIniFileException>([&] { settings.WriteInteger("Beacon", "MaxChar", 127); },
                                       "Unable to write to " + ini);
        EXPECT_NO_THROW(SaveCommandFile(inShut, "PSDnew"));
        EXPECT_NO_THROW(SaveCommandFile(linked, "new"));
        EXPECT_NO_THROW(SaveCommandFile(shared, "new"));
    });
    ::chmod((dir / "shut").c_str(), 0755);
    if (!ran) GTEST_SKIP() << user.Unavailable();

    EXPECT_EQ(ReadBytes(readOnly), "PSDkeep me");
    EXPECT_EQ(Mode(readOnly), 0444u);
    EXPECT_EQ(filetest::Inode(readOnly), readOnlyInode);
    EXPECT_EQ(ReadBytes(ini), "[Beacon]\r\nMaxChar=127\r\n");
    EXPECT_EQ(ReadBytes(inShut), "PSDnew");
    EXPECT_EQ(filetest::Inode(inShut), inShutInode);
    EXPECT_EQ(Mode(inShut), 0640u);
    EXPECT_EQ(ReadBytes(dir / "other-name.txt"), "new");
    EXPECT_EQ(ReadBytes(shared), "new");
    struct stat st {};
    ASSERT_EQ(::stat(shared.c_str(), &st), 0);
    if (user.FromRoot()) {
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(Mode(shared), 0664u);
    }
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"protected.txt", "zbeacon.ini", "shut", "linked.txt",
                                                    "other-name.txt", "shared.txt"}));
    EXPECT_EQ(filetest::TempDir::EntriesOf(dir / "shut"), std::set<std::string>{"cmd.txt"});
}
#endif
