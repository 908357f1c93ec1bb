// inspect.cc: readable and JSON descriptions of a package file.
#include "tools/vrexpkg/inspect.h"

#include <cinttypes>

#include "package/package.h"

namespace vrexpkg {

namespace {

bool in(uint16_t type, std::initializer_list<uint16_t> types) {
  for (uint16_t t : types) {
    if (t == type) return true;
  }
  return false;
}

bool is_header_type(uint16_t t) { return in(t, {3, 4, 10, 11, 12, 13, 14, 15, 16, 17, 18, 58, 66}); }
bool is_trailer_type(uint16_t t) { return in(t, {6, 7, 8, 9, 19, 21, 22, 27}); }
bool is_marker_type(uint16_t t) { return in(t, {61, 62, 63, 78, 79, 88, 105, 108}); }

struct Verdict {
  int32_t read_status = 0;     // package_read
  int32_t status = 0;          // package_read's failure, else package_validate's result
  int32_t index = -1;
};

Verdict verdict_of(const std::string& path) {
  Verdict v;
  PackageBuffer buffer;
  v.read_status = package_read(path.c_str(), &buffer);
  v.status = v.read_status;
  if (v.read_status == TSYRETVAL_SUCCESS) v.status = package_validate(buffer.view(), &v.index);
  return v;
}

// The check an entry's data gets, as package_validate would run it, as text.
std::string entry_check(const FileShape& s, const EntryRecord& r) {
  if (r.data_length == 0) return "no data";
  if (!r.data_in_range) return "data out of range";
  if (r.directive == DIRECTIVE_UNCHECKED) return "not checked (directive 4)";
  return status_name(item_validate(s.view.subspan(r.data_offset, r.data_length), r.dir_type, r.dir_attr,
                                   r.data_crc32));
}

std::string magic_text(uint32_t magic) {
  char text[16];
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((magic >> (8 * i)) & 0xFF);
    printable = printable && c >= 0x20 && c < 0x7F;
    text[i] = c;
  }
  if (printable) return "\"" + std::string(text, 4) + "\"";
  std::snprintf(text, sizeof text, "0x%08" PRIX32, magic);
  return text;
}

std::string quoted(std::span<const uint8_t> bytes) {
  std::string out = "\"";
  for (uint8_t c : bytes) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  return out + "\"";
}

std::string property_value_text(uint8_t tag, std::span<const uint8_t> value) {
  char buf[32];
  switch (tag) {
    case 2: {
      std::string out;
      for (size_t i = 0; i + 1 < value.size(); i += 2) {
        std::snprintf(buf, sizeof buf, "%s0x%04X", out.empty() ? "" : ", ", pkgbuild::get_u16(value, i));
        out += buf;
      }
      if (value.size() % 2) out += (out.empty() ? "" : ", ") + std::string("odd byte ") + to_hex(value.last(1));
      return out.empty() ? "(none)" : out;
    }
    case 3:
    case 4:
    case 21:
      if (value.size() == 1) {
        std::snprintf(buf, sizeof buf, "0x%02X", value[0]);
        return buf;
      }
      break;
    case 10:
    case 11:
      if (value.size() == 2) {
        std::snprintf(buf, sizeof buf, "0x%04X", pkgbuild::get_u16(value, 0));
        return buf;
      }
      break;
    case 1:
    case 6:
    case 8:
    case 9:
    case 20:
    case 22:
      return quoted(value);
    default:
      break;
  }
  return value.empty() ? "(empty)" : to_hex(value);
}

}  // namespace

const char* entry_kind(uint16_t dir_type) {
  if (is_header_type(dir_type)) return "header image";
  if (is_trailer_type(dir_type)) return "trailer image";
  if (is_marker_type(dir_type)) return "marker";
  if (dir_type == 5) return "VPD";
  return "plain";
}

