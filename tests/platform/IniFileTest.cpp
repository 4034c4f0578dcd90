#include "platform/Convert.h"
#include "platform/IniFile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <random>
#include <set>
#include <string>

#include "platform/Exception.h"
#include "support/FileTestSupport.h"

#ifndef _WIN32
using filetest::Inode;
using filetest::Mode;
#endif
using filetest::ReadBytes;
using filetest::TempDir;
using filetest::WriteBytes;
using Profile::GetPrivateProfileSection;
using Profile::GetPrivateProfileString;
using Profile::WritePrivateProfileString;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The keys the main window writes at close, in its order, with the values of an unchanged first run.
void WriteCloseKeys(TIniFile& ini, const std::string& saveAs) {
    ini.WriteInteger("Window", "Top", 156);
    ini.WriteInteger("Window", "Left", 213);
    ini.WriteInteger("Window", "Width", 606);
    ini.WriteInteger("Window", "Height", 589);
    ini.WriteInteger("Window", "Debug.Top", 240);
    ini.WriteInteger("Window", "Debug.Left", 469);
    ini.WriteInteger("Window", "Debug.Width", 711);
    ini.WriteInteger("Window", "Debug.Height", 500);
    ini.WriteString("Files", "SaveAs", saveAs);
    ini.WriteInteger("Comm", "Port", 0);
    ini.WriteInteger("Beacon", "MaxChar", 127);
    ini.WriteBool("Beacon", "Synchronized", false);
    ini.WriteBool("Window", "Debug", false);
    ini.WriteString("Beacon", "GPS", "100000000000100000000000");
}

// "K" and the number. (Built by appending: GCC 12 warns wrongly about "K" + std::to_string(n) at -O3.)
std::string KeyNumber(int n) {
    std::string key(1, 'K');
    key += std::to_string(n);
    return key;
}

std::string Lf(std::string crlf) {
    std::string out;
    for (char c : crlf) {
        if (c != '\r') out += c;
    }
    return out;
}

#ifndef _WIN32
std::string WriteError(const std::string& path) {
    TIniFile ini(path);
    try {
        ini.WriteString("Comm", "Port", "3");
    } catch (const EIniFileException& e) {
        return e.Message();
    }
    return "no error";
}
#endif

}  // namespace

// ---- Reading ----

TEST(IniRead, ValuesDefaultsAndEmptyValues) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "dflt", path), "dflt");  // no file

    WriteBytes(path,
               "[Comm]\r\n"
               "Port=3\r\n"
               "Empty=\r\n"
               "  Spaced  =   value with  inner  blanks \t\r\n"
               "Quoted=\" padded \"\r\n"
               "Single='x'\r\n"
               "Lonely=\"\r\n"
               "Path=C:\\x=y\r\n"
               "[Beacon]\r\n"
               "GPS=1111\r\n");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "0", path), "3");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Empty", "dflt", path), "");  // present but empty
    EXPECT_EQ(GetPrivateProfileString("Comm", "Missing", "dflt", path), "dflt");
    EXPECT_EQ(GetPrivateProfileString("Nowhere", "Port", "dflt", path), "dflt");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Spaced", "", path), "value with  inner  blanks");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Quoted", "", path), " padded ");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Single", "", path), "x");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Lonely", "", path), "\"");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Path", "", path), "C:\\x=y");  // the first '=' splits
    EXPECT_EQ(GetPrivateProfileString("Beacon", "GPS", "", path), "1111");
    EXPECT_EQ(GetPrivateProfileString("Comm", "GPS", "none", path), "none");  // keys belong to their section

    // Names match without regard to case, and blanks around the asked-for names do not matter.
    EXPECT_EQ(GetPrivateProfileString("COMM", "port", "", path), "3");
    EXPECT_EQ(GetPrivateProfileString("beacon", "gPs", "", path), "1111");
    EXPECT_EQ(GetPrivateProfileString(" Comm ", " Port", "", path), "3");

    // The same content with LF breaks reads the same.
    WriteBytes(path, Lf(ReadBytes(path)));
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "0", path), "3");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Empty", "dflt", path), "");
    EXPECT_EQ(GetPrivateProfileString("Beacon", "GPS", "", path), "1111");
}

