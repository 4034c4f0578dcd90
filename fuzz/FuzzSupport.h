#pragma once
// Shared by the fuzz targets: a check that ends the run like a crash, and a private scratch folder.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken invariant aborts, so that the fuzzer (or the replay program) keeps the input that broke it.
#define FUZZ_CHECK(condition)                                         \
    do {                                                              \
        if (!(condition)) fuzz::Fail(__FILE__, __LINE__, #condition); \
    } while (0)

namespace fuzz {

[[noreturn]] void Fail(const char* file, int line, const char* condition);

// A folder of this process's own, on a memory file system when the machine has one, so that a million
// runs through files neither wait on a disk nor wear it. Removed when the process ends normally.
const std::string& ScratchDir();

// Writes `bytes` to `path` as a foreign program would: plainly, replacing what was there.
void WriteRaw(const std::string& path, std::string_view bytes);

// The whole content of `path`; empty when it cannot be read.
std::string ReadRaw(const std::string& path);

inline std::string_view AsText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
