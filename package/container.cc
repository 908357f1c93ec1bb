// container.cc: reading package files and checking the container: package
// header, manifest, entry table, wrapper and trailer CRC.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "package/package.h"
#include "package/crypto_crc32.h"
#include "package/pkg_internal.h"

namespace {

using pkg::load_u16;
using pkg::load_u32;

// The wrapper GUID {8C8718F0-7DCB-4349-9800-A02F059ACA02} in the byte order
// of a Windows GUID in memory.
constexpr uint8_t kWrapperGuid[16] = {0xF0, 0x18, 0x87, 0x8C, 0xCB, 0x7D, 0x49, 0x43,
                                      0x98, 0x00, 0xA0, 0x2F, 0x05, 0x9A, 0xCA, 0x02};
constexpr size_t kWrapperMinFile = 36;
// GUID, version, length and CRC: a wrapper shorter than this cannot hold its
// own fields.
constexpr size_t kWrapperMinLength = 23;

// Closes the file on every path out of package_read.
struct FileCloser {
  std::FILE* file;
  ~FileCloser() {
    if (file != nullptr) std::fclose(file);
  }
};

// Checks the wrapper of a file that carries one and sets the view behind it.
int32_t unwrap(PackageBuffer* buf) {
  const std::span<const uint8_t> file(buf->bytes);
  if (file.size() < kWrapperMinFile || std::memcmp(file.data(), kWrapperGuid, 16) != 0 ||
      file[16] != 1) {
    buf->view_offset = 0;
    buf->view_length = file.size();
    return TSYRETVAL_SUCCESS;
  }
  const size_t wrapper_length = load_u16(file, 17);
  if (wrapper_length > file.size() || wrapper_length < kWrapperMinLength) {
    return TSYRETVAL_INVALID_FILE_HEADER;
  }
  const uint32_t stored = load_u32(file, wrapper_length - 4);
  if (crc32(0xFFFFFFFF, file.data(), wrapper_length - 4) != stored) {
    return TSYRETVAL_INVALID_CHECKSUM;
  }
  buf->view_offset = wrapper_length;
  buf->view_length = file.size() - wrapper_length;
  return TSYRETVAL_SUCCESS;
}

// Header and manifest checks shared by the entry readers; fills both.
int32_t check_table(std::span<const uint8_t> view, PackageHeader* header,
                    ManifestHeader* manifest) {
  int32_t rc = package_read_manifest(view, manifest);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  rc = package_check_header(view, header);
  return rc;
}

// Where entry `index` lies: its first byte and its end, in 64 bits so that
// large table offsets and counts cannot wrap.
struct EntrySpan {
  uint64_t begin;
  uint64_t end;
};
EntrySpan entry_span(const PackageHeader& h, const ManifestHeader& m, uint64_t index) {
  const uint64_t stride = uint64_t{m.directive_size} + m.record_size;
  const uint64_t begin = uint64_t{h.header_length} + m.table_offset + index * stride;
  return {begin, begin + stride};
}

// Copies entry bytes into the in-memory entry: zero-filled, then the kept
// parts of the directive block and the record. The span is inside the view.
void fill_entry(std::span<const uint8_t> view, const ManifestHeader& m, uint64_t begin,
                PackageEntry* out) {
  std::memset(out, 0, sizeof *out);
  const size_t dir_bytes = std::min<size_t>(m.directive_size, pkg::kDirectiveKept);
  const size_t rec_bytes = std::min<size_t>(m.record_size, pkg::kRecordKept);
  std::memcpy(out->directive_block, view.data() + begin, dir_bytes);
  uint8_t raw[pkg::kRecordKept] = {};
  std::memcpy(raw, view.data() + begin + m.directive_size, rec_bytes);
  const std::span<const uint8_t> r(raw);
  out->record.dir_type = load_u16(r, 0);
  out->record.dir_ordinal = load_u16(r, 2);
  out->record.dir_ext = load_u16(r, 4);
  out->record.dir_attr = load_u16(r, 6);
  out->record.data_offset = load_u32(r, 8);
  out->record.dir_item_length = load_u32(r, 12);
  out->record.data_length = load_u32(r, 16);
  out->record.data_crc32 = load_u32(r, 20);
}

bool same_record(const ItemRecord& a, const ItemRecord& b) {
  return a.dir_type == b.dir_type && a.dir_ordinal == b.dir_ordinal && a.dir_ext == b.dir_ext &&
         a.dir_attr == b.dir_attr && a.data_offset == b.data_offset &&
         a.dir_item_length == b.dir_item_length && a.data_length == b.data_length &&
         a.data_crc32 == b.data_crc32;
}

uint64_t identity_key(const ItemRecord& r) {
  return (uint64_t{r.dir_type} << 32) | (uint64_t{r.dir_ordinal} << 16) | r.dir_ext;
}

// Walks the property stream's framing and applies the version prerequisite
// rule. end is E, the end of the area the trailer CRC covers.
int32_t check_properties(std::span<const uint8_t> view, uint32_t header_length, uint64_t end) {
  uint64_t pos = pkg::kPackageHeaderSize;
  uint64_t ver_at = 0, ver_len = 0, req_at = 0, req_len = 0;
  bool have_ver = false, have_req = false;
  while (pos < header_length) {
    // A head that does not fit before the manifest runs past the stream's end.
    if (pos + 3 > header_length) return TSYRETVAL_INVALID_PROP_STREAM;
    const uint8_t tag = view[pos];
    const uint16_t length = load_u16(view, pos + 1);
    pos += 3;
    if (tag == 0) break;
    if (tag == 9) {
      have_ver = true;
      ver_at = pos;
      ver_len = length;
    } else if (tag == 20) {
      have_req = true;
      req_at = pos;
      req_len = length;
    }
    pos += length;
    if (pos > end) return TSYRETVAL_INVALID_PROP_STREAM;
  }
  if (pos > header_length) return TSYRETVAL_INVALID_PROP_STREAM;
  // Every remembered value ends at or before pos, so inside the stream.
  if (have_ver && have_req) {
    if (ver_len != req_len ||
        std::memcmp(view.data() + req_at, view.data() + ver_at, ver_len) >= 0) {
      return TSYRETVAL_INVALID_PREREQUISITE;
    }
  }
  return TSYRETVAL_SUCCESS;
}

// Item data ranges whose CRC item validation already computed; the package
// CRC uses them instead of reading those bytes a second time. Only ranges
// long enough for a combine to beat rereading are kept, which also keeps the
// list short.
constexpr uint32_t kReuseMinLength = 64 * 1024;

struct KnownRange {
  uint64_t begin;
  uint64_t length;
  uint32_t crc;
};

// CRC-32 of view[0, end), reading only the bytes that no known range covers.
uint32_t covered_crc(std::span<const uint8_t> view, uint64_t end, std::vector<KnownRange>& known) {
  std::sort(known.begin(), known.end(),
            [](const KnownRange& a, const KnownRange& b) { return a.begin < b.begin; });
  uint32_t crc = crc32(0xFFFFFFFF, nullptr, 0);
  uint64_t pos = 0;
  for (const KnownRange& r : known) {
    if (r.begin < pos || r.begin + r.length > end) continue;  // overlaps what is done
    crc = pkg::crc32_continue(crc, view.data() + pos, static_cast<size_t>(r.begin - pos));
    crc = crc32_combine(crc, r.crc, r.length);
    pos = r.begin + r.length;
  }
  return pkg::crc32_continue(crc, view.data() + pos, static_cast<size_t>(end - pos));
}

}  // namespace

