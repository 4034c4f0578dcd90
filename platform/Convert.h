#pragma once
// Conversion of text typed or stored by the operator into numbers.

#include <cstdint>
#include <string_view>

namespace Convert {

// Whole number in the signed 32-bit range: optional leading spaces or tabs, an optional sign, then
// decimal digits, or hexadecimal digits after "0x", "0X", "$", "x" or "X" (the sign may precede the
// prefix: "-0x10" is -16; hexadecimal is a magnitude, so "0x80000000" is out of range). Anything else
// (an empty text, trailing characters, a number out of range) fails and leaves `value` unchanged.
bool TryStrToInt(std::string_view text, int32_t& value);

}  // namespace Convert
