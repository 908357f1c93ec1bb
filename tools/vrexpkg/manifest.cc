// manifest.cc: manifest JSON to package description, and package bytes back
// to a manifest that rebuilds them.
#include "tools/vrexpkg/manifest.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>

namespace vrexpkg {

using pkgbuild::Bytes;

const pkgbuild::Signer* KeySource::get(std::string* error) {
  if (!tried_) {
    tried_ = true;
    signer_ = pkgbuild::Signer::load(path_, &error_);
  }
  if (signer_.valid()) return &signer_;
  if (error) *error = "signing key " + error_;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Hex and base64.

std::string to_hex(std::span<const uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool from_hex(std::string_view text, Bytes* out) {
  out->clear();
  int high = -1;
  for (char c : text) {
    if (is_space(c)) continue;
    int d = hex_digit(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      out->push_back(static_cast<uint8_t>(high * 16 + d));
      high = -1;
    }
  }
  return high < 0;
}

namespace {

bool from_base64(std::string_view text, Bytes* out) {
  out->clear();
  uint32_t acc = 0;
  int bits = 0;
  size_t padding = 0;
  for (char c : text) {
    if (is_space(c)) continue;
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') { ++padding; continue; }
    else return false;
    if (padding) return false;  // data after padding
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  return padding <= 2 && bits < 6 && acc == 0;
}

// ---------------------------------------------------------------------------
// Reading a manifest. Errors are thrown as ManifestError inside this file and
// turned into the false result of manifest_to_package.

struct ManifestError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) { throw ManifestError(where + ": " + what); }

struct Reader {
  std::string base_dir;
  KeySource* keys;
};

// Refuses keys other than the allowed ones ("comment" and "info" are always
// allowed and ignored), so that a misspelt field is an error, not a default.
void check_keys(const Json& object, const std::string& where, std::initializer_list<const char*> allowed) {
  if (!object.is_object()) fail(where, "must be an object");
  for (auto it = object.begin(); it != object.end(); ++it) {
    const std::string& key = it.key();
    if (key == "comment" || key == "info") continue;
    bool known = false;
    for (const char* a : allowed) known = known || key == a;
    if (!known) fail(where, "unknown field \"" + key + "\"");
  }
}

uint64_t parse_uint(const Json& value, const std::string& where, uint64_t max) {
  uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    fail(where, "must not be negative");
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    size_t start = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      start = 2;
      base = 16;
    }
    if (start >= text.size()) fail(where, "\"" + text + "\" is not a number");
    for (size_t i = start; i < text.size(); ++i) {
      int d = base == 16 ? hex_digit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
      if (d < 0) fail(where, "\"" + text + "\" is not a number");
      if (result > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
        fail(where, "\"" + text + "\" is too large");
      }
      result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
  } else {
    fail(where, "must be a number (or a string such as \"0x7A81\")");
  }
  if (result > max) fail(where, "must be at most " + std::to_string(max));
  return result;
}

template <typename T>
T get_uint(const Json& value, const std::string& where) {
  return static_cast<T>(parse_uint(value, where, std::numeric_limits<T>::max()));
}

template <typename T>
void opt_uint(const Json& object, const char* key, const std::string& where, T* out) {
  if (object.contains(key)) *out = get_uint<T>(object[key], where + "." + key);
}

template <typename T>
void opt_uint(const Json& object, const char* key, const std::string& where, std::optional<T>* out) {
  if (object.contains(key)) *out = get_uint<T>(object[key], where + "." + key);
}

bool get_bool(const Json& value, const std::string& where) {
  if (!value.is_boolean()) fail(where, "must be true or false");
  return value.get<bool>();
}

void opt_bool(const Json& object, const char* key, const std::string& where, bool* out) {
  if (object.contains(key)) *out = get_bool(object[key], where + "." + key);
}

std::string get_string(const Json& value, const std::string& where) {
  if (!value.is_string()) fail(where, "must be a string");
  return value.get<std::string>();
}

// A 32-bit magic: a number, or a text of exactly four characters ("PKG0").
uint32_t get_magic(const Json& value, const std::string& where) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() == 4 && !(text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))) {
      uint32_t m = 0;
      for (size_t i = 0; i < 4; ++i) m |= static_cast<uint32_t>(static_cast<uint8_t>(text[i])) << (8 * i);
      return m;
    }
  }
  return get_uint<uint32_t>(value, where);
}

Bytes parse_bytes(const Json& value, const std::string& where, Reader& reader);

