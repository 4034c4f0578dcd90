// The fuzz targets without libFuzzer: runs every input of the given corpus folders (or files), then a
// fixed number of inputs made from them by random mutation, all from a fixed seed so that a run can be
// repeated exactly. Takes the same options as a libFuzzer program for what it does: -runs=N, -seed=N,
// -dict=FILE, -max_len=N, -timeout=SECONDS. An input that breaks a check, crashes or runs past the
// time-out is written to crash-<hash> (or timeout-<hash>) in the working folder before the program ends.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

using Bytes = std::string;

// The input being run, for the handlers that save it when the run dies.
const Bytes* gCurrent = nullptr;

// Saves the current input under a name made from its content; only async-signal-safe calls.
void SaveCurrent(const char* kind) {
    if (gCurrent == nullptr) return;
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : *gCurrent)
        hash = (hash ^ c) * 1099511628211ULL;
    char name[64];
    size_t n = 0;
    for (const char* k = kind; *k != '\0' && n < 32; ++k)
        name[n++] = *k;
    name[n++] = '-';
    for (int shift = 60; shift >= 0; shift -= 4)
        name[n++] = "0123456789abcdef"[(hash >> shift) & 0xF];
    name[n] = '\0';
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t ignored = ::write(fd, gCurrent->data(), gCurrent->size());
        (void)ignored;
        ::close(fd);
    }
    static const char note[] = "\nfuzz replay: the failing input was saved as ";
    (void)!::write(STDERR_FILENO, note, sizeof note - 1);
    (void)!::write(STDERR_FILENO, name, n);
    (void)!::write(STDERR_FILENO, "\n", 1);
}

void OnDeath() {
    SaveCurrent("crash");
}

void OnSignal(int signal) {
    SaveCurrent(signal == SIGALRM ? "timeout" : "crash");
    gCurrent = nullptr;  // the sanitizer's own handler may come back here
    ::signal(signal, SIG_DFL);
    if (signal == SIGALRM) ::_exit(70);
    ::raise(signal);
}

// One token of a dictionary line: name="value", with \\, \" and \xNN escapes.
bool ParseDictLine(const std::string& line, Bytes& token) {
    const auto open = line.find('"');
    const auto close = line.rfind('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) return false;
    token.clear();
    for (size_t i = open + 1; i < close; ++i) {
        if (line[i] != '\\' || i + 1 >= close) {
            token += line[i];
        } else if (line[i + 1] == 'x' && i + 3 < close) {
            token += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            token += line[++i];
        }
    }
    return true;
}

class Mutator {
public:
    Mutator(uint32_t seed, std::vector<Bytes> dict, size_t maxLen)
        : random_(seed), dict_(std::move(dict)), maxLen_(maxLen) {}

    Bytes Mutate(const std::vector<Bytes>& corpus) {
        Bytes input = corpus.empty() ? Bytes() : corpus[Below(corpus.size())];
        const size_t steps = 1 + Below(5);
        for (size_t i = 0; i < steps; ++i)
            Step(input, corpus);
        if (input.size() > maxLen_) input.resize(maxLen_);
        return input;
    }

private:
    size_t Below(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    char AnyByte() {
        // Bytes the readers treat specially come up more often than the rest.
        static const char special[] = {'\0', '\r', '\n', '=', '[', ']', ' ', '\t', '"', '*', 'Z', '\xff'};
        return Below(3) == 0 ? special[Below(sizeof special)] : static_cast<char>(Below(256));
    }

    void Step(Bytes& input, const std::vector<Bytes>& corpus) {
        const size_t at = Below(input.size() + 1);
        switch (Below(8)) {
            case 0:  // flip a bit
                if (!input.empty()) input[Below(input.size())] ^= static_cast<char>(1 << Below(8));
                break;
            case 1:  // change a byte
                if (!input.empty()) input[Below(input.size())] = AnyByte();
                break;
            case 2:  // insert bytes
                input.insert(at, 1 + Below(4), AnyByte());
                break;
            case 3:  // erase a stretch
                input.erase(at, 1 + Below(16));
                break;
            case 4:  // repeat a stretch
                input.insert(at, input.substr(Below(input.size() + 1), 1 + Below(32)));
                break;
            case 5:  // insert or lay over a dictionary token
            case 6:
                if (!dict_.empty()) {
                    const Bytes& token = dict_[Below(dict_.size())];
                    if (Below(2) == 0) {
                        input.insert(at, token);
                    } else {
                        input.replace(at, token.size(), token);
                    }
                }
                break;
            default:  // splice with another input
                if (!corpus.empty()) {
                    const Bytes& other = corpus[Below(corpus.size())];
                    input = input.substr(0, at) + other.substr(Below(other.size() + 1));
                }
                break;
        }
    }

    std::mt19937 random_;
    std::vector<Bytes> dict_;
    size_t maxLen_;
};

void Run(const Bytes& input, unsigned timeout) {
    gCurrent = &input;
    ::alarm(timeout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    ::alarm(0);
    gCurrent = nullptr;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t runs = 0;
    uint32_t seed = 1;
    size_t maxLen = 4096;
    unsigned timeout = 20;
    std::vector<Bytes> dict;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto option = [&](const char* name) {
            return arg.rfind(name, 0) == 0 ? arg.substr(std::strlen(name)) : std::string();
        };
        if (!option("-runs=").empty()) {
            runs = std::stoul(option("-runs="));
        } else if (!option("-seed=").empty()) {
            seed = static_cast<uint32_t>(std::stoul(option("-seed=")));
        } else if (!option("-max_len=").empty()) {
            maxLen = std::stoul(option("-max_len="));
        } else if (!option("-timeout=").empty()) {
            timeout = static_cast<unsigned>(std::stoul(option("-timeout=")));
        } else if (!option("-dict=").empty()) {
            std::ifstream in(option("-dict="));
            if (!in) {
                std::fprintf(stderr, "fuzz replay: cannot read the dictionary %s\n",
                             option("-dict=").c_str());
                return 2;
            }
            Bytes token;
            for (std::string line; std::getline(in, line);) {
                if (ParseDictLine(line, token)) dict.push_back(token);
            }
        } else if (arg.rfind('-', 0) == 0) {
            std::fprintf(stderr, "fuzz replay: unknown option %s\n", arg.c_str());
            return 2;
        } else if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());  // a fixed order, so the mutations repeat exactly

    // Under a sanitizer its own report comes first and then calls back; its handlers for the fault
    // signals stay in place. Without one, the fault signals come here too.
    if (__sanitizer_set_death_callback) {
        __sanitizer_set_death_callback(OnDeath);
        for (int signal : {SIGABRT, SIGALRM})
            ::signal(signal, OnSignal);
    } else {
        for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGALRM})
            ::signal(signal, OnSignal);
    }

    std::vector<Bytes> corpus;
    for (const auto& file : files) {
        corpus.push_back(ReadFile(file));
        Run(corpus.back(), timeout);
    }
    Mutator mutator(seed, std::move(dict), maxLen);
    for (size_t i = 0; i < runs; ++i)
        Run(mutator.Mutate(corpus), timeout);
    std::printf("fuzz replay: %zu corpus inputs and %zu mutated inputs passed\n", corpus.size(), runs);
    return 0;
}