TEST(IniRead, LinesThatAreNotKeys) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    WriteBytes(path,
               "\xEF\xBB\xBF"  // byte-order mark of an editor
               "Orphan=1\n"    // before any section: in none
               "[Window] ; placement, see [notes]\n"
               "; Top=1\n"
               "# Left=2\n"
               "   ; Width=3\n"
               "[not a header\n"
               "junk without equals\n"
               "=no name\n"
               "Height=4\n"
               "  [ Comm ]  \n"
               "Port=5\n");
    EXPECT_EQ(GetPrivateProfileString("Window", "Top", "d", path), "d");
    EXPECT_EQ(GetPrivateProfileString("Window", "Left", "d", path), "d");
    EXPECT_EQ(GetPrivateProfileString("Window", "Width", "d", path), "d");
    EXPECT_EQ(GetPrivateProfileString("Window", "Height", "d", path), "4");  // "[not a header" ends nothing
    EXPECT_EQ(GetPrivateProfileString("Window", "", "d", path), "d");
    EXPECT_EQ(GetPrivateProfileString("", "Orphan", "d", path), "d");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", path), "5");
    EXPECT_EQ(GetPrivateProfileSection("Window", path), (Pairs{{"Height", "4"}}));
}

TEST(IniRead, FirstOfDuplicatesWins) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    WriteBytes(path,
               "[Ports]\r\n"
               "3=/dev/ttyUSB0\r\n"
               "1=/dev/ttyS0\r\n"
               "3=/dev/ttyUSB9\r\n"
               "x=\"quoted\"\r\n"
               "[Window]\r\n"
               "Top=1\r\n"
               "top=2\r\n"
               "[window]\r\n"
               "Top=3\r\n"
               "Left=4\r\n"
               "[PORTS]\r\n"
               "7=/dev/ttyACM0\r\n");
    EXPECT_EQ(GetPrivateProfileString("Window", "Top", "", path), "1");
    // Only the first section of a name is searched.
    EXPECT_EQ(GetPrivateProfileString("Window", "Left", "none", path), "none");
    EXPECT_EQ(GetPrivateProfileSection("ports", path),
              (Pairs{{"3", "/dev/ttyUSB0"}, {"1", "/dev/ttyS0"}, {"x", "quoted"}}));
    EXPECT_EQ(GetPrivateProfileSection("Missing", path), Pairs{});
    EXPECT_EQ(GetPrivateProfileSection("Ports", dir / "nofile.ini"), Pairs{});

    // A write goes where a read looks: the first key of the first section.
    TIniFile ini(path);
    ini.WriteInteger("WINDOW", "TOP", 9);
    ini.WriteInteger("Window", "Left", 8);
    EXPECT_EQ(ini.ReadInteger("Window", "Top", 0), 9);
    EXPECT_EQ(ini.ReadInteger("Window", "Left", 0), 8);
    EXPECT_EQ(ReadBytes(path),
              "[Ports]\r\n"
              "3=/dev/ttyUSB0\r\n"
              "1=/dev/ttyS0\r\n"
              "3=/dev/ttyUSB9\r\n"
              "x=\"quoted\"\r\n"
              "[Window]\r\n"
              "Top=9\r\n"
              "top=2\r\n"
              "Left=8\r\n"
              "[window]\r\n"
              "Top=3\r\n"
              "Left=4\r\n"
              "[PORTS]\r\n"
              "7=/dev/ttyACM0\r\n");
}

TEST(IniRead, ValuesAreCutTo2047Characters) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    TIniFile ini(path);
    const std::string longest(2047, 'a');
    const std::string tooLong = std::string(2047, 'b') + "tail";
    ini.WriteString("Files", "Fits", longest);
    ini.WriteString("Files", "Cut", tooLong);
    EXPECT_EQ(ini.ReadString("Files", "Fits", ""), longest);
    EXPECT_EQ(ini.ReadString("Files", "Cut", ""), std::string(2047, 'b'));
    EXPECT_EQ(ini.ReadSectionValues("Files")[1].second, std::string(2047, 'b'));
    EXPECT_NE(ReadBytes(path).find(tooLong), std::string::npos);  // the file holds the whole value
    // A default is the caller's own text and comes back whole.
    EXPECT_EQ(ini.ReadString("Files", "Absent", tooLong), tooLong);
}