template <size_t N>
std::array<uint8_t, N> fixed_bytes(const Json& value, const std::string& where, Reader& reader, bool pad) {
  Bytes bytes = parse_bytes(value, where, reader);
  if (bytes.size() > N || (!pad && bytes.size() != N)) {
    fail(where, "must be " + std::string(pad ? "at most " : "exactly ") + std::to_string(N) + " bytes");
  }
  std::array<uint8_t, N> out = {};
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

pkgbuild::Signature get_signature(const Json& value, const std::string& where) {
  std::string text = get_string(value, where);
  if (text == "signed") return pkgbuild::Signature::SIGNED;
  if (text == "corrupt") return pkgbuild::Signature::CORRUPT;
  if (text == "unsigned") return pkgbuild::Signature::UNSIGNED;
  fail(where, "must be \"signed\", \"corrupt\" or \"unsigned\"");
}

const pkgbuild::Signer& signer_for(Reader& reader, const std::string& where, pkgbuild::Signature kind) {
  static const pkgbuild::Signer none;
  if (kind == pkgbuild::Signature::UNSIGNED) return none;
  std::string error;
  const pkgbuild::Signer* signer = reader.keys ? reader.keys->get(&error) : nullptr;
  if (!signer) fail(where, error.empty() ? "no signing key" : error);
  return *signer;
}

pkgbuild::MarkerImage parse_marker(const Json& object, const std::string& where) {
  check_keys(object, where, {"generate", "length", "first_word", "last_word"});
  pkgbuild::MarkerImage m;
  opt_uint(object, "length", where, &m.length);
  opt_uint(object, "first_word", where, &m.first_word);
  opt_uint(object, "last_word", where, &m.last_word);
  if (m.length > (1u << 24)) fail(where + ".length", "must be at most 16 MiB");
  return m;
}

std::vector<pkgbuild::VpdKeyword> parse_keywords(const Json& list, const std::string& where, Reader& reader) {
  if (!list.is_array()) fail(where, "must be an array of keywords");
  std::vector<pkgbuild::VpdKeyword> out;
  for (size_t i = 0; i < list.size(); ++i) {
    std::string at = where + "[" + std::to_string(i) + "]";
    const Json& k = list[i];
    check_keys(k, at, {"name", "hex", "base64", "text", "file"});
    if (!k.contains("name")) fail(at, "needs a \"name\"");
    pkgbuild::VpdKeyword keyword;
    keyword.name = get_string(k["name"], at + ".name");
    if (keyword.name.size() != 2) fail(at + ".name", "must be two characters");
    Json data = k;
    data.erase("name");
    data.erase("comment");
    if (!data.empty()) keyword.data = parse_bytes(data, at, reader);
    if (keyword.data.size() > 255) fail(at, "keyword data must be at most 255 bytes");
    out.push_back(std::move(keyword));
  }
  return out;
}

Bytes generate(const Json& object, const std::string& where, Reader& reader) {
  std::string kind = get_string(object["generate"], where + ".generate");
  if (kind == "header_image") {
    check_keys(object, where, {"generate", "flags", "image_code", "format", "body", "body_length", "magic", "signature", "crc"});
    pkgbuild::HeaderImage h;
    opt_uint(object, "flags", where, &h.flags);
    opt_uint(object, "image_code", where, &h.image_code);
    opt_uint(object, "format", where, &h.format);
    if (object.contains("body")) h.body = parse_bytes(object["body"], where + ".body", reader);
    opt_uint(object, "body_length", where, &h.body_length);
    if (h.body_length > (1u << 24)) fail(where + ".body_length", "must be at most 16 MiB");
    if (object.contains("magic")) h.magic = fixed_bytes<4>(object["magic"], where + ".magic", reader, false);
    if (object.contains("signature")) h.signature = get_signature(object["signature"], where + ".signature");
    opt_uint(object, "crc", where, &h.crc);
    return pkgbuild::header_image(h, signer_for(reader, where, h.signature));
  }
  if (kind == "trailer_image") {
    check_keys(object, where, {"generate", "body", "body_length", "version_info", "trailer_type", "trailer_length",
                               "magic", "signature", "crc"});
    pkgbuild::TrailerImage t;
    if (object.contains("body")) t.body = parse_bytes(object["body"], where + ".body", reader);
    opt_uint(object, "body_length", where, &t.body_length);
    if (t.body_length > (1u << 24)) fail(where + ".body_length", "must be at most 16 MiB");
    if (object.contains("version_info")) {
      t.version_info = fixed_bytes<20>(object["version_info"], where + ".version_info", reader, true);
    }
    opt_uint(object, "trailer_type", where, &t.trailer_type);
    opt_uint(object, "trailer_length", where, &t.trailer_length);
    if (object.contains("magic")) t.magic = fixed_bytes<4>(object["magic"], where + ".magic", reader, false);
    if (object.contains("signature")) t.signature = get_signature(object["signature"], where + ".signature");
    opt_uint(object, "crc", where, &t.crc);
    return pkgbuild::trailer_image(t, signer_for(reader, where, t.signature));
  }
  if (kind == "marker_image") return pkgbuild::marker_image(parse_marker(object, where));
  if (kind == "marker_container") {
    check_keys(object, where, {"generate", "first_word", "count", "a", "b", "first", "second"});
    pkgbuild::MarkerContainer c;
    opt_uint(object, "first_word", where, &c.first_word);
    opt_uint(object, "count", where, &c.count);
    opt_uint(object, "a", where, &c.a);
    opt_uint(object, "b", where, &c.b);
    if (c.b && *c.b > c.a && *c.b - c.a > (1u << 24)) fail(where + ".b", "must be at most 16 MiB above a");
    if (object.contains("first")) c.first = parse_marker(object["first"], where + ".first");
    if (object.contains("second")) c.second = parse_marker(object["second"], where + ".second");
    return pkgbuild::marker_container(c);
  }
  if (kind == "vpd") {
    check_keys(object, where, {"generate", "lead", "identifier", "read_only", "read_only_keywords", "rv", "rv_reserved",
                               "rv_reserved_fill", "checksum_delta", "read_write", "read_write_keywords", "rw_length",
                               "end_tag", "trailing"});
    pkgbuild::VpdArea v;
    if (object.contains("lead")) v.lead = fixed_bytes<4>(object["lead"], where + ".lead", reader, false);
    if (object.contains("identifier")) {
      if (object["identifier"].is_null()) v.identifier.reset();
      else v.identifier = get_string(object["identifier"], where + ".identifier");
    }
    opt_bool(object, "read_only", where, &v.read_only);
    if (object.contains("read_only_keywords")) {
      v.read_only_keywords = parse_keywords(object["read_only_keywords"], where + ".read_only_keywords", reader);
    }
    opt_bool(object, "rv", where, &v.rv);
    opt_uint(object, "rv_reserved", where, &v.rv_reserved);
    if (v.rv_reserved > 254) fail(where + ".rv_reserved", "must be at most 254");
    opt_uint(object, "rv_reserved_fill", where, &v.rv_reserved_fill);
    opt_uint(object, "checksum_delta", where, &v.checksum_delta);
    opt_bool(object, "read_write", where, &v.read_write);
    if (object.contains("read_write_keywords")) {
      v.read_write_keywords = parse_keywords(object["read_write_keywords"], where + ".read_write_keywords", reader);
    }
    opt_uint(object, "rw_length", where, &v.rw_length);
    opt_bool(object, "end_tag", where, &v.end_tag);
    if (object.contains("trailing")) v.trailing = parse_bytes(object["trailing"], where + ".trailing", reader);
    return pkgbuild::vpd_area(v);
  }
  fail(where + ".generate",
       "unknown generator \"" + kind + "\" (header_image, trailer_image, marker_image, marker_container, vpd)");
}

Bytes read_file(const std::string& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(where, "cannot open " + path);
  Bytes out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) fail(where, "cannot read " + path);
  return out;
}

