// package_builder.cc: turns a package description into bytes.
#include "tools/pkgbuild/package_builder.h"

#include <algorithm>
#include <utility>

#if VREX_PKGBUILD_SIGNING
#include "tools/signing/signing.h"
#endif

namespace pkgbuild {

uint32_t crc32(std::span<const uint8_t> data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put_u16(Bytes& bytes, size_t offset, uint16_t value) {
  if (bytes.size() < offset + 2) bytes.resize(offset + 2);
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void put_u32(Bytes& bytes, size_t offset, uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4);
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t get_u16(std::span<const uint8_t> bytes, size_t offset) {
  if (offset + 2 > bytes.size()) return 0;
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t get_u32(std::span<const uint8_t> bytes, size_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
  return value;
}

namespace {

void append(Bytes& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void append_u16(Bytes& out, uint16_t value) { put_u16(out, out.size(), value); }
void append_u32(Bytes& out, uint32_t value) { put_u32(out, out.size(), value); }

// Deterministic filler so that images of equal settings are equal.
Bytes pattern(size_t length, uint8_t seed) {
  Bytes out(length);
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(seed + i * 7u);
  return out;
}

// Appends the 256-byte signature of signed_range as the image kind asks.
void append_signature(Bytes& out, std::span<const uint8_t> signed_range, Signature kind,
                      const Signer& signer) {
  uint8_t signature[256] = {};
  if (kind != Signature::UNSIGNED) {
    if (!signer.sign(signed_range, signature)) std::fill(std::begin(signature), std::end(signature), 0);
    if (kind == Signature::CORRUPT) signature[128] ^= 0x01;
  }
  append(out, signature);
}

}  // namespace

// ---------------------------------------------------------------------------

#if VREX_PKGBUILD_SIGNING
Signer Signer::load(const std::string& pem_path, std::string* error) {
  auto key = std::make_shared<SigningKey>();
  std::string reason;
  Signer signer;
  if (!signing_load_private_key(pem_path, key.get(), &reason)) {
    if (error) *error = pem_path + ": " + reason;
    return signer;
  }
  signer.key_ = std::move(key);
  return signer;
}

bool Signer::sign(std::span<const uint8_t> data, uint8_t signature[256]) const {
  return key_ != nullptr && signing_sign_sha256(*key_, data, signature);
}
#else
Signer Signer::load(const std::string& pem_path, std::string* error) {
  if (error) *error = pem_path + ": this build has no signing helpers";
  return Signer();
}

bool Signer::sign(std::span<const uint8_t>, uint8_t[256]) const { return false; }
#endif

// ---------------------------------------------------------------------------

Bytes header_image(const HeaderImage& image, const Signer& signer) {
  Bytes out(image.magic.begin(), image.magic.end());
  out.push_back(image.flags);
  out.push_back(image.image_code);
  out.push_back(image.format);
  append(out, image.body.empty() ? pattern(image.body_length, 0x40) : image.body);
  Bytes signed_range = out;
  append_signature(out, signed_range, image.signature, signer);
  append_u32(out, image.crc ? *image.crc : crc32(out));
  return out;
}

Bytes trailer_image(const TrailerImage& image, const Signer& signer) {
  Bytes out = image.body.empty() ? pattern(image.body_length, 0x60) : image.body;
  Bytes signed_range = out;
  append_signature(out, signed_range, image.signature, signer);
  append(out, image.version_info);
  append_u16(out, image.trailer_type);
  append_u16(out, image.trailer_length);
  append(out, image.magic);
  append_u32(out, image.crc ? *image.crc : crc32(out));
  return out;
}

Bytes marker_image(const MarkerImage& image) {
  Bytes out = pattern(std::max<size_t>(image.length, 64), 0x20);
  put_u32(out, 0, image.first_word);
  put_u32(out, 60, image.last_word);
  out.resize(image.length);
  return out;
}

Bytes marker_container(const MarkerContainer& container) {
  Bytes first = marker_image(container.first);
  Bytes second = marker_image(container.second);
  uint32_t b = container.b ? *container.b : container.a + static_cast<uint32_t>(first.size());
  Bytes out(256, 0);
  put_u32(out, 0, container.first_word);
  put_u16(out, 4, container.count);
  put_u32(out, 12, container.a);
  put_u32(out, 20, b);
  append(out, first);
  if (b > container.a) {
    size_t second_start = 256 + (b - container.a);
    if (out.size() < second_start) out.resize(second_start, 0);
    out.resize(std::max(out.size(), second_start + second.size()), 0);
    std::copy(second.begin(), second.end(), out.begin() + static_cast<std::ptrdiff_t>(second_start));
  }
  return out;
}

VpdKeyword vpd_text_keyword(std::string_view name, std::string_view text) {
  return {std::string(name), Bytes(text.begin(), text.end())};
}

namespace {

void append_keyword(Bytes& out, const VpdKeyword& keyword) {
  for (size_t i = 0; i < 2; ++i) out.push_back(i < keyword.name.size() ? static_cast<uint8_t>(keyword.name[i]) : 0);
  size_t length = std::min<size_t>(keyword.data.size(), 255);
  out.push_back(static_cast<uint8_t>(length));
  out.insert(out.end(), keyword.data.begin(), keyword.data.begin() + static_cast<std::ptrdiff_t>(length));
}

// Appends a large resource: tag, 16-bit length, data.
void append_large(Bytes& out, uint8_t tag, const Bytes& data) {
  out.push_back(tag);
  append_u16(out, static_cast<uint16_t>(data.size()));
  append(out, data);
}

}  // namespace

Bytes vpd_area(const VpdArea& vpd) {
  Bytes area;
  if (vpd.identifier) append_large(area, 0x82, Bytes(vpd.identifier->begin(), vpd.identifier->end()));
  if (vpd.read_only) {
    Bytes data;
    for (const VpdKeyword& keyword : vpd.read_only_keywords) append_keyword(data, keyword);
    size_t checksum_at = 0;
    if (vpd.rv) {
      data.push_back('R');
      data.push_back('V');
      data.push_back(static_cast<uint8_t>(1 + vpd.rv_reserved));
      checksum_at = data.size();
      data.push_back(0);
      data.insert(data.end(), vpd.rv_reserved, vpd.rv_reserved_fill);
    }
    size_t resource_start = area.size();
    append_large(area, 0x90, data);
    if (vpd.rv) {
      size_t at = resource_start + 3 + checksum_at;
      uint8_t sum = 0;
      for (size_t i = 0; i < at; ++i) sum = static_cast<uint8_t>(sum + area[i]);
      area[at] = static_cast<uint8_t>(0u - sum + vpd.checksum_delta);
    }
  }
  if (vpd.read_write) {
    Bytes data;
    for (const VpdKeyword& keyword : vpd.read_write_keywords) append_keyword(data, keyword);
    if (vpd.rw_length > 0) append_keyword(data, {"RW", Bytes(vpd.rw_length, 0)});
    append_large(area, 0x91, data);
  }
  if (vpd.end_tag) area.push_back(0x78);
  append(area, vpd.trailing);

  Bytes out(vpd.lead.begin(), vpd.lead.end());
  append(out, area);
  return out;
}

// ---------------------------------------------------------------------------

Property text_property(uint8_t tag, std::string_view text) { return {tag, Bytes(text.begin(), text.end()), {}}; }
Property u8_property(uint8_t tag, uint8_t value) { return {tag, Bytes{value}, {}}; }
Property u16_property(uint8_t tag, uint16_t value) {
  Property p{tag, {}, {}};
  put_u16(p.value, 0, value);
  return p;
}
Property u16_list_property(uint8_t tag, std::vector<uint16_t> values) {
  Property p{tag, {}, {}};
  for (uint16_t value : values) put_u16(p.value, p.value.size(), value);
  return p;
}
Property raw_property(uint8_t tag, Bytes value) { return {tag, std::move(value), {}}; }

namespace {

// The bare package of a description; layout receives its offsets.
Bytes build_bare(const Package& package, Layout* layout) {
  const Overrides& o = package.overrides;
  Bytes out(12, 0);

  for (const Property& property : package.properties) {
    out.push_back(property.tag);
    append_u16(out, property.length ? *property.length : static_cast<uint16_t>(property.value.size()));
    append(out, property.value);
  }
  append(out, package.stream_tail);
  const size_t header_length = out.size();

  const size_t table_offset = 20 + package.manifest_gap.size();
  append_u32(out, o.manifest_magic ? *o.manifest_magic : kManifestMagic);
  append_u32(out, o.table_offset ? *o.table_offset : static_cast<uint32_t>(table_offset));
  append_u32(out, o.entry_count ? *o.entry_count : static_cast<uint32_t>(package.entries.size()));
  append_u32(out, o.directive_size ? *o.directive_size : package.directive_size);
  append_u32(out, o.record_size ? *o.record_size : package.record_size);
  append(out, package.manifest_gap);

  const size_t table_start = out.size();
  const size_t stride = size_t{package.directive_size} + package.record_size;
  out.resize(table_start + stride * package.entries.size(), 0);

  std::vector<size_t> data_offsets;
  for (const Entry& entry : package.entries) {
    append(out, entry.gap);
    data_offsets.push_back(entry.data.empty() ? 0 : out.size());
    append(out, entry.data);
  }
  append(out, package.data_tail);

  const size_t trailer_offset = out.size();
  Bytes trailer = package.trailer_bytes;
  trailer.resize(package.trailer_length >= 4 ? package.trailer_length - 4 : package.trailer_length, 0);
  append(out, trailer);
  if (package.trailer_length >= 4) append_u32(out, 0);
  const size_t package_length = out.size();

  put_u32(out, 0, o.magic ? *o.magic : kPackageMagic);
  put_u32(out, 4, o.trailer_length ? *o.trailer_length : package.trailer_length);
  put_u32(out, 8, o.header_length ? *o.header_length : static_cast<uint32_t>(header_length));

  for (size_t i = 0; i < package.entries.size(); ++i) {
    const Entry& entry = package.entries[i];
    const size_t at = table_start + i * stride;
    Bytes block{entry.directive};
    append(block, entry.directive_rest);
    block.resize(package.directive_size, 0);

    const uint32_t data_offset = entry.data_offset ? *entry.data_offset : static_cast<uint32_t>(data_offsets[i]);
    const uint32_t data_length = entry.data_length ? *entry.data_length : static_cast<uint32_t>(entry.data.size());
    uint32_t data_crc = 0;
    if (entry.data_crc32) {
      data_crc = *entry.data_crc32;
    } else if (size_t{data_offset} + data_length <= package_length) {
      data_crc = crc32(std::span<const uint8_t>(out).subspan(data_offset, data_length));
    } else {
      data_crc = crc32(entry.data);
    }
    Bytes record;
    append_u16(record, entry.dir_type);
    append_u16(record, entry.dir_ordinal);
    append_u16(record, entry.dir_ext);
    append_u16(record, entry.dir_attr);
    append_u32(record, data_offset);
    append_u32(record, entry.dir_item_length ? *entry.dir_item_length : data_length);
    append_u32(record, data_length);
    append_u32(record, data_crc);
    append(record, entry.record_tail);
    record.resize(package.record_size, 0);

    std::copy(block.begin(), block.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy(record.begin(), record.end(), out.begin() + static_cast<std::ptrdiff_t>(at + block.size()));
  }

  if (package.trailer_length >= 4) {
    const size_t covered = package_length - package.trailer_length;
    put_u32(out, package_length - 4,
            o.package_crc ? *o.package_crc : crc32(std::span<const uint8_t>(out).first(covered)));
  }
  layout->header_length = header_length;
  layout->table_offset = table_offset;
  layout->data_offsets = std::move(data_offsets);
  layout->trailer_offset = trailer_offset;
  layout->package_length = package_length;
  return out;
}

}  // namespace

Bytes build_package(const Package& package, Layout* layout) {
  Layout local;
  Layout& l = layout ? *layout : local;
  l = Layout();
  Bytes out;
  if (package.raw) {
    out = *package.raw;
    l.package_length = out.size();
    l.trailer_offset = out.size();
  } else {
    out = build_bare(package, &l);
  }
  append(out, package.tail);

  if (package.wrapper) {
    const Wrapper& w = *package.wrapper;
    Bytes head(w.guid.begin(), w.guid.end());
    head.push_back(w.version);
    append_u16(head, w.wrapper_length ? *w.wrapper_length : static_cast<uint16_t>(23 + w.body.size()));
    append(head, w.body);
    append_u32(head, w.crc ? *w.crc : crc32(head));
    l.wrapper_length = head.size();
    out.insert(out.begin(), head.begin(), head.end());
  }
  return out;
}

}  // namespace pkgbuild