void inspect_text(const std::string& path, std::span<const uint8_t> file, std::FILE* out) {
  const FileShape s = file_shape(file);
  std::fprintf(out, "file:       %s (%zu bytes)\n", path.c_str(), file.size());
  if (s.wrapped) {
    if (s.wrapper_sound) {
      std::fprintf(out, "wrapper:    version %u, length %u, CRC 0x%08" PRIX32 " (%s)\n", file[16], s.wrapper_length,
                   s.wrapper_crc, s.wrapper_crc == s.wrapper_crc_actual ? "correct" : "wrong");
    } else {
      std::fprintf(out, "wrapper:    length %u does not fit the file\n", s.wrapper_length);
    }
  }
  if (!s.has_header) {
    std::fprintf(out, "header:     missing (package shorter than 12 bytes)\n");
  } else {
    std::fprintf(out, "header:     magic %s, trailer_length %" PRIu32 ", header_length %" PRIu32 "\n",
                 magic_text(s.magic).c_str(), s.trailer_length, s.header_length);
    if (!s.properties.empty() || s.stream_end > 12) std::fprintf(out, "properties:\n");
    for (const PropertyRecord& p : s.properties) {
      const char* name = property_tag_name(p.tag);
      std::fprintf(out, "  %3u %-14s %s\n", p.tag, name ? name : "(unknown)",
                   property_value_text(p.tag, p.value).c_str());
    }
    if (s.stream_tail < s.stream_end) {
      std::fprintf(out, "  %zu further byte(s) in the property stream\n", s.stream_end - s.stream_tail);
    }
    if (!s.header_fits) {
      std::fprintf(out, "            header_length or trailer_length does not fit the package\n");
    }
  }
  if (s.structured) {
    std::fprintf(out,
                 "manifest:   magic %s, table_offset %" PRIu32 ", entry_count %" PRIu32 ", directive_size %" PRIu32
                 ", record_size %" PRIu32 "\n",
                 magic_text(s.manifest_magic).c_str(), s.table_offset, s.entry_count, s.directive_size, s.record_size);
    for (size_t i = 0; i < s.entries.size(); ++i) {
      const EntryRecord& r = s.entries[i];
      std::fprintf(out, "entry %zu:%s type %u, ordinal %u, ext %u, attr 0x%04X, directive %u: %s\n", i,
                   i < 10 ? "   " : (i < 100 ? "  " : " "), r.dir_type, r.dir_ordinal, r.dir_ext, r.dir_attr,
                   r.directive, entry_kind(r.dir_type));
      std::fprintf(out,
                   "            data_offset 0x%08" PRIX32 ", data_length %" PRIu32 ", dir_item_length %" PRIu32
                   ", data_crc32 0x%08" PRIX32 "\n",
                   r.data_offset, r.data_length, r.dir_item_length, r.data_crc32);
      if (s.view_offset > 0 && r.data_length > 0) {
        std::fprintf(out, "            data at file offset 0x%08zX (after the wrapper)\n",
                     s.view_offset + size_t{r.data_offset});
      }
      if (r.data_in_range && r.data_length > 0 && (is_header_type(r.dir_type) || is_trailer_type(r.dir_type))) {
        std::span<const uint8_t> data = s.view.subspan(r.data_offset, r.data_length);
        if (data.size() > 7 && data[0] == 0x54 && data[1] == 0x53 && data[2] == 0x59 && data[3] == 0x1A) {
          std::fprintf(out, "            image code %u, format 0x%02X, declares type %u\n", data[5], data[6],
                       image_declared_type(data));
        } else {
          std::fprintf(out, "            declares type %u\n", image_declared_type(data));
        }
      }
      std::fprintf(out, "            check: %s\n", entry_check(s, r).c_str());
    }
    if (s.trailer_length >= 4) {
      std::fprintf(out, "trailer:    length %" PRIu32 ", CRC 0x%08" PRIX32 " (%s)\n", s.trailer_length, s.package_crc,
                   s.package_crc == s.package_crc_actual ? "correct" : "wrong");
    } else {
      std::fprintf(out, "trailer:    length %" PRIu32 ", no CRC\n", s.trailer_length);
    }
  } else if (s.header_fits) {
    std::fprintf(out, "manifest:   does not fit the package\n");
  }
  const Verdict v = verdict_of(path);
  std::fprintf(out, "verdict:    %s (%d), index %d\n", status_name(v.status), static_cast<int>(v.status),
               static_cast<int>(v.index));
}

Json inspect_json(const std::string& path, std::span<const uint8_t> file) {
  Json m = manifest_from_file(file);
  const FileShape s = file_shape(file);
  const Verdict v = verdict_of(path);
  Json info = Json::object();
  info["file"] = path;
  info["size"] = file.size();
  info["wrapped"] = s.wrapped && s.wrapper_sound;
  info["verdict"] = {{"status", v.status}, {"name", status_name(v.status)}, {"index", v.index}};
  if (m.contains("entries")) {
    Json& entries = m["entries"];
    for (size_t i = 0; i < s.entries.size() && i < entries.size(); ++i) {
      const EntryRecord& r = s.entries[i];
      Json e = {{"kind", entry_kind(r.dir_type)}, {"check", entry_check(s, r)}};
      if (r.data_in_range && r.data_length > 0 && (is_header_type(r.dir_type) || is_trailer_type(r.dir_type))) {
        e["declared_type"] = image_declared_type(s.view.subspan(r.data_offset, r.data_length));
      }
      entries[i]["info"] = e;
    }
  }
  // "info" first, so that a reader sees the verdict before the data.
  Json out = Json::object();
  out["info"] = info;
  for (auto it = m.begin(); it != m.end(); ++it) out[it.key()] = it.value();
  return out;
}

}  // namespace vrexpkg
