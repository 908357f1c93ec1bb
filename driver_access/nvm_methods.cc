// nvm_methods.cc: the driver's device and NVM methods, one wrapper each, and
// the directory, item and option operations built on them.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "driver_access/call.h"

using da::OnFailure;
using da::run_method;
using plat::WmiObject;

namespace {

constexpr uint32_t kMinEntryLength = 24;
constexpr uint32_t kDirectoryBytes = 4096;
constexpr uint32_t kLookupEntries = 100;
constexpr uint32_t kModifyChunk = 65536;

struct Call {
  explicit Call(const char* adapter) : adapter_name(adapter), key(da::adapter_key(adapter)) {}
  const char* adapter_name;
  plat::WString key;
  WmiHelper wmi{da::kRootWmi};

  template <class Put, class Get>
  int32_t method(const char16_t* class_name, const char16_t* name, OnFailure how, Put put,
                 Get get) {
    return run_method(wmi, adapter_name, key, class_name, name, how, put, get);
  }
};

uint32_t load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

NvmDirEntry entry_from(const uint8_t* p) {
  NvmDirEntry e;
  e.dir_type = load16(p);
  e.dir_ordinal = load16(p + 2);
  e.dir_ext = load16(p + 4);
  e.dir_attr = load16(p + 6);
  e.location = load32(p + 8);
  e.dir_item_length = load32(p + 12);
  e.data_length = load32(p + 16);
  e.reserved = load32(p + 20);
  return e;
}

// Value bytes an option call moves: the request's length field, at most
// the value array.
uint32_t option_bytes(const NvmOptionRequest& r) {
  return std::min<uint32_t>(r.length, static_cast<uint32_t>(kNvmOptionValueBytes));
}

bool put_option_selectors(WmiHelper& wmi, WmiObject* in, const NvmOptionRequest& r) {
  return wmi.PutUInt16(in, u"length", r.length) && wmi.PutUInt16(in, u"option_num", r.option_num) &&
         wmi.PutUInt16(in, u"dimensions", r.dimensions) &&
         wmi.PutUInt16(in, u"index_0", r.index[0]) && wmi.PutUInt16(in, u"index_1", r.index[1]) &&
         wmi.PutUInt16(in, u"index_2", r.index[2]) && wmi.PutUInt16(in, u"index_3", r.index[3]);
}

}  // namespace

int32_t vrexnvmReadBar(const char* adapter_name, uint32_t offset, uint32_t* value) {
  if (value != nullptr) *value = 0;
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  uint32_t read = 0;
  const int32_t status = c.method(
      da::kHwDeviceAccess, u"ReadReg32", OnFailure::kLastError,
      [&](WmiObject* in) { return c.wmi.PutUInt32(in, u"offset", offset); },
      [&](const WmiObject* out) { return c.wmi.GetUInt32(out, u"value", &read); });
  if (status == 0 && value != nullptr) *value = read & ~0xFu;
  return status;
}

int32_t vrexnvmResetFw(const char* adapter_name, uint8_t reset_flag) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  return c.method(
      da::kNvramAccess, u"ResetFw", OnFailure::kNegatedLastError,
      [&](WmiObject* in) {
        return c.wmi.PutUInt8(in, u"processor_type", 6) && c.wmi.PutUInt8(in, u"reset_type", 1) &&
               c.wmi.PutUInt8(in, u"reset_flag", reset_flag);
      },
      nullptr);
}

int32_t vrexnvmGetFwHealthStatus(const char* adapter_name, uint32_t* status) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  uint32_t health = 0;
  const int32_t result =
      c.method(da::kNvramAccess, u"GetFwHealthStatus", OnFailure::kLastError, nullptr,
               [&](const WmiObject* out) { return c.wmi.GetUInt32(out, u"FwHealthStatus", &health); });
  if (result != 0) return result;
  nvm_trace(0, 0, "FW health status = 0x%x\n", health);
  if (status != nullptr) *status = health;
  return 0;
}

int32_t vrexnvmSyncFwImages(const char* adapter_name, uint32_t* sync_status) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  uint32_t synced = 0;
  const int32_t result = c.method(
      da::kNvramAccess, u"SyncFwImages", OnFailure::kLastError,
      [&](WmiObject* in) { return c.wmi.PutUInt32(in, u"sync_actions", 0x8000003Fu); },
      [&](const WmiObject* out) { return c.wmi.GetUInt32(out, u"sync_status", &synced); });
  if (result != 0) return result;
  nvm_trace(0, 0, "sync_status = 0x%x\n", synced);
  if (sync_status != nullptr) *sync_status = synced;
  return 0;
}

int32_t vrexnvmFactoryDefaults(const char* adapter_name, uint8_t mode, uint8_t* result) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  uint8_t done = 0;
  const int32_t status = c.method(
      da::kNvramAccess, u"FactoryDefaults", OnFailure::kLastError,
      [&](WmiObject* in) { return c.wmi.PutUInt8(in, u"mode", mode); },
      [&](const WmiObject* out) { return c.wmi.GetUInt8(out, u"result", &done); });
  if (status == 0 && result != nullptr) *result = done;
  return status;
}

