// manifest.h: the package manifest (JSON) of `vrexpkg build`, both ways.
//
// manifest_to_package reads a manifest into a package description for the
// builder; manifest_from_file describes the bytes of a package file as a
// manifest that builds them again exactly. docs/package-manifest.md is the
// format's reference.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/pkgbuild/package_builder.h"

namespace vrexpkg {

using Json = nlohmann::ordered_json;

// The signing key, loaded the first time an image needs a signature.
class KeySource {
 public:
  explicit KeySource(std::string path) : path_(std::move(path)) {}
  // The loaded signer, or nullptr with *error filled when the key cannot be read.
  const pkgbuild::Signer* get(std::string* error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool tried_ = false;
  pkgbuild::Signer signer_;
  std::string error_;
};

// Reads a manifest. Paths of "file" data are taken relative to base_dir.
// Returns false with a message that names the offending field
// ("entries[2].data.image_code: ...") when the manifest is not valid.
bool manifest_to_package(const Json& manifest, const std::string& base_dir, KeySource* keys,
                         pkgbuild::Package* package, std::string* error);

// A manifest that rebuilds file byte for byte: every field explicit, all data
// inline. A file whose structure cannot be described field by field (a header
// or table that does not fit, say) comes out as one "raw" byte string.
Json manifest_from_file(std::span<const uint8_t> file);

// How a package file is laid out, as far as it can be told from its bytes.
struct PropertyRecord {
  size_t offset = 0;          // of the tag byte, in the view
  uint8_t tag = 0;
  std::span<const uint8_t> value;
};
struct EntryRecord {
  size_t offset = 0;          // of the directive block, in the view
  std::span<const uint8_t> directive_block;
  std::span<const uint8_t> record;   // as stored (record_size bytes)
  uint8_t directive = 0;
  uint16_t dir_type = 0, dir_ordinal = 0, dir_ext = 0, dir_attr = 0;
  uint32_t data_offset = 0, dir_item_length = 0, data_length = 0, data_crc32 = 0;
  bool data_in_range = false; // data_offset and data_length lie before the trailer
};
struct FileShape {
  // Wrapper: recognised as the program does (36 bytes or more, GUID, version 1).
  bool wrapped = false;
  bool wrapper_sound = false;     // 23 <= wrapper_length <= file size
  uint16_t wrapper_length = 0;
  uint32_t wrapper_crc = 0;       // as stored
  uint32_t wrapper_crc_actual = 0;
  std::span<const uint8_t> view;  // the bare package (the whole file when not soundly wrapped)
  size_t view_offset = 0;

  bool has_header = false;        // 12 bytes or more
  uint32_t magic = 0, trailer_length = 0, header_length = 0;
  bool structured = false;        // header, manifest, table and trailer all fit
  uint32_t manifest_magic = 0, table_offset = 0, entry_count = 0, directive_size = 0, record_size = 0;
  bool header_fits = false;       // header_length and trailer_length fit the view
  std::vector<PropertyRecord> properties;  // up to and including a tag 0 record
  size_t stream_tail = 0;         // offset where undescribed stream bytes begin
  size_t stream_end = 0;          // header_length, or the view's end when shorter
  std::vector<EntryRecord> entries;
  size_t covered_end = 0;         // view length minus trailer_length
  uint32_t package_crc = 0;       // as stored, when trailer_length >= 4
  uint32_t package_crc_actual = 0;
};
FileShape file_shape(std::span<const uint8_t> file);

// Tag names used in manifests ("version" for 9); nullptr for tags without one.
const char* property_tag_name(uint8_t tag);

// Lower-case hex text of bytes, and the reverse (white space allowed).
std::string to_hex(std::span<const uint8_t> bytes);
bool from_hex(std::string_view text, pkgbuild::Bytes* out);

}  // namespace vrexpkg