int32_t package_read(const char* path, PackageBuffer* out) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return TSYRETVAL_FILE_OPEN_FAILURE;
  FileCloser closer{file};

  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size == 0) return TSYRETVAL_INVALID_LENGTH;
  // The view length is kept in 32 bits by the record, and offsets in the
  // package are 32-bit: a larger file cannot be a package.
  if (size > std::numeric_limits<uint32_t>::max()) return TSYRETVAL_INVALID_LENGTH;

  PackageBuffer buf;
  try {
    buf.bytes.resize(static_cast<size_t>(size));
  } catch (...) {
    return TSYRETVAL_MALLOC_FAILURE;
  }
  if (std::fread(buf.bytes.data(), 1, buf.bytes.size(), file) != buf.bytes.size()) {
    return TSYRETVAL_FILE_READ_FAILURE;
  }

  int32_t rc = unwrap(&buf);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  PackageHeader header;
  rc = package_check_header(buf.view(), &header);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  *out = std::move(buf);
  return TSYRETVAL_SUCCESS;
}

int32_t package_check_header(std::span<const uint8_t> view, PackageHeader* out) {
  if (view.size() < pkg::kPackageHeaderSize) return TSYRETVAL_INVALID_LENGTH;
  PackageHeader h{load_u32(view, 0), load_u32(view, 4), load_u32(view, 8)};
  if (h.magic != pkg::kPackageMagic) return TSYRETVAL_INVALID_SIGNATURE;
  if (h.header_length < pkg::kPackageHeaderSize || h.header_length > view.size() ||
      view.size() - h.header_length < h.trailer_length) {
    return TSYRETVAL_INVALID_FILE_HEADER;
  }
  if (out != nullptr) *out = h;
  return TSYRETVAL_SUCCESS;
}