// A byte string: a hex text, or an object with one of "hex", "base64",
// "text", "file" or "generate".
Bytes parse_bytes(const Json& value, const std::string& where, Reader& reader) {
  Bytes out;
  if (value.is_string()) {
    if (!from_hex(value.get_ref<const std::string&>(), &out)) fail(where, "is not a hex byte string");
    return out;
  }
  if (!value.is_object()) fail(where, "must be a hex string or an object with hex, base64, text, file or generate");
  int forms = 0;
  for (const char* key : {"hex", "base64", "text", "file", "generate"}) forms += value.contains(key) ? 1 : 0;
  if (forms != 1) fail(where, "needs exactly one of hex, base64, text, file or generate");
  if (value.contains("generate")) return generate(value, where, reader);
  check_keys(value, where, {"hex", "base64", "text", "file"});
  if (value.contains("hex")) {
    if (!from_hex(get_string(value["hex"], where + ".hex"), &out)) fail(where + ".hex", "is not a hex byte string");
  } else if (value.contains("base64")) {
    if (!from_base64(get_string(value["base64"], where + ".base64"), &out)) fail(where + ".base64", "is not base64");
  } else if (value.contains("text")) {
    std::string text = get_string(value["text"], where + ".text");
    out.assign(text.begin(), text.end());
  } else {
    std::string path = get_string(value["file"], where + ".file");
    if (!path.empty() && std::filesystem::path(path).is_relative() && !reader.base_dir.empty()) {
      path = (std::filesystem::path(reader.base_dir) / path).string();
    }
    out = read_file(path, where + ".file");
  }
  return out;
}

