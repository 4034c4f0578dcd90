// Command files: whatever a file holds loads with every line break made CR LF, saves byte for byte,
// and loads again to the same text.
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Exception.h"
#include "platform/TextFile.h"

namespace {

// The line-break rule written out a second way: CR LF pairs become one LF, remaining CRs become LFs,
// and every LF then becomes CR LF.
std::string Reference(std::string_view bytes) {
    auto replaceAll = [](std::string text, std::string_view from, std::string_view to) {
        std::string out;
        size_t at = 0;
        for (size_t found; (found = text.find(from, at)) != std::string::npos; at = found + from.size()) {
            out.append(text, at, found - at);
            out += to;
        }
        out.append(text, at);
        return out;
    };
    std::string text(bytes);
    text = replaceAll(std::move(text), "\r\n", "\n");
    text = replaceAll(std::move(text), "\r", "\n");
    return replaceAll(std::move(text), "\n", "\r\n");
}

bool Refused(const std::string& path, size_t capacity) {
    try {
        LoadCommandFile(path, capacity);
    } catch (const Exception& e) {
        FUZZ_CHECK(e.Message() == "Text exceeds memo capacity");
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    const std::string path = fuzz::ScratchDir() + "/command.txt";
    constexpr size_t kCapacity = 1 << 20;

    fuzz::WriteRaw(path, bytes);
    const std::string text = LoadCommandFile(path, kCapacity);
    FUZZ_CHECK(text == Reference(bytes));
    // The capacity counts the converted text.
    FUZZ_CHECK(!Refused(path, text.size()));
    if (!text.empty()) FUZZ_CHECK(Refused(path, text.size() - 1));

    SaveCommandFile(path, text);
    FUZZ_CHECK(fuzz::ReadRaw(path) == text);
    FUZZ_CHECK(LoadCommandFile(path, kCapacity) == text);

    // A save writes the text as it stands, whatever its line breaks.
    SaveCommandFile(path, std::string(bytes));
    FUZZ_CHECK(fuzz::ReadRaw(path) == bytes);
    return 0;
}