int32_t vrexnvmCreateItem(const char* adapter_name, uint16_t dir_type, uint16_t dir_ordinal,
                          uint16_t dir_ext, uint16_t dir_attr, uint32_t dir_item_length) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  uint32_t index = 0;
  const int32_t status = c.method(
      da::kNvramAccess, u"Create", OnFailure::kLastError,
      [&](WmiObject* in) {
        return c.wmi.PutUInt32(in, u"dir_type", dir_type) &&
               c.wmi.PutUInt32(in, u"dir_ordinal", dir_ordinal) &&
               c.wmi.PutUInt32(in, u"dir_ext", dir_ext) &&
               c.wmi.PutUInt32(in, u"dir_attr", dir_attr) &&
               c.wmi.PutUInt32(in, u"dir_item_length", dir_item_length);
      },
      [&](const WmiObject* out) { return c.wmi.GetUInt32(out, u"dir_index", &index); });
  if (status != 0) return status;
  return static_cast<int32_t>(index);
}

int32_t vrexnvmFlushNvm(const char* adapter_name, const NvmOptionRequest* /*request*/) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  // The dummy parameter carries nothing; 0 is sent.
  return c.method(
      da::kNvramAccess, u"FlushNvm", OnFailure::kLastError,
      [&](WmiObject* in) { return c.wmi.PutUInt16(in, u"dummy", 0); }, nullptr);
}

// The directory method pair; *received (may be null) gets the number of
// bytes of entries the driver returned.
static int32_t get_directory(const char* adapter_name, uint32_t* count, uint32_t* entry_length,
                             uint8_t* buffer, uint32_t capacity, uint32_t* received) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  uint32_t num = 0;
  uint32_t length = 0;
  int32_t status = c.method(da::kNvramAccess, u"GetDirectoryInfo", OnFailure::kNegatedLastError,
                            nullptr, [&](const WmiObject* out) {
                              return c.wmi.GetUInt32(out, u"num_dir_entries", &num) &&
                                     c.wmi.GetUInt32(out, u"dir_entry_length", &length);
                            });
  if (status != 0) return status;
  if (entry_length != nullptr) *entry_length = length;
  if (length < kMinEntryLength) return TSYRETVAL_INVALID_LENGTH_PARAMETER;
  if (count != nullptr) *count = num;
  if (num == 0) return 0;
  return c.method(
      da::kNvramAccess, u"GetDirectoryEntries", OnFailure::kLastError,
      [&](WmiObject* in) { return c.wmi.PutUInt32(in, u"length", capacity); },
      [&](const WmiObject* out) {
        uint32_t got = capacity;
        const bool ok = c.wmi.GetBytes(out, u"buffer", buffer, &got);
        if (ok && received != nullptr) *received = got;
        return ok;
      });
}

int32_t vrexnvmGetDirectory(const char* adapter_name, uint32_t* count, uint32_t* entry_length,
                            uint8_t* buffer, uint32_t capacity) {
  return get_directory(adapter_name, count, entry_length, buffer, capacity, nullptr);
}

// Reads the directory into a zeroed buffer of capacity_bytes; *received is
// how many bytes of entries came back.
static int32_t read_raw_directory(const char* adapter_name, uint32_t capacity_bytes,
                                  std::vector<uint8_t>* raw, uint32_t* count,
                                  uint32_t* entry_length, uint32_t* received) {
  try {
    raw->assign(capacity_bytes, 0);
  } catch (const std::bad_alloc&) {
    return TSYRETVAL_MALLOC_FAILURE;
  }
  *count = 0;
  *entry_length = 0;
  *received = 0;
  return get_directory(adapter_name, count, entry_length, raw->data(), capacity_bytes, received);
}

int32_t vrexnvmReadDirectory(const char* adapter_name, uint32_t* count, NvmDirEntry* entries,
                             uint32_t capacity) {
  if (count != nullptr) *count = 0;
  std::vector<uint8_t> raw;
  uint32_t num = 0;
  uint32_t length = 0;
  uint32_t received = 0;
  const int32_t status =
      read_raw_directory(adapter_name, kDirectoryBytes, &raw, &num, &length, &received);
  if (count != nullptr) *count = num;
  if (status != 0 || entries == nullptr) return status;
  if (capacity < num) return TSYRETVAL_INSUFFICIENT_SPACE;
  for (uint32_t i = 0; i < num; ++i) {
    const uint64_t at = uint64_t{i} * length;
    if (at + kMinEntryLength > received) break;
    entries[i] = entry_from(raw.data() + at);
  }
  return 0;
}

