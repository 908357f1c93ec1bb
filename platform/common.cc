// common.cc: the backend-independent parts of the seam: GUID texts, variant
// constructors, object path parsing, address texts, and the choice of the
// backend at start-up.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/platform.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

namespace plat {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads n hexadecimal digits of text at *pos into *value.
bool read_hex(std::string_view text, std::size_t* pos, int n, std::uint64_t* value) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) {
    if (*pos >= text.size()) return false;
    int d = hex_digit(text[*pos]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint64_t>(d);
    ++*pos;
  }
  *value = v;
  return true;
}

bool expect(std::string_view text, std::size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

Services* g_services = nullptr;

}  // namespace

bool parse_guid(std::string_view text, Guid* out) {
  bool braced = !text.empty() && text.front() == '{';
  if (braced) {
    if (text.size() != 38 || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  std::size_t pos = 0;
  std::uint64_t v = 0;
  Guid g;
  if (!read_hex(text, &pos, 8, &v)) return false;
  g.data1 = static_cast<std::uint32_t>(v);
  if (!expect(text, &pos, '-') || !read_hex(text, &pos, 4, &v)) return false;
  g.data2 = static_cast<std::uint16_t>(v);
  if (!expect(text, &pos, '-') || !read_hex(text, &pos, 4, &v)) return false;
  g.data3 = static_cast<std::uint16_t>(v);
  if (!expect(text, &pos, '-')) return false;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !expect(text, &pos, '-')) return false;
    if (!read_hex(text, &pos, 2, &v)) return false;
    g.data4[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
  }
  *out = g;
  return true;
}

std::string guid_text(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1,
                g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                g.data4[5], g.data4[6], g.data4[7]);
  return buf;
}

// ---------------------------------------------------------------------------
// Variants.

Variant Variant::null() {
  Variant v;
  v.vt = kVtNull;
  return v;
}
Variant Variant::ui1(std::uint8_t x) {
  Variant v;
  v.vt = kVtUi1;
  v.bits = x;
  return v;
}
Variant Variant::i2(std::int16_t x) {
  Variant v;
  v.vt = kVtI2;
  v.bits = static_cast<std::uint16_t>(x);
  return v;
}
Variant Variant::ui2(std::uint16_t x) {
  Variant v;
  v.vt = kVtUi2;
  v.bits = x;
  return v;
}
Variant Variant::i4(std::int32_t x) {
  Variant v;
  v.vt = kVtI4;
  v.bits = static_cast<std::uint32_t>(x);
  return v;
}
Variant Variant::ui4(std::uint32_t x) {
  Variant v;
  v.vt = kVtUi4;
  v.bits = x;
  return v;
}
Variant Variant::boolean(bool x) {
  Variant v;
  v.vt = kVtBool;
  v.bits = x ? 0xFFFFu : 0u;
  return v;
}
Variant Variant::bstr(WStringView x) {
  Variant v;
  v.vt = kVtBstr;
  v.text = WString(x);
  return v;
}
Variant Variant::byte_array(std::span<const std::uint8_t> x) {
  Variant v;
  v.vt = kVtArray | kVtUi1;
  v.has_array = true;
  v.bytes.assign(x.begin(), x.end());
  return v;
}

std::int64_t Variant::as_int() const {
  switch (vt) {
    case kVtI1: return static_cast<std::int8_t>(bits & 0xFF);
    case kVtI2: return static_cast<std::int16_t>(bits & 0xFFFF);
    case kVtBool: return static_cast<std::int16_t>(bits & 0xFFFF);
    case kVtI4: return static_cast<std::int32_t>(bits & 0xFFFFFFFFu);
    case kVtI8: return static_cast<std::int64_t>(bits);
    default: return static_cast<std::int64_t>(bits);
  }
}

// ---------------------------------------------------------------------------
// Object paths.

