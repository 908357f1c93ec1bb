// ndam_internal.h: what the library's files share and nothing outside the
// library includes: the adapter node and list, the library state, the log,
// and the internal procedures of enumeration, driver information, TCP/IP
// information and diagnostic access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ndam/ngndam.h"
#include "platform/platform.h"

namespace ndam {

// ---------------------------------------------------------------------------
// Log levels (bits of the level mask).
inline constexpr std::uint32_t kLogInformation = 1;
inline constexpr std::uint32_t kLogWarning = 2;
inline constexpr std::uint32_t kLogError = 4;
inline constexpr std::uint32_t kLogDiagError = 8;

// Message and entry buffers of LogPrint (527 characters and the terminator).
inline constexpr std::size_t kLogBufferSize = 528;

// Writes one log entry when level is in the level mask: the build stamp,
// "NDAM", the level text, tick count, process and thread ids, then the
// message. No line end is added.
#if defined(__GNUC__) || defined(__clang__)
#define NDAM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define NDAM_PRINTF_FORMAT(f, a)
#endif
void LogPrint(std::uint32_t level, const char* format, ...) NDAM_PRINTF_FORMAT(2, 3);

// Creates the log mutex (logging stays off until InitializeLogFile).
void CreateLogMutex();
// Reads the level from "mgmtapps.conf" and opens "ngndam.log" when logging
// is on. 0 or ngNDAM_LOG_OPEN_FAILED.
std::uint32_t InitializeLogFile();
// Logs the closing line, closes the log file and switches logging off.
void UnInitializeLogFile();
// Closes the log mutex handle, if any.
void CloseLogMutex();

// The mask a configuration level gives (1 -> 0xF, 2 -> 0xE, 4 -> 0xC,
// 8 -> 0x8, anything else 0).
std::uint32_t LevelMaskOf(std::uint32_t level);

// ---------------------------------------------------------------------------
// The adapter node. Allocated zero-filled; handles kNoHandle when absent.
struct NicNode {
  NicNode* next = nullptr;
  NicNode* prev = nullptr;
  std::uint32_t lookup_id = 0;
  PhyNic record{};
  plat::Handle device_handle = plat::kNoHandle;  // open while the adapter lock is held
  plat::Handle lock_handle = plat::kNoHandle;    // the adapter lock while held
  std::uint32_t owner_pid = 0;
  std::uint32_t owner_tid = 0;
  std::uint32_t ndis_major = 0;
  std::uint32_t ndis_minor = 0;
  char instance_id[200] = {};
};

// Library state, one per process.
struct Library {
  NicNode* head = nullptr;
  NicNode* tail = nullptr;
  std::uint32_t next_handle = 0;
  std::uint32_t refcount = 0;
  char device_prefix[16] = {};  // "Global\\" once the list is being built
  // The library lock; engaged between LockCreate and its deletion.
  std::optional<plat::RecursiveLock> lock;
  plat::Handle instance_mutex = plat::kNoHandle;
  // Log state.
  std::uint32_t level_mask = 0;
  plat::Handle log_file = plat::kNoHandle;
  plat::Handle log_mutex = plat::kNoHandle;
};

Library& library();

// The seam's services of the backend in use.
inline plat::Services& os() { return plat::platform_services(); }

// Takes and releases the library lock (it must exist).
void LockTake();
void LockRelease();

// Security attributes with a null DACL for the named objects, prepared in
// *sa. A descriptor that cannot be initialised or a DACL that cannot be set
// is logged at ERROR (with the texts of the adapter lock when for_adapter_lock)
// and gives null: the object then gets default security.
const plat::SecurityAttributes* NullDaclAttributes(plat::SecurityAttributes* sa,
                                                   bool for_adapter_lock);

// ---------------------------------------------------------------------------
// Adapter list.
NicNode* AllocNic();
void AppendNic(NicNode* node);
NicNode* FindNic(std::uint32_t handle);
void FreeNic(NicNode* node);
void FreeNicList();

std::uint32_t InitInternalData();
void FreeInternalData();

// Enumeration.
std::uint32_t ReadConfig();
NicNode* GetNicInfoW2k(plat::Handle set, const plat::DevInfoData& data);
void GetLocationInfoW2k(NicNode* node, plat::Handle set, const plat::DevInfoData& data);
void ReadDriverFileName(NicNode* node);
void SetNicType(NicNode* node);
// The PCI ids and revision read by position from the text after the
// enumerator ("\VEN_vvvv&DEV_dddd&SUBSYS_ssssnnnn&REV_rr..."); positions
// past the end of the text read as 0.
void ParsePciInstanceId(std::string_view after_enumerator, PhyNic* record);

// Driver and link information.
std::uint32_t ReadDriverGenInfo(NicNode* node);
std::uint32_t DoNicIOCTL(NicNode* node, std::uint32_t code, const std::uint8_t* input,
                         std::uint32_t input_length, std::uint8_t* output,
                         std::uint32_t* output_length, std::uint32_t* system_error);
std::uint32_t ReadNetClassValue(const char* net_cfg_instance_id, plat::WStringView class_key,
                                plat::WStringView value_name, std::uint32_t* reg_type,
                                char* output, std::uint32_t* capacity);
std::uint32_t ReadVlanId(const char* net_cfg_instance_id, NdamVlanBlock* vlan);
void SetListedDeviceFlag(NicNode* node);
void GetNicPciInfoNT(NicNode* node);
std::uint32_t VrexGetChipInfo(NicNode* node);
std::uint32_t ReadRegister32(const char* adapter_name, std::uint32_t offset,
                             std::uint32_t* value);
std::uint32_t GetSriovInfo(NicNode* node);
void ReadWakeOnMagicPacket(NicNode* node);
// Mb/s of an OID_GEN_LINK_SPEED answer (units of 100 bit/s); 0 when unlisted.
std::uint32_t LinkSpeedMbps(std::uint32_t answer);

// TCP/IP information.
std::uint32_t ReadTcpipInfo();
std::uint32_t ReadTcpipInfoNET(NicNode* node);
std::uint32_t MatchAdapterInfo(NicNode* node, const plat::IpAdapterInfoList* list);
std::uint32_t ReadTcpipRegistry(NicNode* node);
std::uint32_t ReadIpV6Info(NicNode* node);
std::uint32_t ReadIPv6InfoNET(NicNode* node, const plat::IpAdapterAddressesList* list);

// Diagnostic access.
std::uint32_t InitDiag(NicNode* node);
std::uint32_t UnInitDiag(NicNode* node);
std::uint32_t IsNICEnabled(NicNode* node);

// ---------------------------------------------------------------------------
// Text helpers.

// Copies src into the zero-filled field dst[0..capacity), cut to
// capacity - 1 characters, always terminated.
void CopyText(char* dst, std::size_t capacity, std::string_view src);
// The length of a text in a field, never past the field's end.
std::size_t FieldLength(const char* field, std::size_t capacity);
inline std::string_view FieldText(const char* field, std::size_t capacity) {
  return {field, FieldLength(field, capacity)};
}
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}
template <std::size_t N>
void CopyText(char (&dst)[N], std::string_view src) {
  CopyText(dst, N, src);
}
// Case-insensitive (ASCII) comparisons.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// The adapter text of a NetCfgInstanceId: without a leading "\\?\" in any
// letter case.
std::string_view AdapterText(std::string_view net_cfg_instance_id);
// A decimal number at the start of text, as atoi reads it (0 for none).
std::uint32_t DecimalValue(std::string_view text);

}  // namespace ndam
