// package.h: the package subsystem's one public header.
//
// NVM package files: the status code family shared by every layer below the
// front end, the package file search, the container (header, properties,
// manifest, entries, trailer) and its validation, the item image checks with
// their RSA signatures, and the package record that the front end keeps for
// each file. Everything here works on files and memory only; nothing prints.
//
// All multi-byte integers in packages are little-endian. A "view" is the bare
// package (after an optional wrapper) as a span of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------
// Status codes. 0 is success, failures are negative. Driver operations may
// also return positive codes of the firmware or driver (see driver_access).

// X(name, value) for every member of the family, in numeric order.
#define VREX_TSYRETVAL_CODES(X) \
    X(SUCCESS, 0) \
    X(FAILURE, -1) \
    X(UNSUPPORTED_COMMAND, -2) \
    X(MALLOC_FAILURE, -3) \
    X(INSUFFICIENT_SPACE, -4) \
    X(INVALID_INDEX_PARAMETER, -5) \
    X(INVALID_OFFSET_PARAMETER, -6) \
    X(INVALID_BIT_PARAMETER, -7) \
    X(INVALID_PARAMETER_VALUE, -8) \
    X(INVALID_LENGTH, -9) \
    X(INVALID_LENGTH_PARAMETER, -10) \
    X(INVALID_POINTER_PARAMETER, -11) \
    X(INVALID_FILENAME_PARAMETER, -12) \
    X(INVALID_TYPE_PARAMETER, -13) \
    X(INVALID_PREREQUISITE, -14) \
    X(INVALID_PARAMETER, -16) \
    X(INVALID_TAG, -17) \
    X(INVALID_END_TAG, -18) \
    X(INVALID_STRING, -19) \
    X(INVALID_FILE_HEADER, -20) \
    X(INVALID_SIGNATURE, -21) \
    X(INVALID_PROP_STREAM, -22) \
    X(INVALID_PROP_LENGTH, -23) \
    X(INVALID_MANIFEST, -24) \
    X(INVALID_TRAILER, -25) \
    X(INVALID_CHECKSUM, -26) \
    X(INVALID_ITEM_CHECKSUM, -27) \
    X(INVALID_DATA_LENGTH, -28) \
    X(INVALID_RSA_SIGNATURE, -29) \
    X(INVALID_SYNTAX, -30) \
    X(INVALID_DIRECTIVE, -31) \
    X(INVALID_DATA_OFFSET, -32) \
    X(DEVICE_LIBRARY_QUERY_FAILURE, -40) \
    X(DEVICE_DRIVER_INTERFACE_FAILURE, -41) \
    X(NO_SUPPORTED_DEVICES_FOUND, -49) \
    X(UNSUPPORTED_CHIP_REV, -50) \
    X(UNSUPPORTED_DEVICE_ID, -51) \
    X(UNSUPPORTED_SUBSYS_VENDOR, -52) \
    X(UNSUPPORTED_SUBSYS_ID, -53) \
    X(UNSUPPORTED_UPGRADE, -54) \
    X(UNSUPPORTED_DOWNGRADE, -55) \
    X(UNSUPPORTED_FILE_TYPE, -57) \
    X(UNSUPPORTED_OPERATION, -58) \
    X(UNSUPPORTED_PLATFORM, -59) \
    X(DUPLICATE_ITEM, -60) \
    X(ZERO_LENGTH_ITEM, -61) \
    X(UNSUPPORTED_DETAIL, -62) \
    X(OVERLAPPING_ITEM, -63) \
    X(PREREQUISITES_NOT_MET, -64) \
    X(UNEXPECTED_DATA, -70) \
    X(INSTALL_CHECKSUM_ERROR, -71) \
    X(INSTALL_DATA_ERROR, -72) \
    X(INSTALL_AUTHENTICATION_ERROR, -73) \
    X(ITEM_NOT_FOUND, -80) \
    X(RESOURCE_NOT_FOUND, -81) \
    X(TERMINATOR_NOT_FOUND, -82) \
    X(END_TAG_NOT_FOUND, -83) \
    X(CHECKSUM_NOT_FOUND, -84) \
    X(TRAILER_NOT_FOUND, -85) \
    X(HEADER_NOT_FOUND, -86) \
    X(SIGNATURE_NOT_FOUND, -87) \
    X(VERSION_INFO_NOT_FOUND, -88) \
    X(ITEM_LOCKED, -89) \
    X(FILE_ACCESS_FAILURE, -100) \
    X(FILE_OPEN_FAILURE, -101) \
    X(FILE_SEEK_FAILURE, -102) \
    X(FILE_READ_FAILURE, -103) \
    X(FILE_WRITE_FAILURE, -104) \
    X(FILE_TRUNCATE_FAILURE, -105) \
    X(SOCKET_FAILURE, -120) \
    X(OPTION_NOTSUPPORTED, -130) \
    X(OPTION_MULTINSTANCE_FAILURE, -131) \
    X(OPTION_ARRAYTYPE_FAILURE, -132) \
    X(VREX_LFC_DRIVER_NOT_LOADED, -133) \
    X(INTERFACE_LINK_DOWN, -134) \
    X(DEVICE_RESET_FAILURE, -135) \
    X(LIVE_FW_UPDATE_NOT_SUPPORTED, -136) \
    X(PF_INITIALIZATION_FAILURE, -137) \
    X(VF_INITIALIZATION_FAILURE, -138) \
    X(FW_SYNC_FAILED, -139) \
    X(GRCP_UNLOCKED_FAILED, -141) \
    X(REG_READ_FAILED, -142) \
    X(REG_WRITE_FAILED, -143) \
    X(INVALID_FW_PROC_TYPE, -144) \
    X(FASTBOOT_FAILED, -145) \
    X(READ_FASTBOOT_HDR_FAILED, -146) \
    X(INVALID_FASTBOOT_HDR_SIGNATURE, -147) \
    X(INVALID_NUM_OF_IMAGES, -148) \
    X(DOWNLOAD_SRAM_IMAGE_FAILED, -149) \
    X(ORBEX_RESET_FAILED, -150) \
    X(NVM_INSTALL_UPDATE_CMD_ERR_CODE_ANTI_ROLLBACK, -151) \
    X(NVM_INSTALL_UPDATE_CMD_ERR_CODE_NO_SPACE, -152) \
    X(NVM_INSTALL_UPDATE_CMD_ERR_CODE_FRAG_ERR, -153) \
    X(NVM_MOD_SECURITY_VIOLATION, -154) \
    X(NVM_INSTALL_UPDATE_ERR_CODE_NO_VOLTREG_SUPPORT, -155) \
    X(UNSUPPORTED_VOLTAGE_REGULATOR, -156) \
    X(NVM_WRITE_CMD_ERR_CODE_FRAG_ERR, -157) \
    X(NVM_WRITE_CMD_ERR_CODE_NO_SPACE, -158) \
    X(FW_NOT_IN_OPERATIONAL_STATE, -159) \
    X(PCI_IOCTL_MMAP_PERMISSION_DENIED, -160) \
    X(PCI_IOCTL_BAR0_MMAP_FAILED, -161) \
    X(PCI_IOCTL_HOST_TIMEOUT, -162) \
    X(CAP, -200)

