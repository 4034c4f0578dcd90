// The number parser of the dialogs and the settings file against the rules it follows, written out a
// second way: any bytes either parse to the same number in both or fail in both.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Convert.h"

namespace {

// Leading spaces or tabs, an optional sign, an optional hexadecimal prefix, then at least one digit of
// the base and nothing else; the value signed 32-bit (the magnitude may reach 2^31 only when negative).
std::optional<int64_t> Reference(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    bool negative = false;
    if (text.front() == '-' || text.front() == '+') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (text.substr(0, prefix.size()) == prefix) {
            base = 16;
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        const bool digit =
            (c >= '0' && c <= '9') || (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) return std::nullopt;
    }
    uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error == std::errc::result_out_of_range) return std::nullopt;  // far beyond 32 bits
    FUZZ_CHECK(error == std::errc() && end == text.data() + text.size());
    if (magnitude > (negative ? 2147483648ULL : 2147483647ULL)) return std::nullopt;
    return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::AsText(data, size);
    constexpr int32_t kUntouched = 0x5A5A5A5A;
    int32_t value = kUntouched;
    const bool ok = Convert::TryStrToInt(text, value);
    const std::optional<int64_t> expected = Reference(text);
    FUZZ_CHECK(ok == expected.has_value());
    if (!ok) {
        FUZZ_CHECK(value == kUntouched);  // a failure leaves the caller's value alone
        return 0;
    }
    FUZZ_CHECK(value == *expected);
    // What the program writes back (decimal) reads as the same number.
    int32_t again = ~value;
    FUZZ_CHECK(Convert::TryStrToInt(std::to_string(value), again) && again == value);
    return 0;
}
