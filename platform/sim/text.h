// text.h: conversions between UTF-8 (the machine's own texts), UTF-16 and
// the 8-bit code pages the machine offers (1252 and UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat::sim {

// Each returns false when the input held something invalid (replaced by
// U+FFFD or '?').
bool utf8_to_utf16(std::string_view in, WString* out);
bool utf16_to_utf8(WStringView in, std::string* out);
bool cp1252_to_utf16(std::string_view in, WString* out);
bool utf16_to_cp1252(WStringView in, std::string* out);

// The machine's text in code page (1252 or 65001) and back.
std::string to_ansi(std::uint32_t code_page, std::string_view utf8);
std::string from_ansi(std::uint32_t code_page, std::string_view ansi);

}  // namespace plat::sim