int32_t vrexnvmFindDirEntry(const char* adapter_name, uint16_t dir_type, uint16_t dir_ordinal,
                            uint16_t dir_ext, NvmDirEntry* entry) {
  if (entry != nullptr) *entry = NvmDirEntry{};
  std::vector<NvmDirEntry> entries;
  try {
    entries.assign(kLookupEntries, NvmDirEntry{});
  } catch (const std::bad_alloc&) {
    return TSYRETVAL_MALLOC_FAILURE;
  }
  uint32_t count = 0;
  const int32_t status = vrexnvmReadDirectory(adapter_name, &count, entries.data(), kLookupEntries);
  if (status != 0) return status;
  for (uint32_t i = 0; i < count && i < kLookupEntries; ++i) {
    const NvmDirEntry& e = entries[i];
    if (e.dir_type == dir_type && e.dir_ordinal == dir_ordinal && e.dir_ext == dir_ext) {
      if (entry != nullptr) *entry = e;
      return static_cast<int32_t>(i);
    }
  }
  return TSYRETVAL_ITEM_NOT_FOUND;
}

int32_t vrexnvmReadItem(const char* adapter_name, uint32_t dir_index, uint32_t offset,
                        uint8_t* buffer, uint32_t length) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  return c.method(
      da::kNvramAccess, u"Read", OnFailure::kNegatedLastError,
      [&](WmiObject* in) {
        return c.wmi.PutUInt32(in, u"dir_index", dir_index) &&
               c.wmi.PutUInt32(in, u"length", length) && c.wmi.PutUInt32(in, u"offset", offset);
      },
      [&](const WmiObject* out) {
        uint32_t got = length;
        return c.wmi.GetBytes(out, u"buffer", buffer, &got);
      });
}

int32_t vrexnvmModifyItem(const char* adapter_name, uint16_t dir_index, uint32_t offset,
                          const uint8_t* data, uint32_t length) {
  if (offset >= length) return 0;
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  while (offset < length) {
    const uint32_t chunk = std::min(length - offset, kModifyChunk);
    const int32_t status = c.method(
        da::kNvramAccess, u"Modify", OnFailure::kNegatedLastError,
        [&](WmiObject* in) {
          return c.wmi.PutUInt32(in, u"dir_index", dir_index) &&
                 c.wmi.PutUInt32(in, u"offset", offset) && c.wmi.PutUInt32(in, u"length", chunk) &&
                 c.wmi.PutBytes(in, u"buffer", data != nullptr ? data + offset : nullptr, chunk);
        },
        nullptr);
    if (status != 0) return status;
    offset += chunk;
  }
  return 0;
}

int32_t vrexnvmGetNvmOption(const char* adapter_name, NvmOptionRequest* request) {
  if (request == nullptr) return TSYRETVAL_INVALID_POINTER_PARAMETER;
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  return c.method(
      da::kNvramAccess, u"GetNvmOpt", OnFailure::kLastError,
      [&](WmiObject* in) { return put_option_selectors(c.wmi, in, *request); },
      [&](const WmiObject* out) {
        uint32_t got = option_bytes(*request);
        return c.wmi.GetBytes(out, u"out_buff", request->value, &got);
      });
}

int32_t vrexnvmSetNvmOption(const char* adapter_name, const NvmOptionRequest* request) {
  if (request == nullptr) return TSYRETVAL_INVALID_POINTER_PARAMETER;
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  return c.method(
      da::kNvramAccess, u"SetNvmOpt", OnFailure::kLastError,
      [&](WmiObject* in) {
        return put_option_selectors(c.wmi, in, *request) &&
               c.wmi.PutBytes(in, u"in_buff", request->value, option_bytes(*request));
      },
      nullptr);
}

int32_t vrexnvmGetFwResetCount(const char* adapter_name, uint32_t* count) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  std::unique_ptr<WmiObject> instance;
  uint32_t value = 0;
  if (!c.wmi.GetInstanceByName(da::kFwResetState, c.key, &instance) ||
      !c.wmi.GetUInt32(instance.get(), u"fw_reset_cnt", &value)) {
    return da::kInterfaceFailure;
  }
  if (count != nullptr) *count = value;
  return 0;
}

int32_t vrexnvmGetPackageVersion(const char* adapter_name, char* buffer, size_t size) {
  Call c(adapter_name);
  if (!c.wmi.IsConnected()) return da::kInterfaceFailure;
  std::unique_ptr<WmiObject> instance;
  plat::WString version;
  if (!c.wmi.GetInstanceByName(da::kNvramPackage, c.key, &instance) ||
      !c.wmi.GetString(instance.get(), u"Version", &version)) {
    return da::kInterfaceFailure;
  }
  if (buffer == nullptr || size == 0) return TSYRETVAL_FAILURE;
  plat::Kernel* kernel = plat::platform_services().kernel;
  uint32_t written = 0;
  const uint32_t room = static_cast<uint32_t>(std::min<size_t>(size - 1, UINT32_MAX));
  if (version.empty()) {
    buffer[0] = '\0';
    return 0;
  }
  if (kernel == nullptr || room == 0 ||
      kernel->wide_to_multibyte(plat::kCpUtf8, plat::kWcErrInvalidChars, version, buffer, room,
                                &written) != plat::kErrorSuccess ||
      written > room) {
    buffer[0] = '\0';
    return TSYRETVAL_FAILURE;
  }
  buffer[written] = '\0';
  return 0;
}