// ---------------------------------------------------------------------------
// Properties.

enum class ValueKind { TEXT, U8, U16, U16_LIST, NONE };

struct TagInfo {
  uint8_t tag;
  const char* name;
  ValueKind kind;
};

constexpr TagInfo kTags[] = {
    {0, "end", ValueKind::NONE},
    {1, "description", ValueKind::TEXT},
    {2, "device_ids", ValueKind::U16_LIST},
    {3, "min_chip_rev", ValueKind::U8},
    {4, "max_chip_rev", ValueKind::U8},
    {6, "timestamp_old", ValueKind::TEXT},
    {8, "timestamp", ValueKind::TEXT},
    {9, "version", ValueKind::TEXT},
    {10, "subsys_vendor", ValueKind::U16},
    {11, "subsys_id", ValueKind::U16},
    {20, "requires", ValueKind::TEXT},
    {21, "tag21_byte", ValueKind::U8},
    {22, "tag22_text", ValueKind::TEXT},
};

const TagInfo* tag_info(uint8_t tag) {
  for (const TagInfo& t : kTags) {
    if (t.tag == tag) return &t;
  }
  return nullptr;
}

pkgbuild::Property parse_property(const Json& object, const std::string& where, Reader& reader) {
  check_keys(object, where, {"tag", "value", "hex", "base64", "text", "file", "length"});
  if (!object.contains("tag")) fail(where, "needs a \"tag\" (a number or a name such as \"version\")");
  pkgbuild::Property p;
  const Json& tag = object["tag"];
  const TagInfo* info = nullptr;
  if (tag.is_string() && !tag.get_ref<const std::string&>().empty() &&
      (tag.get_ref<const std::string&>()[0] < '0' || tag.get_ref<const std::string&>()[0] > '9')) {
    const std::string& name = tag.get_ref<const std::string&>();
    for (const TagInfo& t : kTags) {
      if (name == t.name) info = &t;
    }
    if (!info) fail(where + ".tag", "unknown tag name \"" + name + "\"");
    p.tag = info->tag;
  } else {
    p.tag = get_uint<uint8_t>(tag, where + ".tag");
    info = tag_info(p.tag);
  }

  int forms = 0;
  for (const char* key : {"value", "hex", "base64", "text", "file"}) forms += object.contains(key) ? 1 : 0;
  if (forms > 1) fail(where, "has more than one value");
  if (object.contains("value")) {
    const Json& v = object["value"];
    std::string at = where + ".value";
    switch (info ? info->kind : ValueKind::NONE) {
      case ValueKind::TEXT: {
        std::string text = get_string(v, at);
        p.value.assign(text.begin(), text.end());
        break;
      }
      case ValueKind::U8:
        p.value.push_back(get_uint<uint8_t>(v, at));
        break;
      case ValueKind::U16:
        pkgbuild::put_u16(p.value, 0, get_uint<uint16_t>(v, at));
        break;
      case ValueKind::U16_LIST:
        if (!v.is_array()) fail(at, "must be an array of 16-bit ids");
        for (size_t i = 0; i < v.size(); ++i) {
          pkgbuild::put_u16(p.value, p.value.size(), get_uint<uint16_t>(v[i], at + "[" + std::to_string(i) + "]"));
        }
        break;
      case ValueKind::NONE:
        fail(at, "tag " + std::to_string(p.tag) + " has no value form of its own; use hex, base64, text or file");
    }
  } else if (forms == 1) {
    Json data = object;
    data.erase("tag");
    data.erase("length");
    data.erase("comment");
    p.value = parse_bytes(data, where, reader);
  }
  if (p.value.size() > 0xFFFF) fail(where, "value must be at most 65535 bytes");
  opt_uint(object, "length", where, &p.length);
  return p;
}

// ---------------------------------------------------------------------------
// Entries and the whole manifest.