#ifndef _WIN32
TEST(IniRead, WhatIsNotARegularFileReadsAsAbsent) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    const std::string fifo = dir / "fifo.ini";
    EXPECT_EQ(
        filetest::WithoutBlocking(fifo, [&] { return GetPrivateProfileString("Comm", "Port", "d", fifo); }),
        "d");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", dir.Path()), "d");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", "/dev/zero"), "d");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", ""), "d");
}
#else
TEST(IniRead, WhatIsNotARegularFileReadsAsAbsent) {
    TempDir dir;
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", dir.Path()), "d");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", "NUL"), "d");
    EXPECT_EQ(GetPrivateProfileString("Comm", "Port", "d", ""), "d");
}
#endif

// ---- Numbers ----

TEST(IniNumbers, IntegerParsing) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"0", true, 0},
        {"12", true, 12},
        {" 12", true, 12},
        {"\t 12", true, 12},
        {"007", true, 7},
        {"-5", true, -5},
        {"+7", true, 7},
        {"0x3", true, 3},
        {"0X1f", true, 31},
        {"$1F", true, 31},
        {"x10", true, 16},
        {"X10", true, 16},
        {"-0x10", true, -16},
        {"+$10", true, 16},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"0x7FFFFFFF", true, INT32_MAX},
        {"-0x80000000", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"0x80000000", false, 0},
        {"-0x80000001", false, 0},
        {"$FFFFFFFF", false, 0},
        {"99999999999999999999999", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"abc", false, 0},
        {"12 ", false, 0},
        {"1 2", false, 0},
        {"12abc", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"0x", false, 0},
        {"$", false, 0},
        {"x", false, 0},
        {"+-1", false, 0},
        {"- 1", false, 0},
        {"0x1G", false, 0},
        {"0x-1", false, 0},
        {"1e3", false, 0},
        {"3.0", false, 0},
        {"$$1", false, 0},
        {"0xx1", false, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(Convert::TryStrToInt(c.text, value), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(value, c.ok ? c.value : 12345) << '"' << c.text << '"';
    }
    int32_t value = 0;
    EXPECT_TRUE(Convert::TryStrToInt(std::string(3000, '0') + "42", value));
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(Convert::TryStrToInt(std::string("1\0", 2), value));
}

TEST(IniNumbers, IntegersAndBooleansInTheFile) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    WriteBytes(path,
               "[Comm]\r\nPort=0x3\r\nHex = $10 \r\nBad=abc\r\nEmpty=\r\nTrailing=12 x\r\n"
               "[Beacon]\r\nSynchronized=5\r\nOff=0\r\nNeg=-1\r\nWord=yes\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", 0), 3);
    EXPECT_EQ(ini.ReadInteger("Comm", "Hex", 0), 16);  // the blanks around the value are not part of it
    EXPECT_EQ(ini.ReadInteger("Comm", "Bad", 0), 0);
    EXPECT_EQ(ini.ReadInteger("Comm", "Bad", -7), -7);
    EXPECT_EQ(ini.ReadInteger("Comm", "Empty", 99), 99);
    EXPECT_EQ(ini.ReadInteger("Comm", "Trailing", 99), 99);
    EXPECT_EQ(ini.ReadInteger("Comm", "Absent", 42), 42);
    EXPECT_TRUE(ini.ReadBool("Beacon", "Synchronized", false));
    EXPECT_FALSE(ini.ReadBool("Beacon", "Off", true));
    EXPECT_TRUE(ini.ReadBool("Beacon", "Neg", false));
    EXPECT_TRUE(ini.ReadBool("Beacon", "Word", true));  // not a number: the default
    EXPECT_FALSE(ini.ReadBool("Beacon", "Word", false));
    EXPECT_TRUE(ini.ReadBool("Beacon", "Absent", true));

    ini.WriteInteger("Comm", "Port", -5);
    ini.WriteInteger("Comm", "Hex", INT32_MIN);
    ini.WriteBool("Beacon", "Synchronized", true);
    ini.WriteBool("Beacon", "Off", false);
    EXPECT_EQ(ini.ReadString("Comm", "Port", ""), "-5");
    EXPECT_EQ(ini.ReadString("Comm", "Hex", ""), "-2147483648");
    EXPECT_EQ(ini.ReadInteger("Comm", "Hex", 0), INT32_MIN);
    EXPECT_EQ(ini.ReadString("Beacon", "Synchronized", ""), "1");
    EXPECT_EQ(ini.ReadString("Beacon", "Off", ""), "0");
    EXPECT_NE(ReadBytes(path).find("\r\nHex = -2147483648\r\n"), std::string::npos);
}

// ---- Writing ----