enum TsyRetval : int32_t {
#define VREX_TSYRETVAL_ENUM(name, value) TSYRETVAL_##name = value,
  VREX_TSYRETVAL_CODES(VREX_TSYRETVAL_ENUM)
#undef VREX_TSYRETVAL_ENUM
};

// The code's name without the "TSYRETVAL_" prefix ("INVALID_MANIFEST" for
// -24), or "Unknown: %d" for any value that is not a member. The unknown text
// lives in one static buffer that the next unknown lookup overwrites.
const char* status_name(int32_t code);

// ---------------------------------------------------------------------------
// CRC-32 (reflected polynomial 0xEDB88320), table-driven. The register starts
// at seed and the result is complemented, so crc32(0xFFFFFFFF, bytes) is the
// standard CRC-32 of bytes ("123456789" gives 0xCBF43926).
uint32_t crc32(uint32_t seed, const uint8_t* data, size_t length);

// ---------------------------------------------------------------------------
// SHA-256 (FIPS 180-4). Uses the CPU's SHA instructions when it has them,
// chosen at run time, and a portable implementation otherwise.
struct Sha256 {
  uint32_t state[8];
  uint64_t total_bytes;
  uint8_t block[64];
  size_t block_used;
};
void sha256_init(Sha256* ctx);
void sha256_update(Sha256* ctx, const uint8_t* data, size_t length);
void sha256_final(Sha256* ctx, uint8_t digest[32]);
void sha256(const uint8_t* data, size_t length, uint8_t digest[32]);

// Verifies a 256-byte RSASSA-PKCS1-v1_5 SHA-256 signature of data[0..length)
// under the public key compiled into the program. Returns TSYRETVAL_SUCCESS,
// TSYRETVAL_INVALID_RSA_SIGNATURE, or TSYRETVAL_FAILURE when the big-number
// workspace cannot be set up.
int32_t signature_verify(const uint8_t* data, size_t length, const uint8_t signature[256]);

// ---------------------------------------------------------------------------
// Package file search. A file list owns its paths.
struct FileList {
  uint64_t count = 0;
  char** paths = nullptr;
};

// find_files results (the search's own values, not status codes).
enum : int {
  FIND_FILES_OK = 0,
  FIND_FILES_NO_MEMORY = 1,
  FIND_FILES_NONE = 3,
};

// Lists the entries that match spec ("dir/*.pkg"; both separators count, the
// last one wins; wildcards match without regard to case), skipping names that
// begin with ".", sorted case-insensitively by path.
int find_files(const char* spec, FileList* list);
void free_file_list(FileList* list);