pkgbuild::Entry parse_entry(const Json& object, const std::string& where, Reader& reader) {
  check_keys(object, where, {"directive", "directive_block", "type", "ordinal", "extension", "attributes",
                             "item_length", "gap", "data", "data_offset", "data_length", "data_crc32",
                             "record_tail"});
  pkgbuild::Entry e;
  opt_uint(object, "directive", where, &e.directive);
  if (object.contains("directive_block")) {
    e.directive_rest = parse_bytes(object["directive_block"], where + ".directive_block", reader);
  }
  if (!object.contains("type")) fail(where, "needs a \"type\"");
  opt_uint(object, "type", where, &e.dir_type);
  opt_uint(object, "ordinal", where, &e.dir_ordinal);
  opt_uint(object, "extension", where, &e.dir_ext);
  opt_uint(object, "attributes", where, &e.dir_attr);
  opt_uint(object, "item_length", where, &e.dir_item_length);
  if (object.contains("gap")) e.gap = parse_bytes(object["gap"], where + ".gap", reader);
  if (object.contains("data")) e.data = parse_bytes(object["data"], where + ".data", reader);
  if (e.data.size() > std::numeric_limits<uint32_t>::max()) fail(where + ".data", "is larger than 4 GiB");
  opt_uint(object, "data_offset", where, &e.data_offset);
  opt_uint(object, "data_length", where, &e.data_length);
  opt_uint(object, "data_crc32", where, &e.data_crc32);
  if (object.contains("record_tail")) e.record_tail = parse_bytes(object["record_tail"], where + ".record_tail", reader);
  return e;
}

void parse_guid(const Json& value, const std::string& where, std::array<uint8_t, 16>* out) {
  // "8C8718F0-7DCB-4349-9800-A02F059ACA02", braces optional; stored with its
  // first three groups little-endian, as Windows lays a GUID out.
  std::string text = get_string(value, where);
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  Bytes groups;
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') fail(where, "is not a GUID like 8C8718F0-7DCB-4349-9800-A02F059ACA02");
      continue;
    }
    digits.push_back(text[i]);
  }
  if (text.size() != 36 || !from_hex(digits, &groups) || groups.size() != 16) {
    fail(where, "is not a GUID like 8C8718F0-7DCB-4349-9800-A02F059ACA02");
  }
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < 16; ++i) (*out)[i] = groups[static_cast<size_t>(order[i])];
}

