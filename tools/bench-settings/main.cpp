// Measures the settings file layer and the command file layer.
//
// The start-up reads about 15 keys, each of which reads the whole settings file afresh; a damaged or
// hostile settings file of 10 MB must still read in well under 100 ms per key. This program times the
// start-up reads on an ordinary file and on 10 MB files of junk, the close's 14 writes, and loading a
// command file of 1 MiB.
//
// Usage: bench-settings [folder]   (default: the system's temporary folder)

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"

namespace {

struct Figures {
    double median = 0, worst = 0;
};

// Runs `action` `rounds` times and returns the median and the slowest time in milliseconds.
Figures Measure(int rounds, const std::function<void()>& action) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const int64_t start = Clock::MonotonicNs();
        action();
        times.push_back(static_cast<double>(Clock::MonotonicNs() - start) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The reads of the program's start-up: ten while the main window is created, four when it is shown.
int StartupReads(const TIniFile& ini) {
    int sum = 0;
    sum += ini.ReadInteger("Window", "Top", 156);
    sum += ini.ReadInteger("Window", "Left", 213);
    sum += ini.ReadInteger("Window", "Width", 606);
    sum += ini.ReadInteger("Window", "Height", 589);
    sum += static_cast<int>(ini.ReadString("Files", "SaveAs", "default.txt").size());
    sum += ini.ReadInteger("Comm", "Port", 0);
    sum += ini.ReadInteger("Beacon", "MaxChar", 127);
    sum += ini.ReadBool("Beacon", "Synchronized", false);
    sum += static_cast<int>(ini.ReadString("Beacon", "GPS", "100000000000100000000000").size());
    sum += ini.ReadBool("Window", "Debug", false);
    sum += ini.ReadInteger("Window", "Debug.Top", 240);
    sum += ini.ReadInteger("Window", "Debug.Left", 469);
    sum += ini.ReadInteger("Window", "Debug.Width", 711);
    sum += ini.ReadInteger("Window", "Debug.Height", 500);
    sum += static_cast<int>(ini.ReadSectionValues("Ports").size());
    return sum;
}
constexpr int kStartupReads = 15;

void CloseWrites(TIniFile& ini, int top) {
    ini.WriteInteger("Window", "Top", top);
    ini.WriteInteger("Window", "Left", 213);
    ini.WriteInteger("Window", "Width", 606);
    ini.WriteInteger("Window", "Height", 589);
    ini.WriteInteger("Window", "Debug.Top", 240);
    ini.WriteInteger("Window", "Debug.Left", 469);
    ini.WriteInteger("Window", "Debug.Width", 711);
    ini.WriteInteger("Window", "Debug.Height", 500);
    ini.WriteString("Files", "SaveAs", "/opt/zb/default.txt");
    ini.WriteInteger("Comm", "Port", top);
    ini.WriteInteger("Beacon", "MaxChar", 127);
    ini.WriteBool("Beacon", "Synchronized", false);
    ini.WriteBool("Window", "Debug", false);
    ini.WriteString("Beacon", "GPS", "100000000000100000000000");
}

void Report(const char* what, const Figures& f, int perRound) {
    std::printf("%-58s median %8.2f ms  worst %8.2f ms  (%.3f ms per call)\n", what, f.median, f.worst,
                f.median / perRound);
}

#ifdef _WIN32
// A fresh folder under `base` (the file layer's UTF-8 path), or empty when none could be made.
std::string MakeFolder(const std::string& base) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = base + "/zbbench." + std::to_string(random());
        const std::u8string name(folder.begin(), folder.end());
        std::error_code error;
        if (std::filesystem::create_directory(std::filesystem::path(name), error)) return folder;
        if (error) break;
    }
    return {};
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    std::string base;
    if (argc > 1) {
        base = argv[1];
    } else {
        const std::u8string temp = std::filesystem::temp_directory_path().u8string();
        base.assign(temp.begin(), temp.end());
    }
    const std::string folder = MakeFolder(base);
    if (folder.empty()) {
        std::fprintf(stderr, "cannot create a folder in %s\n", base.c_str());
        return 1;
    }
#else
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 1 ? argv[1] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    std::string folder = base + "/zbbench.XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
#endif
    const std::string ini = folder + "/zbeacon.ini";
    constexpr std::size_t kTenMb = 10u << 20;
    volatile int sink = 0;

    // An ordinary settings file.
    {
        TIniFile file(ini);
        CloseWrites(file, 156);
        Report("15 start-up reads, ordinary file", Measure(50, [&] { sink = sink + StartupReads(file); }),
               kStartupReads);
    }

    // 10 MB of text lines without '=', the settings at the very end.
    {
        std::string junk;
        junk.reserve(kTenMb + 1024);
        while (junk.size() < kTenMb)
            junk += "junk line without an equals sign, just some text\r\n";
        WriteFile(ini, junk);
        TIniFile file(ini);
        CloseWrites(file, 156);
        Report("15 start-up reads, 10 MB of junk lines before the keys",
               Measure(5, [&] { sink = sink + StartupReads(file); }), kStartupReads);
        Report("2 x 14 close writes, 2 keys changed each, same 10 MB file",
               Measure(3,
                       [&] {
                           CloseWrites(file, 100);
                           CloseWrites(file, 156);
                       }),
               28);
    }

    // 10 MB of random bytes (NUL, brackets, '=' and line breaks among them), settings at the end.
    {
        std::mt19937 random(42);
        std::uniform_int_distribution<int> byte(0, 255);
        std::string junk(kTenMb, '\0');
        for (char& c : junk)
            c = static_cast<char>(byte(random));
        WriteFile(ini, junk);
        TIniFile file(ini);
        CloseWrites(file, 156);
        Report("15 start-up reads, 10 MB of random bytes before the keys",
               Measure(5, [&] { sink = sink + StartupReads(file); }), kStartupReads);
    }

    // One 10 MB line.
    {
        WriteFile(ini, "[Window]\r\nTop=" + std::string(kTenMb, '7') + "\r\n");
        TIniFile file(ini);
        Report("15 start-up reads, one 10 MB line", Measure(5, [&] { sink = sink + StartupReads(file); }),
               kStartupReads);
    }

    // The close on a fresh file: every write changes the file (each is a full replace with fsync).
    {
        Report("14 close writes, file created afresh",
               Measure(5,
                       [&] {
                           std::filesystem::remove(ini);
                           TIniFile file(ini);
                           CloseWrites(file, 156);
                       }),
               14);
    }

    // Command files of 1 MiB.
    {
        const std::string cmd = folder + "/cmd.txt";
        std::string text;
        while (text.size() < (1u << 20) - 64)
            text += "PSDvvvSQSZ\n";
        WriteFile(cmd, text);
        std::size_t size = 0;
        Report("load a command file of 1 MiB with LF breaks",
               Measure(20, [&] { size += LoadCommandFile(cmd, 2u << 20).size(); }), 1);
        const std::string memo = LoadCommandFile(cmd, 2u << 20);
        Report("save a command file of 1 MiB", Measure(10, [&] { SaveCommandFile(cmd, memo); }), 1);
        sink = sink + static_cast<int>(size);
    }

    std::filesystem::remove_all(folder);
    return sink == -1 ? 1 : 0;
}
