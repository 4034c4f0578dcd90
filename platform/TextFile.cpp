#include "platform/TextFile.h"

#include "platform/Exception.h"

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