std::string guid_text(const std::array<uint8_t, 16>& bytes) {
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out;
  static const char digits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    uint8_t b = bytes[static_cast<size_t>(order[i])];
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

pkgbuild::Wrapper parse_wrapper(const Json& object, const std::string& where, Reader& reader) {
  check_keys(object, where, {"guid", "version", "length", "body", "crc"});
  pkgbuild::Wrapper w;
  if (object.contains("guid")) parse_guid(object["guid"], where + ".guid", &w.guid);
  opt_uint(object, "version", where, &w.version);
  opt_uint(object, "length", where, &w.wrapper_length);
  if (object.contains("body")) w.body = parse_bytes(object["body"], where + ".body", reader);
  if (w.body.size() > 0xFFFF - 23) fail(where + ".body", "is too long for a 16-bit wrapper length");
  opt_uint(object, "crc", where, &w.crc);
  return w;
}

void parse_overrides(const Json& object, const std::string& where, pkgbuild::Overrides* o) {
  check_keys(object, where, {"magic", "trailer_length", "header_length", "manifest_magic", "table_offset",
                             "entry_count", "directive_size", "record_size", "package_crc"});
  if (object.contains("magic")) o->magic = get_magic(object["magic"], where + ".magic");
  if (object.contains("manifest_magic")) o->manifest_magic = get_magic(object["manifest_magic"], where + ".manifest_magic");
  opt_uint(object, "trailer_length", where, &o->trailer_length);
  opt_uint(object, "header_length", where, &o->header_length);
  opt_uint(object, "table_offset", where, &o->table_offset);
  opt_uint(object, "entry_count", where, &o->entry_count);
  opt_uint(object, "directive_size", where, &o->directive_size);
  opt_uint(object, "record_size", where, &o->record_size);
  opt_uint(object, "package_crc", where, &o->package_crc);
}

void parse_package(const Json& m, Reader& reader, pkgbuild::Package* p) {
  const std::string where = "manifest";
  if (m.contains("raw")) {
    check_keys(m, where, {"raw", "wrapper", "tail", "format"});
  } else {
    check_keys(m, where, {"format", "wrapper", "properties", "stream_tail", "manifest", "entries", "data_tail",
                          "trailer", "tail", "overrides"});
  }
  if (m.contains("format") && m["format"] != Json("vrexpkg-manifest-1")) {
    fail("format", "must be \"vrexpkg-manifest-1\"");
  }
  if (m.contains("wrapper")) p->wrapper = parse_wrapper(m["wrapper"], "wrapper", reader);
  if (m.contains("tail")) p->tail = parse_bytes(m["tail"], "tail", reader);
  if (m.contains("raw")) {
    p->raw = parse_bytes(m["raw"], "raw", reader);
    return;
  }
  if (m.contains("properties")) {
    const Json& list = m["properties"];
    if (!list.is_array()) fail("properties", "must be an array");
    for (size_t i = 0; i < list.size(); ++i) {
      p->properties.push_back(parse_property(list[i], "properties[" + std::to_string(i) + "]", reader));
    }
  }
  if (m.contains("stream_tail")) p->stream_tail = parse_bytes(m["stream_tail"], "stream_tail", reader);
  if (m.contains("manifest")) {
    const Json& mh = m["manifest"];
    check_keys(mh, "manifest", {"gap", "directive_size", "record_size"});
    if (mh.contains("gap")) p->manifest_gap = parse_bytes(mh["gap"], "manifest.gap", reader);
    opt_uint(mh, "directive_size", "manifest", &p->directive_size);
    opt_uint(mh, "record_size", "manifest", &p->record_size);
    if (p->directive_size > (1u << 24)) fail("manifest.directive_size", "must be at most 16 MiB to lay out");
    if (p->record_size > (1u << 24)) fail("manifest.record_size", "must be at most 16 MiB to lay out");
  }
  if (m.contains("entries")) {
    const Json& list = m["entries"];
    if (!list.is_array()) fail("entries", "must be an array");
    for (size_t i = 0; i < list.size(); ++i) {
      p->entries.push_back(parse_entry(list[i], "entries[" + std::to_string(i) + "]", reader));
    }
  }
  if (m.contains("data_tail")) p->data_tail = parse_bytes(m["data_tail"], "data_tail", reader);
  if (m.contains("trailer")) {
    const Json& t = m["trailer"];
    check_keys(t, "trailer", {"length", "bytes"});
    opt_uint(t, "length", "trailer", &p->trailer_length);
    if (p->trailer_length > (1u << 24)) fail("trailer.length", "must be at most 16 MiB to lay out");
    if (t.contains("bytes")) p->trailer_bytes = parse_bytes(t["bytes"], "trailer.bytes", reader);
  }
  if (m.contains("overrides")) parse_overrides(m["overrides"], "overrides", &p->overrides);
}

}  // namespace

bool manifest_to_package(const Json& manifest, const std::string& base_dir, KeySource* keys,
                         pkgbuild::Package* package, std::string* error) {
  Reader reader{base_dir, keys};
  pkgbuild::Package p;
  try {
    if (!manifest.is_object()) fail("manifest", "must be a JSON object");
    parse_package(manifest, reader, &p);
  } catch (const ManifestError& e) {
    if (error) *error = e.what();
    return false;
  } catch (const nlohmann::json::exception& e) {
    if (error) *error = e.what();
    return false;
  }
  *package = std::move(p);
  return true;
}

const char* property_tag_name(uint8_t tag) {
  const TagInfo* info = tag_info(tag);
  return info ? info->name : nullptr;
}

// ---------------------------------------------------------------------------
// Reading the shape of a package file.

namespace {

uint32_t u32_at(std::span<const uint8_t> b, size_t at) { return pkgbuild::get_u32(b, at); }

}  // namespace

