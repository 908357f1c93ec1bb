// xml_text.cc: code page 1252 to UTF-8, with XML character references.
#include "front_end/xml_text.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Code points of the bytes 0x80 to 0x9F in code page 1252; 0 marks the five
// bytes that the code page leaves undefined.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char32_t code_point(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) {
    char16_t mapped = kHighControls[byte - 0x80];
    return mapped != 0 ? mapped : kReplacement;
  }
  if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') return kReplacement;
  return byte;  // ASCII and 0xA0..0xFF (Latin-1 there) map to themselves
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string escape(std::string_view value, bool attribute) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    char32_t cp = code_point(static_cast<uint8_t>(c));
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      default:
        append_utf8(out, cp);
        break;
    }
  }
  return out;
}

}  // namespace

std::string xml_text(std::string_view value) { return escape(value, false); }

std::string xml_attribute(std::string_view value) { return escape(value, true); }