// ---------------------------------------------------------------------------
// Container.

struct PackageHeader {
  uint32_t magic;           // "PKG0"
  uint32_t trailer_length;
  uint32_t header_length;   // header plus property stream; offset of the manifest
};

struct ManifestHeader {
  uint32_t magic;           // "Man0"
  uint32_t table_offset;    // from the start of the manifest header
  uint32_t entry_count;
  uint32_t directive_size;
  uint32_t record_size;
};

// The 24-byte item record of an entry, as stored.
struct ItemRecord {
  uint16_t dir_type;
  uint16_t dir_ordinal;
  uint16_t dir_ext;
  uint16_t dir_attr;
  uint32_t data_offset;
  uint32_t dir_item_length;
  uint32_t data_length;
  uint32_t data_crc32;
};

// One manifest entry in memory: the first 64 bytes of its directive block and
// its 24-byte item record, zero-filled where the file's blocks are shorter.
struct PackageEntry {
  uint8_t directive_block[64];
  ItemRecord record;
  uint8_t directive() const { return directive_block[0]; }
};

// Entry directives with a meaning to the checks.
enum : uint8_t {
  DIRECTIVE_ZERO_LENGTH_ALLOWED = 3,
  DIRECTIVE_UNCHECKED = 4,
};

// Memory for package buffers (package/package_memory.cc): large buffers come
// in large pages where the host offers them, so reading a big file into one
// costs far fewer page faults.
void* package_memory_allocate(size_t size);
void package_memory_free(void* memory, size_t size);

// Allocator whose new elements are left uninitialised (default-initialised).
// package_read fills its buffer straight from the file, so zero-filling it
// first would be one more pass over the whole package.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* memory = package_memory_allocate(n * sizeof(T));
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* p, size_t n) noexcept { package_memory_free(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const UninitializedAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using PackageBytes = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

// A package file read whole: one owned allocation and the view of the bare
// package inside it (the whole file unless it has a wrapper).
struct PackageBuffer {
  PackageBytes bytes;
  size_t view_offset = 0;
  size_t view_length = 0;
  std::span<const uint8_t> view() const { return {bytes.data() + view_offset, view_length}; }
};

int32_t package_read(const char* path, PackageBuffer* out);
int32_t package_check_header(std::span<const uint8_t> view, PackageHeader* out);
int32_t package_read_manifest(std::span<const uint8_t> view, ManifestHeader* out);
int32_t package_item_count(std::span<const uint8_t> view, uint32_t* count);
// Returns the number of entries read (0 or more) or a negative status.
int32_t package_read_entries(std::span<const uint8_t> view, uint32_t first, uint32_t wanted,
                             PackageEntry* entries);
int32_t package_find_item(std::span<const uint8_t> view, uint16_t dir_type, uint16_t dir_ordinal,
                          uint16_t dir_ext, PackageEntry* out);
// entry_index (optional) receives -1 when the status concerns the package as a
// whole and the failing entry's zero-based index otherwise.
int32_t package_validate(std::span<const uint8_t> view, int32_t* entry_index);

// ---------------------------------------------------------------------------
// Item images.
int32_t item_validate(std::span<const uint8_t> data, uint16_t dir_type, uint16_t dir_attr,
                      uint32_t data_crc32);
uint16_t image_declared_type(std::span<const uint8_t> data);
int32_t vpd_validate(std::span<const uint8_t> area);

// ---------------------------------------------------------------------------
// Properties and the package record.

// Returns the property's full length when tag is present (the destination is
// zero-filled over its whole size and receives the first min(length, size)
// bytes), TSYRETVAL_ITEM_NOT_FOUND when it is not, TSYRETVAL_INVALID_PROP_LENGTH
// when the value runs past the end of the stream.
int32_t package_get_property(std::span<const uint8_t> stream, uint8_t tag, void* dest,
                             size_t dest_size);
// Length of the property stream (header_length - 12) or the header check's
// failure status. The stream starts at offset 12 of the view.
int32_t package_property_stream(std::span<const uint8_t> view);

constexpr int kPackagePathMax = 260;
constexpr int kPackageDevIdSlots = 10;

struct PackageRecord {
  char path[kPackagePathMax + 1];
  char desc[256];
  char ver[256];
  char timestamp[256];
  char requires_ver[256];    // "requires": the version that must be installed already
  char tag22_text[257];
  uint16_t dev_ids[kPackageDevIdSlots];
  int32_t dev_id_count;
  uint16_t subsys_vendor;    // 0xFFFF: any
  uint16_t subsys_id;        // 0xFFFF: any
  PackageBuffer data;
  uint32_t data_size;
  uint8_t min_chip_rev;
  uint8_t max_chip_rev;
  uint8_t tag21_byte;

  std::span<const uint8_t> view() const { return data.view(); }
};

// Fills record from the file at path. Never fails: an unreadable file or a bad
// header leaves the defaults, no data and data_size 0.
void package_load_record(const char* path, PackageRecord* record);
