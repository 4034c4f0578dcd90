#include "platform/TextFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

#include "platform/Exception.h"

std::string TextFile::TemporarySuffix() {
    thread_local std::mt19937_64 generator{
        (static_cast<uint64_t>(std::random_device{}()) << 32) ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()))};
    static const char digits[] = "0123456789abcdef";
    uint64_t value = generator();
    std::string suffix(12, '0');
    for (char& c : suffix) {
        c = digits[value & 0xF];
        value >>= 4;
    }
    return suffix;
}

std::string NormalizeLineBreaks(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 16 + 16);
    const std::size_t size = bytes.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            text += "\r\n";
            if (i + 1 < size && bytes[i + 1] == '\n') ++i;  // CR LF stays one break
        } else if (c == '\n') {
            text += "\r\n";  // an LF here never follows a CR: that pair was taken whole above
        } else {
            text += c;
        }
    }
    return text;
}

std::string LoadCommandFile(const std::string& path, std::size_t capacity) {
    std::string raw;
    switch (TextFile::ReadRegularFile(path, raw, capacity, true)) {
        case TextFile::ReadResult::Ok:
            break;
        case TextFile::ReadResult::TooLarge:
            // The conversion never shortens the text, so a file already larger than the capacity
            // cannot fit once converted.
            throw Exception("Text exceeds memo capacity");
        case TextFile::ReadResult::Missing:
        case TextFile::ReadResult::Failed:
            throw EFOpenError("Cannot open file " + path);
    }
    std::string text = NormalizeLineBreaks(raw);
    if (text.size() > capacity) throw Exception("Text exceeds memo capacity");
    return text;
}

void SaveCommandFile(const std::string& path, const std::string& bytes) {
    if (!TextFile::ReplaceFile(path, bytes)) throw EFCreateError("Cannot create file " + path);
}
