// package_builder.h: describes an NVM package in C++ and produces its bytes.
//
// Used by `vrexpkg build` and by every test that needs a package or an item
// image. A description starts out well formed (correct lengths, offsets and
// CRCs, signed images) and each field that a malformed package would get
// wrong can be overridden on its own, so that a test breaks one thing at a
// time:
//
//   pkgbuild::Signer signer = pkgbuild::Signer::load(key_path, &error);
//   pkgbuild::Package p;
//   p.properties = {pkgbuild::text_property(pkgbuild::TAG_VERSION, "1.0.0.1"),
//                   pkgbuild::u16_list_property(pkgbuild::TAG_DEVICE_IDS, {0x7A81})};
//   p.entries.push_back({.dir_type = 4, .data = pkgbuild::header_image({.image_code = 5}, signer)});
//   std::vector<uint8_t> bytes = pkgbuild::build_package(p);
//
// Layout produced, in file order (all integers little-endian):
//   [wrapper] | header (12) | property records | stream_tail |
//   manifest header (20) | manifest_gap | entry table |
//   for each entry with data: its gap, its data | data_tail |
//   trailer (trailer_length bytes, the last 4 the package CRC) | tail
// The CRCs this file computes use its own bitwise CRC-32, independent of the
// program's table-driven one, so that packages made here check the program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SigningKey;

namespace pkgbuild {

using Bytes = std::vector<uint8_t>;

// Standard CRC-32 (reflected 0xEDB88320, register starts at 0xFFFFFFFF,
// result complemented).
uint32_t crc32(std::span<const uint8_t> data);

// Known property tags.
enum : uint8_t {
  TAG_END = 0,
  TAG_DESCRIPTION = 1,
  TAG_DEVICE_IDS = 2,
  TAG_MIN_CHIP_REV = 3,
  TAG_MAX_CHIP_REV = 4,
  TAG_TIMESTAMP_OLD = 6,
  TAG_TIMESTAMP = 8,
  TAG_VERSION = 9,
  TAG_SUBSYS_VENDOR = 10,
  TAG_SUBSYS_ID = 11,
  TAG_REQUIRES = 20,
  TAG_BYTE21 = 21,
  TAG_TEXT22 = 22,
};

// The maker's PCI vendor id, used as vendor and subsystem vendor throughout.
constexpr uint16_t kMakerVendorId = 0xE7A5;

// ---------------------------------------------------------------------------
// Signing key. Wraps a private key loaded through the signing helpers.

class Signer {
 public:
  Signer() = default;
  // Loads a PEM RSA private key. On failure returns an empty signer (valid()
  // false) and, when error is given, fills it with a readable reason.
  static Signer load(const std::string& pem_path, std::string* error = nullptr);

  bool valid() const { return key_ != nullptr; }
  // 256-byte RSASSA-PKCS1-v1_5 SHA-256 signature of data. Returns false when
  // the signer is empty or signing fails.
  bool sign(std::span<const uint8_t> data, uint8_t signature[256]) const;