TEST(IniWrite, FileWrittenFromScratchHoldsKeysInTheOrderWritten) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    TIniFile ini(path);
    EXPECT_EQ(ini.FileName(), path);
    WriteCloseKeys(ini, "/opt/zb/default.txt");
    const std::string expected =
        "[Window]\r\n"
        "Top=156\r\n"
        "Left=213\r\n"
        "Width=606\r\n"
        "Height=589\r\n"
        "Debug.Top=240\r\n"
        "Debug.Left=469\r\n"
        "Debug.Width=711\r\n"
        "Debug.Height=500\r\n"
        "Debug=0\r\n"
        "\r\n"
        "[Files]\r\n"
        "SaveAs=/opt/zb/default.txt\r\n"
        "\r\n"
        "[Comm]\r\n"
        "Port=0\r\n"
        "\r\n"
        "[Beacon]\r\n"
        "MaxChar=127\r\n"
        "Synchronized=0\r\n"
        "GPS=100000000000100000000000\r\n";
    EXPECT_EQ(ReadBytes(path), expected);

    // The next close with the same values leaves the file as it is (and does not rewrite it).
#ifndef _WIN32
    const ino_t before = Inode(path);
#endif
    WriteCloseKeys(ini, "/opt/zb/default.txt");
    EXPECT_EQ(ReadBytes(path), expected);
#ifndef _WIN32
    EXPECT_EQ(Inode(path), before);
#endif
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"zbeacon.ini"});
}

TEST(IniWrite, ReplacingValuesKeepsEveryOtherLineByteForByte) {
    const std::string original =
        "; Zindle Beacon settings, edited by hand\r\n"
        "\r\n"
        "[Window]\r\n"
        "Top = 10\r\n"
        "left=20   \r\n"
        "Unknown=keep me\r\n"
        "Width=30\r\n"
        "Height=40\r\n"
        "# a comment inside\r\n"
        "\r\n"
        "\r\n"
        "[Ports]\r\n"
        "5=/dev/ttyUSB0\r\n"
        "6 = /dev/ttyACM0\r\n"
        "\r\n"
        "[Files]\r\n"
        "SaveAs=C:\\old.txt\r\n"
        "[Comm]\r\n"
        "Port=1";  // no break at the end
    const std::string expected =
        "; Zindle Beacon settings, edited by hand\r\n"
        "\r\n"
        "[Window]\r\n"
        "Top = 156\r\n"
        "left=213\r\n"
        "Unknown=keep me\r\n"
        "Width=606\r\n"
        "Height=589\r\n"
        "Debug.Top=240\r\n"
        "Debug.Left=469\r\n"
        "Debug.Width=711\r\n"
        "Debug.Height=500\r\n"
        "Debug=0\r\n"
        "# a comment inside\r\n"
        "\r\n"
        "\r\n"
        "[Ports]\r\n"
        "5=/dev/ttyUSB0\r\n"
        "6 = /dev/ttyACM0\r\n"
        "\r\n"
        "[Files]\r\n"
        "SaveAs=/home/op/beacon.txt\r\n"
        "[Comm]\r\n"
        "Port=0\r\n"
        "\r\n"
        "[Beacon]\r\n"
        "MaxChar=127\r\n"
        "Synchronized=0\r\n"
        "GPS=100000000000100000000000\r\n";

    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    WriteBytes(path, original);
    TIniFile ini(path);
    WriteCloseKeys(ini, "/home/op/beacon.txt");
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(ini.ReadSectionValues("Ports"), (Pairs{{"5", "/dev/ttyUSB0"}, {"6", "/dev/ttyACM0"}}));

    // An LF-only file stays LF-only.
    WriteBytes(path, Lf(original));
    WriteCloseKeys(ini, "/home/op/beacon.txt");
    EXPECT_EQ(ReadBytes(path), Lf(expected));
}