FileShape file_shape(std::span<const uint8_t> file) {
  FileShape s;
  s.view = file;
  if (file.size() >= 36 && std::equal(pkgbuild::kWrapperGuid.begin(), pkgbuild::kWrapperGuid.end(), file.begin()) &&
      file[16] == 1) {
    s.wrapped = true;
    s.wrapper_length = pkgbuild::get_u16(file, 17);
    if (s.wrapper_length >= 23 && s.wrapper_length <= file.size()) {
      s.wrapper_sound = true;
      s.wrapper_crc = u32_at(file, s.wrapper_length - 4u);
      s.wrapper_crc_actual = pkgbuild::crc32(file.first(s.wrapper_length - 4u));
      s.view_offset = s.wrapper_length;
      s.view = file.subspan(s.wrapper_length);
    }
  }
  std::span<const uint8_t> v = s.view;
  const uint64_t n = v.size();
  if (n < 12) return s;
  s.has_header = true;
  s.magic = u32_at(v, 0);
  s.trailer_length = u32_at(v, 4);
  s.header_length = u32_at(v, 8);
  // The property records, as far as the stream and the file both go.
  const size_t stream_end = static_cast<size_t>(std::min<uint64_t>(s.header_length, n));
  size_t pos = 12;
  while (pos + 3 <= stream_end) {
    uint8_t tag = v[pos];
    uint16_t length = pkgbuild::get_u16(v, pos + 1);
    if (pos + 3 + length > stream_end) break;
    s.properties.push_back({pos, tag, v.subspan(pos + 3, length)});
    pos += 3 + size_t{length};
    if (tag == 0) break;
  }
  s.stream_tail = pos;
  s.stream_end = stream_end;

  if (s.header_length < 12 || s.trailer_length > n || s.header_length > n - s.trailer_length) return s;
  s.header_fits = true;
  const uint64_t e = n - s.trailer_length;
  s.covered_end = static_cast<size_t>(e);
  if (s.trailer_length >= 4) {
    s.package_crc = u32_at(v, static_cast<size_t>(n - 4));
    s.package_crc_actual = pkgbuild::crc32(v.first(s.covered_end));
  }

  const uint64_t hl = s.header_length;
  if (hl + 20 > e) return s;
  s.manifest_magic = u32_at(v, s.header_length);
  s.table_offset = u32_at(v, s.header_length + 4u);
  s.entry_count = u32_at(v, s.header_length + 8u);
  s.directive_size = u32_at(v, s.header_length + 12u);
  s.record_size = u32_at(v, s.header_length + 16u);
  const uint64_t stride = uint64_t{s.directive_size} + s.record_size;
  if (s.table_offset < 20 || hl + s.table_offset > e) return s;
  const uint64_t table = hl + s.table_offset;
  if (s.entry_count > 0 && (stride == 0 || s.entry_count > (e - table) / stride)) return s;
  s.structured = true;
  for (uint32_t i = 0; i < s.entry_count; ++i) {
    EntryRecord r;
    r.offset = static_cast<size_t>(table + i * stride);
    r.directive_block = v.subspan(r.offset, s.directive_size);
    r.record = v.subspan(r.offset + s.directive_size, s.record_size);
    uint8_t rec[24] = {};
    std::copy_n(r.record.begin(), std::min<size_t>(24, r.record.size()), rec);
    std::span<const uint8_t> rs(rec);
    r.directive = s.directive_size > 0 ? r.directive_block[0] : 0;
    r.dir_type = pkgbuild::get_u16(rs, 0);
    r.dir_ordinal = pkgbuild::get_u16(rs, 2);
    r.dir_ext = pkgbuild::get_u16(rs, 4);
    r.dir_attr = pkgbuild::get_u16(rs, 6);
    r.data_offset = u32_at(rs, 8);
    r.dir_item_length = u32_at(rs, 12);
    r.data_length = u32_at(rs, 16);
    r.data_crc32 = u32_at(rs, 20);
    r.data_in_range = r.data_offset <= e && r.data_length <= e - r.data_offset;
    s.entries.push_back(r);
  }
  return s;
}

// ---------------------------------------------------------------------------
// Writing a manifest from a file.