int32_t package_read_manifest(std::span<const uint8_t> view, ManifestHeader* out) {
  PackageHeader h;
  const int32_t rc = package_check_header(view, &h);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  const uint64_t room = view.size() - h.trailer_length - h.header_length;
  if (room < pkg::kManifestHeaderSize) return TSYRETVAL_INVALID_MANIFEST;
  const uint64_t at = h.header_length;
  ManifestHeader m{load_u32(view, at), load_u32(view, at + 4), load_u32(view, at + 8),
                   load_u32(view, at + 12), load_u32(view, at + 16)};
  if (m.magic != pkg::kManifestMagic) return TSYRETVAL_INVALID_SIGNATURE;
  if (room < m.table_offset) return TSYRETVAL_INVALID_MANIFEST;
  if (out != nullptr) *out = m;
  return TSYRETVAL_SUCCESS;
}

int32_t package_item_count(std::span<const uint8_t> view, uint32_t* count) {
  ManifestHeader m;
  const int32_t rc = package_read_manifest(view, &m);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  if (count != nullptr) *count = m.entry_count;
  return TSYRETVAL_SUCCESS;
}

int32_t package_read_entries(std::span<const uint8_t> view, uint32_t first, uint32_t wanted,
                             PackageEntry* entries) {
  PackageHeader h;
  ManifestHeader m;
  const int32_t rc = check_table(view, &h, &m);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  if (m.record_size > view.size() || m.directive_size > view.size()) {
    return TSYRETVAL_INVALID_MANIFEST;
  }
  // The count is returned as a positive status, so it stays within int32_t.
  wanted = std::min<uint32_t>(wanted, std::numeric_limits<int32_t>::max());
  const uint64_t end = view.size() - h.trailer_length;
  uint32_t read = 0;
  for (uint64_t i = first; read < wanted && i < m.entry_count; ++i) {
    const EntrySpan s = entry_span(h, m, i);
    if (s.end > end) return TSYRETVAL_INVALID_MANIFEST;
    fill_entry(view, m, s.begin, &entries[read]);
    ++read;
  }
  return static_cast<int32_t>(read);
}

int32_t package_find_item(std::span<const uint8_t> view, uint16_t dir_type, uint16_t dir_ordinal,
                          uint16_t dir_ext, PackageEntry* out) {
  uint32_t count = 0;
  int32_t rc = package_item_count(view, &count);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  ManifestHeader m;
  package_read_manifest(view, &m);
  // With empty directive blocks and records every entry is the same bytes, so
  // the first one answers for the whole table.
  if (m.directive_size == 0 && m.record_size == 0) count = std::min<uint32_t>(count, 1);
  for (uint32_t i = 0; i < count; ++i) {
    PackageEntry e;
    rc = package_read_entries(view, i, 1, &e);
    if (rc < 0) return rc;
    if (rc == 0) break;
    if (e.record.dir_type == dir_type && e.record.dir_ordinal == dir_ordinal &&
        e.record.dir_ext == dir_ext) {
      if (out != nullptr) *out = e;
      return TSYRETVAL_SUCCESS;
    }
  }
  return TSYRETVAL_ITEM_NOT_FOUND;
}

