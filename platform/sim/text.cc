// text.cc: text helpers of the simulated machine: case-blind comparison,
// UTF-8/UTF-16 and the 8-bit code pages.
#include <cstdio>

#include "platform/sim/machine_impl.h"
#include "platform/sim/text.h"

namespace plat::sim {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return lower(a) == lower(b);
}

bool icontains(std::string_view haystack, std::string_view needle) {
  return lower(haystack).find(lower(needle)) != std::string::npos;
}

std::string hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

bool json_uint(const nlohmann::json& j, std::uint64_t* out) {
  if (j.is_number_unsigned()) {
    *out = j.get<std::uint64_t>();
    return true;
  }
  if (j.is_number_integer()) {
    std::int64_t v = j.get<std::int64_t>();
    if (v < 0) return false;
    *out = static_cast<std::uint64_t>(v);
    return true;
  }
  if (!j.is_string()) return false;
  const std::string& s = j.get_ref<const std::string&>();
  if (s.empty()) return false;
  std::uint64_t v = 0;
  std::size_t i = 0;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    i = 2;
  }
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    std::uint64_t next = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (next / static_cast<std::uint64_t>(base) != v) return false;
    v = next;
  }
  *out = v;
  return true;
}

// ---------------------------------------------------------------------------
// UTF-8 and UTF-16.

bool utf8_to_utf16(std::string_view in, WString* out) {
  WString w;
  bool ok = true;
  std::size_t i = 0;
  while (i < in.size()) {
    auto b = static_cast<unsigned char>(in[i]);
    std::uint32_t cp;
    std::size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1Fu;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0Fu;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07u;
      len = 4;
    } else {
      ok = false;
      w.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (i + len > in.size()) {
      ok = false;
      w.push_back(u'\uFFFD');
      break;
    }
    bool bad = false;
    for (std::size_t k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(in[i + k]);
      if ((c & 0xC0) != 0x80) bad = true;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (bad || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      ok = false;
      w.push_back(u'\uFFFD');
      i += bad ? 1 : len;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      w.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      w.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      w.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  *out = std::move(w);
  return ok;
}

bool utf16_to_utf8(WStringView in, std::string* out) {
  std::string s;
  bool ok = true;
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      ok = false;
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      s.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      s.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      s.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      s.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      s.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  *out = std::move(s);
  return ok;
}

std::string narrow(WStringView w) {
  std::string s;
  utf16_to_utf8(w, &s);
  return s;
}

WString widen(std::string_view s) {
  WString w;
  utf8_to_utf16(s, &w);
  return w;
}

// ---------------------------------------------------------------------------
// Windows-1252: 0x80..0x9F map to these code points (0 for unassigned).

namespace {
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
}  // namespace

bool cp1252_to_utf16(std::string_view in, WString* out) {
  WString w;
  bool ok = true;
  for (char ch : in) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0) {
      char16_t c = kCp1252High[b - 0x80];
      if (c == 0) {
        ok = false;
        c = b;  // the host maps the unassigned bytes to the C1 controls
      }
      w.push_back(c);
    } else {
      w.push_back(static_cast<char16_t>(b));
    }
  }
  *out = std::move(w);
  return ok;
}

bool utf16_to_cp1252(WStringView in, std::string* out) {
  std::string s;
  bool ok = true;
  for (char16_t c : in) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      s.push_back(static_cast<char>(c));
      continue;
    }
    char b = '?';
    bool found = false;
    for (int k = 0; k < 32; ++k) {
      if (kCp1252High[k] == c && c != 0) {
        b = static_cast<char>(0x80 + k);
        found = true;
        break;
      }
    }
    if (!found) ok = false;
    s.push_back(b);
  }
  *out = std::move(s);
  return ok;
}

std::string to_ansi(std::uint32_t code_page, std::string_view utf8) {
  if (code_page == kCpUtf8) return std::string(utf8);
  WString w;
  utf8_to_utf16(utf8, &w);
  std::string s;
  utf16_to_cp1252(w, &s);
  return s;
}

std::string from_ansi(std::uint32_t code_page, std::string_view ansi) {
  if (code_page == kCpUtf8) return std::string(ansi);
  WString w;
  cp1252_to_utf16(ansi, &w);
  return narrow(w);
}

}  // namespace plat::sim