namespace {

std::string hex32(uint32_t value) {
  char text[16];
  static const char digits[] = "0123456789ABCDEF";
  text[0] = '0';
  text[1] = 'x';
  for (int i = 0; i < 8; ++i) text[2 + i] = digits[(value >> (28 - 4 * i)) & 15];
  return std::string(text, 10);
}

std::string hex16(uint16_t value) {
  std::string h = hex32(value);
  return "0x" + h.substr(6);
}

bool printable(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// The bytes without their trailing zeros (the builder pads with zeros).
std::span<const uint8_t> strip_zeros(std::span<const uint8_t> bytes) {
  size_t n = bytes.size();
  while (n > 0 && bytes[n - 1] == 0) --n;
  return bytes.first(n);
}

Json property_json(const PropertyRecord& r) {
  Json p = Json::object();
  const TagInfo* info = tag_info(r.tag);
  if (info) p["tag"] = info->name;
  else p["tag"] = r.tag;
  const ValueKind kind = info ? info->kind : ValueKind::NONE;
  if (kind == ValueKind::TEXT && printable(r.value)) {
    p["value"] = std::string(r.value.begin(), r.value.end());
  } else if (kind == ValueKind::U8 && r.value.size() == 1) {
    p["value"] = r.value[0];
  } else if (kind == ValueKind::U16 && r.value.size() == 2) {
    p["value"] = hex16(pkgbuild::get_u16(r.value, 0));
  } else if (kind == ValueKind::U16_LIST && r.value.size() % 2 == 0) {
    Json ids = Json::array();
    for (size_t i = 0; i < r.value.size(); i += 2) ids.push_back(hex16(pkgbuild::get_u16(r.value, i)));
    p["value"] = ids;
  } else if (!r.value.empty() || kind != ValueKind::NONE) {
    p["hex"] = to_hex(r.value);
  }
  return p;
}

}  // namespace

Json manifest_from_file(std::span<const uint8_t> file) {
  FileShape s = file_shape(file);
  Json m = Json::object();
  m["format"] = "vrexpkg-manifest-1";
  if (s.wrapped && s.wrapper_sound) {
    std::array<uint8_t, 16> guid;
    std::copy_n(file.begin(), 16, guid.begin());
    m["wrapper"] = {{"guid", guid_text(guid)},
                    {"version", file[16]},
                    {"length", s.wrapper_length},
                    {"body", to_hex(file.subspan(19, s.wrapper_length - 23u))},
                    {"crc", hex32(s.wrapper_crc)}};
  }
  std::span<const uint8_t> v = s.view;
  // Sizes beyond what a manifest lays out are kept by the raw form.
  const uint32_t kLayoutLimit = 1u << 24;
  if (!s.structured || s.trailer_length > kLayoutLimit ||
      (s.entry_count > 0 && (s.directive_size > kLayoutLimit || s.record_size > kLayoutLimit))) {
    m["raw"] = to_hex(v);
    return m;
  }

  Json props = Json::array();
  for (const PropertyRecord& r : s.properties) props.push_back(property_json(r));
  m["properties"] = props;
  m["stream_tail"] = to_hex(v.subspan(s.stream_tail, s.header_length - s.stream_tail));
  // The sizes lay the table out; without entries the written values (under
  // "overrides") are all that matters.
  const bool laid_out = s.entry_count > 0;
  m["manifest"] = {{"gap", to_hex(v.subspan(s.header_length + 20u, s.table_offset - 20u))},
                   {"directive_size", laid_out ? s.directive_size : 64u},
                   {"record_size", laid_out ? s.record_size : 24u}};

  const uint64_t stride = uint64_t{s.directive_size} + s.record_size;
  size_t cursor = static_cast<size_t>(uint64_t{s.header_length} + s.table_offset + stride * s.entry_count);
  Json entries = Json::array();
  for (const EntryRecord& r : s.entries) {
    Json e = Json::object();
    e["directive"] = r.directive;
    if (r.directive_block.size() > 1) e["directive_block"] = to_hex(strip_zeros(r.directive_block.subspan(1)));
    e["type"] = r.dir_type;
    e["ordinal"] = r.dir_ordinal;
    e["extension"] = r.dir_ext;
    e["attributes"] = hex16(r.dir_attr);
    e["item_length"] = r.dir_item_length;
    // Data that follows what was placed so far is placed again; anything
    // else (shared, overlapping, out of range) is described by the record only.
    if (r.data_length > 0 && r.data_offset >= cursor && r.data_in_range) {
      e["gap"] = to_hex(v.subspan(cursor, r.data_offset - cursor));
      e["data"] = to_hex(v.subspan(r.data_offset, r.data_length));
      cursor = r.data_offset + size_t{r.data_length};
    }
    e["data_offset"] = r.data_offset;
    e["data_length"] = r.data_length;
    e["data_crc32"] = hex32(r.data_crc32);
    if (r.record.size() > 24) e["record_tail"] = to_hex(strip_zeros(r.record.subspan(24)));
    entries.push_back(e);
  }
  m["entries"] = entries;
  m["data_tail"] = to_hex(v.subspan(cursor, s.covered_end - cursor));
  std::span<const uint8_t> trailer = v.subspan(s.covered_end);
  if (s.trailer_length >= 4) trailer = trailer.first(trailer.size() - 4);
  m["trailer"] = {{"length", s.trailer_length}, {"bytes", to_hex(strip_zeros(trailer))}};
  Json o = Json::object();
  o["magic"] = hex32(s.magic);
  o["trailer_length"] = s.trailer_length;
  o["header_length"] = s.header_length;
  o["manifest_magic"] = hex32(s.manifest_magic);
  o["table_offset"] = s.table_offset;
  o["entry_count"] = s.entry_count;
  o["directive_size"] = s.directive_size;
  o["record_size"] = s.record_size;
  if (s.trailer_length >= 4) o["package_crc"] = hex32(s.package_crc);
  m["overrides"] = o;
  return m;
}

}  // namespace vrexpkg