TEST(IniWrite, WhereNewKeysAndSectionsGo) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    // A section with no keys: the key follows its header. A header at the very end of the file.
    WriteBytes(path, "[A]\n; about A\n\n[B]");
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "1", path));
    ASSERT_TRUE(WritePrivateProfileString("B", "k", "2", path));
    EXPECT_EQ(ReadBytes(path), "[A]\nk=1\n; about A\n\n[B]\nk=2\n");

    // A file that ends in a blank line gets no second one before a new section.
    WriteBytes(path, "[A]\nk=1\n\n");
    ASSERT_TRUE(WritePrivateProfileString("C", "k", "3", path));
    EXPECT_EQ(ReadBytes(path), "[A]\nk=1\n\n[C]\nk=3\n");

    // A last line without a break gets one before the new line.
    WriteBytes(path, "[A]\nk=1");
    ASSERT_TRUE(WritePrivateProfileString("A", "j", "2", path));
    EXPECT_EQ(ReadBytes(path), "[A]\nk=1\nj=2\n");

    // Lines before the first section stay first; the style comes from the first line break.
    WriteBytes(path, "top line\r\nsecond\n");
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "", path));
    EXPECT_EQ(ReadBytes(path), "top line\r\nsecond\n\r\n[A]\r\nk=\r\n");
    EXPECT_EQ(GetPrivateProfileString("A", "k", "d", path), "");
}

TEST(IniWrite, ValuesReadBackExactlyAsWritten) {
    TempDir dir;
    TIniFile ini(dir / "zbeacon.ini");
    const std::string values[] = {"",           " lead",
                                  "trail ",     " both ",
                                  "\"quoted\"", "'single'",
                                  "\"",         "'",
                                  "a=b=c",      "; not a comment",
                                  "[Section]",  "tab\tinside",
                                  "\t",         "C:\\Program Files\\zb\\x.txt",
                                  "\"half",     "half'",
                                  "\"mixed'",   std::string("n\0ul", 4),
                                  "cr\ronly",   "\rcr at both ends\r"};
    int i = 0;
    for (const auto& value : values)
        ini.WriteString("Files", KeyNumber(i++), value);
    i = 0;
    for (const auto& value : values) {
        EXPECT_EQ(ini.ReadString("Files", KeyNumber(i++), "absent"), value) << '"' << value << '"';
    }
    // Ordinary values are stored as they are.
    EXPECT_NE(ReadBytes(dir / "zbeacon.ini").find("\r\nK13=C:\\Program Files\\zb\\x.txt\r\n"),
              std::string::npos);
}

TEST(IniWrite, RefusesWhatTheFormatCannotHold) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    WriteBytes(path, "[Files]\r\nSaveAs=a.txt\r\n");
    const std::string before = ReadBytes(path);
    struct Case {
        const char *section, *key, *value;
    } cases[] = {
        {"Files", "SaveAs", "a.txt\r\n[Comm]\r\nPort=7"},  // would smuggle in other keys
        {"Files", "SaveAs", "line\nbreak"},
        {"Fi\nles", "SaveAs", "x"},
        {"Fi]les", "SaveAs", "x"},
        {"Files", "", "x"},
        {"Files", "  ", "x"},
        {"Files", "a=b", "x"},
        {"Files", "[k", "x"},
        {"Files", ";k", "x"},
        {"Files", "#k", "x"},
    };
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_FALSE(WritePrivateProfileString(c.section, c.key, c.value, path)) << c.section << '/' << c.key;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(ReadBytes(path), before);
    TIniFile ini(path);
    EXPECT_THROW(ini.WriteString("Files", "SaveAs", "a\nb"), EIniFileException);
    EXPECT_EQ(ReadBytes(path), before);
}

#ifndef _WIN32
TEST(IniWrite, FailedWritesRaiseTheErrorAndKeepTheOldFile) {
    TempDir dir;
    // No such folder, or a regular file where the folder should be.
    EXPECT_EQ(WriteError(dir / "missing/zbeacon.ini"), "Unable to write to " + (dir / "missing/zbeacon.ini"));
    WriteBytes(dir / "plain", "x");
    EXPECT_EQ(WriteError(dir / "plain/zbeacon.ini"), "Unable to write to " + (dir / "plain/zbeacon.ini"));
    // A folder, or a FIFO, in the settings file's place is neither read nor replaced.
    ASSERT_EQ(::mkdir((dir / "folder.ini").c_str(), 0755), 0);
    EXPECT_EQ(WriteError(dir / "folder.ini"), "Unable to write to " + (dir / "folder.ini"));
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    const std::string fifo = dir / "fifo.ini";
    EXPECT_EQ(filetest::WithoutBlocking(fifo, [&] { return WriteError(fifo); }),
              "Unable to write to " + fifo);

    // The write fails part-way, as on a full disk: the old file stays whole and no new file is left.
    const std::string path = dir / "zbeacon.ini";
    const std::string old = "[Comm]\r\nPort=1\r\n; a long comment that makes the new file too big\r\n";
    WriteBytes(path, old);
    std::string message;
    {
        filetest::FileSizeLimit limit(32);
        ASSERT_TRUE(limit.Active());
        message = WriteError(path);
    }
    EXPECT_EQ(message, "Unable to write to " + path);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"zbeacon.ini", "plain", "folder.ini", "fifo.ini"}));
    // Reading never fails.
    EXPECT_EQ(TIniFile(dir / "missing/zbeacon.ini").ReadInteger("Comm", "Port", 4), 4);
}
#endif