 private:
  std::shared_ptr<const SigningKey> key_;
};

// How an image's signature is filled. A generator given an empty signer
// writes 256 zero bytes even when asked for a signature.
enum class Signature : uint8_t {
  SIGNED,  // a real signature over the signed range
  CORRUPT,  // a real signature with one bit flipped
  UNSIGNED,  // 256 zero bytes
};

// ---------------------------------------------------------------------------
// Item data generators. Each returns the item's bytes; the defaults give an
// image that passes its checks.

// Image that begins with the item image header:
//   "TSY\x1A" | flags | image code | format | body | signature (256) | CRC-32
// The signature covers everything before it, the CRC everything before the CRC.
struct HeaderImage {
  uint8_t flags = 0;
  uint8_t image_code = 0;
  uint8_t format = 0x13;
  Bytes body = {};  // bytes from offset 7; when empty, body_length
  size_t body_length = 64;  // pattern bytes used when body is empty
  std::array<uint8_t, 4> magic = {0x54, 0x53, 0x59, 0x1A};
  Signature signature = Signature::SIGNED;
  std::optional<uint32_t> crc = {};  // default: the real CRC
};
Bytes header_image(const HeaderImage& image, const Signer& signer);

// Image that ends with a signature and the 32-byte image trailer:
//   body | signature (256) | version info (20) | type | length | "Trlr" | CRC-32
struct TrailerImage {
  Bytes body = {};  // the signed range; when empty, body_length
  size_t body_length = 64;
  std::array<uint8_t, 20> version_info = {};
  uint16_t trailer_type = 0;
  uint16_t trailer_length = 288;
  std::array<uint8_t, 4> magic = {0x54, 0x72, 0x6C, 0x72};
  Signature signature = Signature::SIGNED;
  std::optional<uint32_t> crc = {};
};
Bytes trailer_image(const TrailerImage& image, const Signer& signer);

// Image that begins with a 64-byte marker header: word 0xA5A5A5A5 at offset 0,
// word 0x45F2D99A at offset 60, pattern bytes elsewhere, length bytes in all.
struct MarkerImage {
  size_t length = 64;
  uint32_t first_word = 0xA5A5A5A5;
  uint32_t last_word = 0x45F2D99A;
};
Bytes marker_image(const MarkerImage& image);

// Container of two marker images: word 0x5A5A5A5A, 16-bit count at 4, words
// A at 12 and B at 20; the first image at 256, the second at 256 + B - A.
// B defaults to A plus the first image's length.
struct MarkerContainer {
  uint32_t first_word = 0x5A5A5A5A;
  uint16_t count = 2;
  uint32_t a = 0x1000;
  std::optional<uint32_t> b = {};
  MarkerImage first = {};
  MarkerImage second = {};
};
Bytes marker_container(const MarkerContainer& container);

// One VPD keyword: a 2-character name, a length byte, its data.
struct VpdKeyword {
  std::string name = {};
  Bytes data = {};
};
VpdKeyword vpd_text_keyword(std::string_view name, std::string_view text);

// VPD item: 4 leading bytes, then the VPD area:
//   identifier string (0x82) | VPD-R (0x90) keywords + RV | VPD-W (0x91)
//   keywords + RW | end tag (0x78) | trailing bytes
// RV holds the checksum byte that makes the area's sum up to it 0, followed
// by rv_reserved zero bytes.
struct VpdArea {
  std::array<uint8_t, 4> lead = {};
  std::optional<std::string> identifier = "Vantera-C/E network adapter";
  bool read_only = true;  // write the VPD-R resource
  std::vector<VpdKeyword> read_only_keywords = {{"PN", {'V', 'C', 'E', '-', '2', '2'}},
                                                {"EC", {'A', '1'}}};
  bool rv = true;  // append the RV keyword
  uint8_t rv_reserved = 3;  // reserved bytes after the checksum
  uint8_t rv_reserved_fill = 0;  // value of those bytes
  uint8_t checksum_delta = 0;  // added to the correct checksum
  bool read_write = false;  // write the VPD-W resource
  std::vector<VpdKeyword> read_write_keywords = {{"V1", {'0', '0'}}};
  uint8_t rw_length = 8;  // RW keyword's length (0: no RW)
  bool end_tag = true;
  Bytes trailing = {};  // bytes after the end tag
};
Bytes vpd_area(const VpdArea& vpd);

// ---------------------------------------------------------------------------
// Package description.

struct Property {
  uint8_t tag = 0;
  Bytes value = {};
  std::optional<uint16_t> length = {};  // written length; default value.size() (cut to 16 bits)
};
Property text_property(uint8_t tag, std::string_view text);
Property u8_property(uint8_t tag, uint8_t value);
Property u16_property(uint8_t tag, uint16_t value);
Property u16_list_property(uint8_t tag, std::vector<uint16_t> values);
Property raw_property(uint8_t tag, Bytes value);

struct Entry {
  uint8_t directive = 0;
  Bytes directive_rest = {};  // directive block bytes after the directive byte
  uint16_t dir_type = 0;
  uint16_t dir_ordinal = 0;
  uint16_t dir_ext = 0;
  uint16_t dir_attr = 0;
  std::optional<uint32_t> dir_item_length = {};  // default: the data's length
  Bytes data = {};  // placed in the data area in entry order
  Bytes gap = {};  // bytes placed just before this entry's data
  std::optional<uint32_t> data_offset = {};  // default: where data was placed
  std::optional<uint32_t> data_length = {};  // default: data.size()
  std::optional<uint32_t> data_crc32 = {};  // default: CRC of the bytes the record points at
  Bytes record_tail = {};  // record bytes after the 24 defined ones
};

// Written values of the header fields; each defaults to the true one.
struct Overrides {
  std::optional<uint32_t> magic = {};  // "PKG0"
  std::optional<uint32_t> trailer_length = {};
  std::optional<uint32_t> header_length = {};
  std::optional<uint32_t> manifest_magic = {};  // "Man0"
  std::optional<uint32_t> table_offset = {};
  std::optional<uint32_t> entry_count = {};
  std::optional<uint32_t> directive_size = {};
  std::optional<uint32_t> record_size = {};
  std::optional<uint32_t> package_crc = {};  // the trailer's last 4 bytes
};

constexpr std::array<uint8_t, 16> kWrapperGuid = {0xF0, 0x18, 0x87, 0x8C, 0xCB, 0x7D, 0x49, 0x43,
                                                  0x98, 0x00, 0xA0, 0x2F, 0x05, 0x9A, 0xCA, 0x02};

// Wrapper header before the bare package:
//   GUID (16) | version | wrapper_length (16-bit) | body | CRC-32 of all before it
struct Wrapper {
  std::array<uint8_t, 16> guid = kWrapperGuid;
  uint8_t version = 1;
  Bytes body = {};  // uninterpreted bytes at offset 19
  std::optional<uint16_t> wrapper_length = {};  // default 23 + body.size()
  std::optional<uint32_t> crc = {};
};

struct Package {
  std::optional<Wrapper> wrapper = {};
  std::vector<Property> properties = {};
  Bytes stream_tail = {};  // raw bytes at the end of the property stream
  Bytes manifest_gap = {};  // bytes between the manifest header and the table
  uint32_t directive_size = 64;  // size of each directive block as laid out
  uint32_t record_size = 24;  // size of each item record as laid out
  std::vector<Entry> entries = {};
  Bytes data_tail = {};  // bytes after the last data, before the trailer
  uint32_t trailer_length = 4;  // true trailer size; its last 4 bytes hold the CRC
  Bytes trailer_bytes = {};  // trailer content before the CRC (zero-padded)
  Bytes tail = {};  // bytes after the trailer
  Overrides overrides = {};
  // When set, the bare package is exactly these bytes and every field above
  // but wrapper and tail is ignored: a package that no layout describes.
  std::optional<Bytes> raw = {};
};

// Offsets of the parts of a built package, relative to the bare package.
struct Layout {
  size_t wrapper_length = 0;  // 0 without wrapper
  size_t header_length = 0;
  size_t table_offset = 0;  // from the manifest header
  std::vector<size_t> data_offsets = {};
  size_t trailer_offset = 0;
  size_t package_length = 0;  // bare package, without wrapper and tail
};

// The file's bytes (wrapper included). layout, when given, receives the offsets.
Bytes build_package(const Package& package, Layout* layout = nullptr);

// Little-endian helpers for tests that patch bytes.
void put_u16(Bytes& bytes, size_t offset, uint16_t value);
void put_u32(Bytes& bytes, size_t offset, uint32_t value);
uint16_t get_u16(std::span<const uint8_t> bytes, size_t offset);
uint32_t get_u32(std::span<const uint8_t> bytes, size_t offset);

// "PKG0" and "Man0" as 32-bit values.
constexpr uint32_t kPackageMagic = 0x30474B50;
constexpr uint32_t kManifestMagic = 0x306E614D;

}  // namespace pkgbuild