bool parse_wmi_path(WStringView path, WmiPath* out) {
  WmiPath p;
  std::size_t pos = 0;
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    std::size_t colon = path.find(u':');
    if (colon == WStringView::npos) return false;
    WStringView head = path.substr(2, colon - 2);
    std::size_t slash = head.find(u'\\');
    if (slash == WStringView::npos || slash == 0 || slash + 1 >= head.size()) return false;
    p.server = WString(head.substr(0, slash));
    p.ns = WString(head.substr(slash + 1));
    pos = colon + 1;
  } else {
    std::size_t colon = path.find(u':');
    std::size_t quote = path.find(u'"');
    if (colon != WStringView::npos && (quote == WStringView::npos || colon < quote)) {
      // "namespace:Class..." without a server.
      p.ns = WString(path.substr(0, colon));
      if (p.ns.empty()) return false;
      pos = colon + 1;
    }
  }
  WStringView rest = path.substr(pos);
  std::size_t dot = rest.find(u'.');
  WStringView cls = rest.substr(0, dot);
  if (cls.empty()) return false;
  for (char16_t c : cls) {
    bool ok = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
              c == u'_';
    if (!ok) return false;
  }
  p.class_name = WString(cls);
  if (dot != WStringView::npos) {
    WStringView key = rest.substr(dot + 1);
    std::size_t eq = key.find(u'=');
    if (eq == WStringView::npos || eq == 0) return false;
    p.key_name = WString(key.substr(0, eq));
    WStringView value = key.substr(eq + 1);
    if (value.size() < 2 || value[0] != u'"') return false;
    std::size_t i = 1;
    bool closed = false;
    while (i < value.size()) {
      char16_t c = value[i];
      if (c == u'\\') {
        if (i + 1 >= value.size()) return false;
        char16_t n = value[i + 1];
        if (n != u'\\' && n != u'"') return false;
        p.key_value.push_back(n);
        i += 2;
      } else if (c == u'"') {
        closed = true;
        ++i;
        break;
      } else {
        p.key_value.push_back(c);
        ++i;
      }
    }
    if (!closed || i != value.size()) return false;
  }
  *out = std::move(p);
  return true;
}

// ---------------------------------------------------------------------------
// Address texts.

std::string address_text(const SocketAddress& a) {
  char buf[64];
  if (a.family == kAfInet) {
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a.address[0], a.address[1], a.address[2],
                  a.address[3]);
    return buf;
  }
  if (a.family != kAfInet6) return "";
  // RFC 5952 form: the longest run (two or more) of zero groups becomes "::".
  std::uint16_t g[8];
  for (int i = 0; i < 8; ++i) {
    g[i] = static_cast<std::uint16_t>((a.address[static_cast<std::size_t>(2 * i)] << 8) |
                                      a.address[static_cast<std::size_t>(2 * i + 1)]);
  }
  int best = -1, best_len = 0;
  for (int i = 0; i < 8;) {
    if (g[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > best_len && j - i >= 2) {
      best = i;
      best_len = j - i;
    }
    i = j;
  }
  std::string s;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      s += "::";
      i += best_len - 1;
      continue;
    }
    if (!s.empty() && s.back() != ':') s += ':';
    std::snprintf(buf, sizeof buf, "%x", g[i]);
    s += buf;
  }
  return s;
}

// ---------------------------------------------------------------------------
// The backend.

Services* set_platform_services(Services* services) {
  Services* old = g_services;
  g_services = services;
  return old;
}

Services& platform_services() {
  if (g_services != nullptr) return *g_services;
#ifdef _WIN32
  // The Win32 backend registers itself here once it exists.
  std::fputs("vrexcup: no platform backend for this host\n", stderr);
  std::abort();
#else
  static std::unique_ptr<sim::Machine> machine = [] {
    std::string error;
    std::unique_ptr<sim::Machine> m;
    const char* path = std::getenv("VREX_SIM_MACHINE");
    if (path != nullptr && *path != '\0') {
      m = sim::Machine::from_file(path, &error);
      if (!m) {
        std::fprintf(stderr, "simulated machine %s: %s; using a machine without devices\n", path,
                     error.c_str());
        m = sim::Machine::from_json("{}", "", &error);
      }
    } else {
      m = sim::Machine::demo(&error);
      if (!m) {
        std::fprintf(stderr, "simulated demo machine: %s; using a machine without devices\n",
                     error.c_str());
        m = sim::Machine::from_json("{}", "", &error);
      }
    }
    return m;
  }();
  if (g_services == nullptr) g_services = &machine->services();
  return *g_services;
#endif
}

WString ansi_to_wide(std::string_view text) {
  Kernel& k = *platform_services().kernel;
  std::uint32_t n = 0;
  if (k.multibyte_to_wide(kCpAcp, 0, text, nullptr, 0, &n) != kErrorSuccess) return {};
  WString out(n, u'\0');
  if (n != 0 && k.multibyte_to_wide(kCpAcp, 0, text, out.data(), n, &n) != kErrorSuccess) return {};
  out.resize(n);
  return out;
}

std::string wide_to_ansi(WStringView text) {
  Kernel& k = *platform_services().kernel;
  std::uint32_t n = 0;
  if (k.wide_to_multibyte(kCpAcp, 0, text, nullptr, 0, &n) != kErrorSuccess) return {};
  std::string out(n, '\0');
  if (n != 0 && k.wide_to_multibyte(kCpAcp, 0, text, out.data(), n, &n) != kErrorSuccess) return {};
  out.resize(n);
  return out;
}

}  // namespace plat