int32_t package_validate(std::span<const uint8_t> view, int32_t* entry_index) {
  int32_t scratch_index;
  int32_t& index = entry_index != nullptr ? *entry_index : scratch_index;
  index = -1;

  PackageHeader h;
  if (package_check_header(view, &h) != TSYRETVAL_SUCCESS) return TSYRETVAL_INVALID_FILE_HEADER;
  const uint64_t end = view.size() - h.trailer_length;  // E

  int32_t rc = check_properties(view, h.header_length, end);
  if (rc != TSYRETVAL_SUCCESS) return rc;

  ManifestHeader m;
  if (package_read_manifest(view, &m) != TSYRETVAL_SUCCESS) return TSYRETVAL_INVALID_MANIFEST;
  if (m.record_size > view.size() || m.directive_size > view.size() ||
      uint64_t{h.header_length} + m.table_offset > end) {
    return TSYRETVAL_INVALID_MANIFEST;
  }

  // The first entry of each identity, by table order. Looking it up here
  // gives the same answer as scanning the table from its start.
  std::unordered_map<uint64_t, uint32_t> first_of;
  std::vector<KnownRange> known;

  for (uint32_t i = 0; i < m.entry_count; ++i) {
    // Entries past INT32_MAX (only in tables of one-byte entries of a 2 GiB
    // package) share the last index that can be reported.
    index = static_cast<int32_t>(std::min<uint32_t>(i, std::numeric_limits<int32_t>::max()));
    const EntrySpan s = entry_span(h, m, i);
    if (s.end > end) return TSYRETVAL_INVALID_MANIFEST;
    PackageEntry e;
    fill_entry(view, m, s.begin, &e);
    const ItemRecord& r = e.record;

    if (pkg::is_image_type(r.dir_type) && e.directive() == DIRECTIVE_UNCHECKED) {
      return TSYRETVAL_INVALID_DIRECTIVE;
    }
    if (e.directive() != DIRECTIVE_ZERO_LENGTH_ALLOWED && r.dir_item_length == 0) {
      return TSYRETVAL_ZERO_LENGTH_ITEM;
    }
    if (r.data_length > r.dir_item_length) return TSYRETVAL_INVALID_DATA_LENGTH;
    if (r.data_length != 0) {
      if (r.data_offset > end || end - r.data_offset < r.data_length) {
        return TSYRETVAL_INVALID_MANIFEST;
      }
      if (e.directive() != DIRECTIVE_UNCHECKED) {
        pkg::ItemCrc item_crc;
        rc = pkg::item_validate_crc(view.subspan(r.data_offset, r.data_length), r.dir_type,
                                    r.dir_attr, r.data_crc32, &item_crc);
        if (rc != TSYRETVAL_SUCCESS) return rc;
        if (item_crc.known && r.data_length >= kReuseMinLength) {
          known.push_back({r.data_offset, r.data_length, item_crc.crc});
        }
      }
    }

    const auto [it, inserted] = first_of.try_emplace(identity_key(r), i);
    if (!inserted) {
      PackageEntry first;
      fill_entry(view, m, entry_span(h, m, it->second).begin, &first);
      if (!same_record(first.record, r) && first.directive() == e.directive()) {
        return TSYRETVAL_DUPLICATE_ITEM;
      }
    }
  }
  index = -1;

  if (h.trailer_length >= 4) {
    const uint32_t stored = load_u32(view, view.size() - 4);
    if (covered_crc(view, end, known) != stored) return TSYRETVAL_INVALID_CHECKSUM;
  }
  return TSYRETVAL_SUCCESS;
}