#ifndef _WIN32
TEST(IniWrite, KeepsPermissionsAndFollowsSymlinks) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    {
        filetest::UmaskScope mask(027);
        TIniFile(path).WriteInteger("Comm", "Port", 1);
    }
    EXPECT_EQ(Mode(path), 0640u);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    TIniFile(path).WriteInteger("Comm", "Port", 2);
    EXPECT_EQ(Mode(path), 0604u);

    // Settings kept elsewhere and linked next to the program: the link stays, its target changes.
    ASSERT_EQ(::mkdir((dir / "store").c_str(), 0755), 0);
    WriteBytes(dir / "store/real.ini", "[Comm]\nPort=3\n");
    ASSERT_EQ(::symlink("store/real.ini", (dir / "link.ini").c_str()), 0);
    TIniFile linked(dir / "link.ini");
    EXPECT_EQ(linked.ReadInteger("Comm", "Port", 0), 3);
    linked.WriteInteger("Comm", "Port", 4);
    EXPECT_EQ(ReadBytes(dir / "store/real.ini"), "[Comm]\nPort=4\n");
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"zbeacon.ini", "store", "link.ini"}));
}
#endif

// ---- Garbage ----

TEST(IniGarbage, BinaryJunkNeitherCrashesNorIsLost) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    std::mt19937 random(1234);
    std::string junk;
    // Every byte value, NUL bytes inside names, brackets and '=' at random, a header that ends in NUL.
    for (int i = 0; i < 256; ++i)
        junk += static_cast<char>(i);
    junk += std::string("\n[Co\0mm]\nPo\0rt=1\n[Comm\0\n=\n[\n]\n[]\n[]=x\n", 38);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 20000; ++i) {
        const int b = byte(random);
        junk += b < 16 ? "\n[="[b % 3] : static_cast<char>(b);
    }
    junk += "\n[Comm]\nPort=7\n";
    WriteBytes(path, junk);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Co", "Po", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", 0), 7);
    (void)ini.ReadSectionValues("Comm");
    (void)ini.ReadSectionValues("");
    ini.WriteInteger("Comm", "Port", 8);
    ini.WriteString("Beacon", "GPS", "1");
    const std::string after = ReadBytes(path);
    EXPECT_EQ(after.substr(0, junk.size() - 2), junk.substr(0, junk.size() - 2));
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", 0), 8);
    EXPECT_EQ(ini.ReadString("Beacon", "GPS", ""), "1");
}

TEST(IniGarbage, HugeFilesAndLongLinesStayQuick) {
    TempDir dir;
    const std::string path = dir / "zbeacon.ini";
    // 10 MB of lines without '=', then the wanted section.
    std::string junk;
    junk.reserve(11u << 20);
    while (junk.size() < (10u << 20))
        junk += "junk line without an equals sign, just text\r\n";
    junk += "[Comm]\r\nPort=3\r\n";
    WriteBytes(path, junk);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", 0), 3);
    EXPECT_EQ(ini.ReadInteger("Window", "Top", 156), 156);

    // One 10 MB line, a 10 MB value, and a section of many thousand keys that are all the same.
    WriteBytes(path, "[Comm]\r\nPort=" + std::string(10u << 20, '9') +
                         "\r\nLong=" + std::string(1 << 20, 'v') + "\r\n" + std::string(10u << 20, '['));
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", -1), -1);
    EXPECT_EQ(ini.ReadString("Comm", "Long", "").size(), Profile::kMaxValueLength);
    std::string same = "[Ports]\n";
    for (int i = 0; i < 200000; ++i)
        same += "K=" + std::to_string(i) + "\n";
    WriteBytes(path, same);
    EXPECT_EQ(ini.ReadSectionValues("Ports"), (Pairs{{"K", "0"}}));
    ini.WriteString("Ports", "k", "x");
    EXPECT_EQ(ini.ReadString("Ports", "K", ""), "x");
    EXPECT_EQ(ReadBytes(path).size(), same.size());
}
