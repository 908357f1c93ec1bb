// driver_access.h: the driver-access layer's one public header.
//
// Everything the program asks of an adapter's driver beyond NDIS queries goes
// through the driver's WMI classes in "root\\wmi" (TSLY_NVRAMAccess,
// TSLY_HwDeviceAccess, TSLY_NVRAMPackage, TSLY_FWTime, TSLY_FwResetState),
// each with one instance per adapter keyed by InstanceName = the adapter
// name (the NIC record's name, 8-bit text of at most 255 characters).
//
// WmiHelper wraps one namespace connection for one operation. The vrexnvm
// operations each build their own helper, run one to three WMI calls and
// release everything before returning. They return a signed 32-bit result:
// 0 success, a negative TSYRETVAL status (package/package.h), or a positive
// code of the firmware or driver. A failed method is explained by the
// driver's last error (vrexnvmGetLastError); a failed method never reads as
// success: when the driver recorded no error code the result is
// TSYRETVAL_DEVICE_DRIVER_INTERFACE_FAILURE (-41).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/types.h"
#include "platform/wmi.h"

// ---------------------------------------------------------------------------
// WmiHelper

class WmiHelper {
 public:
  // Enters the multithreaded COM apartment, sets process security (accepting
  // that it was set before), creates the administrative locator and connects
  // to namespace_path ("root\\wmi"). Never fails visibly: see IsConnected.
  explicit WmiHelper(plat::WStringView namespace_path);
  // Releases the services and locator and leaves COM if the constructor
  // entered it.
  virtual ~WmiHelper();
  WmiHelper(const WmiHelper&) = delete;
  WmiHelper& operator=(const WmiHelper&) = delete;

  bool IsConnected() const { return connected_; }

  // The in-parameter object of class_name.method_name (the signature object
  // itself); replaces what *in_params held. The class object is released.
  bool GetMethodInParams(plat::WStringView class_name, plat::WStringView method_name,
                         std::unique_ptr<plat::WmiObject>* in_params);
  // Executes method_name on the instance class_name.InstanceName="adapter"
  // (escaped) with in_params (null for none); *out_params receives the
  // out-parameter object.
  bool ExecMethod(plat::WStringView class_name, plat::WStringView adapter_name,
                  plat::WStringView method_name, const plat::WmiObject* in_params,
                  std::unique_ptr<plat::WmiObject>* out_params);
  // The instance \\COMPUTER\root\wmi:class_name.InstanceName="adapter".
  bool GetInstanceByName(plat::WStringView class_name, plat::WStringView adapter_name,
                         std::unique_ptr<plat::WmiObject>* instance);
  // The instance \\COMPUTER\namespace_path:class_name.InstanceID="id".
  bool GetInstanceById(plat::WStringView namespace_path, plat::WStringView class_name,
                       plat::WStringView id, std::unique_ptr<plat::WmiObject>* instance);

  // Typed puts (CIM type 0: the property's declared type decides).
  // PutUInt16 tries VT_UI2, then VT_I2, then VT_I4. PutUInt32 sends VT_I4
  // and refuses 0xFFFFFFFF. PutBytes refuses a null pointer; an empty array
  // is allowed.
  bool PutUInt8(plat::WmiObject* object, plat::WStringView name, uint8_t value);
  bool PutUInt16(plat::WmiObject* object, plat::WStringView name, uint16_t value);
  bool PutUInt32(plat::WmiObject* object, plat::WStringView name, uint32_t value);
  bool PutBytes(plat::WmiObject* object, plat::WStringView name, const uint8_t* data,
                uint32_t length);
  // Typed gets. GetUInt8 needs VT_UI1, GetUInt16 VT_I4 (low 16 bits),
  // GetString VT_BSTR, GetBool VT_BOOL; GetUInt32 takes the low 32 bits of
  // any variant (a null property reads as 0). GetBytes needs an array of
  // VT_UI1 and copies at most *capacity elements into buffer, storing the
  // number copied in *capacity.
  bool GetUInt8(const plat::WmiObject* object, plat::WStringView name, uint8_t* value);
  bool GetUInt16(const plat::WmiObject* object, plat::WStringView name, uint16_t* value);
  bool GetUInt32(const plat::WmiObject* object, plat::WStringView name, uint32_t* value);
  bool GetString(const plat::WmiObject* object, plat::WStringView name, plat::WString* value);
  bool GetBool(const plat::WmiObject* object, plat::WStringView name, bool* value);
  bool GetBytes(const plat::WmiObject* object, plat::WStringView name, uint8_t* buffer,
                uint32_t* capacity);

 private:
  std::unique_ptr<plat::WmiLocator> locator_;
  std::unique_ptr<plat::WmiServices> services_;
  bool connected_ = false;
  bool com_entered_ = false;
};

// Object paths, exposed for the tests. A key value is escaped (" as \",
// \ as \\) into at most 511 UTF-16 units; a longer value is cut before the
// first character whose escaped form would not fit.
plat::WString wmi_escape_key(plat::WStringView value);
// "%s.InstanceName=\"%s\""
plat::WString wmi_method_path(plat::WStringView class_name, plat::WStringView adapter_name);
// "\\\\%s\\root\\wmi:%s.InstanceName=\"%s\""
plat::WString wmi_instance_name_path(plat::WStringView computer, plat::WStringView class_name,
                                     plat::WStringView adapter_name);
// "\\\\%s\\%s:%s.InstanceID=\"%s\""
plat::WString wmi_instance_id_path(plat::WStringView computer, plat::WStringView namespace_path,
                                   plat::WStringView class_name, plat::WStringView id);

// The layer's trace hook. It writes nothing anywhere.
void nvm_trace(int level, int flag, const char* format, ...);

// ---------------------------------------------------------------------------
// NVM records.

// One directory entry, as the driver returns it (the first 24 bytes of each
// of its entries), little-endian.
struct NvmDirEntry {
  uint16_t dir_type;
  uint16_t dir_ordinal;
  uint16_t dir_ext;
  uint16_t dir_attr;
  uint32_t location;         // not interpreted
  uint32_t dir_item_length;  // space allocated to the item
  uint32_t data_length;      // valid data bytes in the item
  uint32_t reserved;
};
static_assert(sizeof(NvmDirEntry) == 24);

inline constexpr size_t kNvmOptionValueBytes = 580;

// One NVM option read or write. The driver calls send option_num, length,
// dimensions, index_0..3 and the value bytes; the other fields belong to the
// front end (sizing, PCI location).
struct NvmOptionRequest {
  uint16_t option_num;
  uint16_t max_instance_index;
  uint16_t pci_segment;
  uint16_t pci_bus;
  uint16_t pci_device;
  uint16_t pci_function;
  uint16_t direction;        // 1 set, 2 get
  uint16_t length;           // option width in bits
  uint16_t byte_count;       // (length + 7) / 8
  uint16_t dimensions;
  uint16_t index[4];
  uint32_t staged_value;
  uint8_t value[kNvmOptionValueBytes];
};

// ---------------------------------------------------------------------------
// Last error: asks the driver why method_name failed on the adapter and maps
// the answer: ReqType 0xFFFE with CommandSpecificErrorCode 2 gives
// TSYRETVAL_NVM_WRITE_CMD_ERR_CODE_NO_SPACE (-158), with 1
// TSYRETVAL_NVM_WRITE_CMD_ERR_CODE_FRAG_ERR (-157); ReqType 0xFFF3 with 3
// TSYRETVAL_NVM_INSTALL_UPDATE_CMD_ERR_CODE_ANTI_ROLLBACK (-151); anything
// else the ErrorCode (0..65535). -41 when the query itself fails.
int32_t vrexnvmGetLastError(const char* adapter_name, const char16_t* method_name);
// The mapping alone.
int32_t nvm_last_error_result(uint16_t req_type, uint16_t error_code, uint16_t cmd_error);

// ---------------------------------------------------------------------------
// Device and NVM methods. Every *out is written only on success unless said.

// TSLY_HwDeviceAccess.ReadReg32; *value is 0 until read, stored with its
// lowest four bits cleared.
int32_t vrexnvmReadBar(const char* adapter_name, uint32_t offset, uint32_t* value);
int32_t vrexnvmResetFw(const char* adapter_name, uint8_t reset_flag);
int32_t vrexnvmGetFwHealthStatus(const char* adapter_name, uint32_t* status);
int32_t vrexnvmSyncFwImages(const char* adapter_name, uint32_t* sync_status);
int32_t vrexnvmFactoryDefaults(const char* adapter_name, uint8_t mode, uint8_t* result);
// Returns the new item's directory index (0 or more) or a failure.
int32_t vrexnvmCreateItem(const char* adapter_name, uint16_t dir_type, uint16_t dir_ordinal,
                          uint16_t dir_ext, uint16_t dir_attr, uint32_t dir_item_length);
int32_t vrexnvmFlushNvm(const char* adapter_name, const NvmOptionRequest* request);
// Raw directory: *count and *entry_length are stored as soon as read; at most
// capacity bytes of entries (entry_length apart) go to buffer.
int32_t vrexnvmGetDirectory(const char* adapter_name, uint32_t* count, uint32_t* entry_length,
                            uint8_t* buffer, uint32_t capacity);
// The directory as entries; entries may be null to learn the count.
// TSYRETVAL_INSUFFICIENT_SPACE when capacity is below the count.
int32_t vrexnvmReadDirectory(const char* adapter_name, uint32_t* count, NvmDirEntry* entries,
                             uint32_t capacity);
// The index of the first entry with that identity, its entry copied to *entry
// (zeroed first; may be null); TSYRETVAL_ITEM_NOT_FOUND when there is none.
int32_t vrexnvmFindDirEntry(const char* adapter_name, uint16_t dir_type, uint16_t dir_ordinal,
                            uint16_t dir_ext, NvmDirEntry* entry);
// One Read of length bytes at offset; bytes the driver does not return stay
// as they were in buffer.
int32_t vrexnvmReadItem(const char* adapter_name, uint32_t dir_index, uint32_t offset,
                        uint8_t* buffer, uint32_t length);
// Writes data[offset..length) to the item's bytes offset..length, in Modify
// calls of at most 65,536 bytes; data addresses the item's byte 0.
int32_t vrexnvmModifyItem(const char* adapter_name, uint16_t dir_index, uint32_t offset,
                          const uint8_t* data, uint32_t length);
int32_t vrexnvmGetNvmOption(const char* adapter_name, NvmOptionRequest* request);
int32_t vrexnvmSetNvmOption(const char* adapter_name, const NvmOptionRequest* request);
// fw_reset_cnt of TSLY_FwResetState.
int32_t vrexnvmGetFwResetCount(const char* adapter_name, uint32_t* count);
// Version of TSLY_NVRAMPackage as UTF-8 in buffer[0..size) with its zero;
// TSYRETVAL_FAILURE when it does not fit or is not valid UTF-16.
int32_t vrexnvmGetPackageVersion(const char* adapter_name, char* buffer, size_t size);

// ---------------------------------------------------------------------------
// HWRM pass-through.

inline constexpr uint16_t kHwrmSideToFirmware = 0;
inline constexpr uint16_t kHwrmSideFromFirmware = 1;

struct HwrmSideBuffer {
  uint8_t* data;
  uint32_t length;
  uint16_t passthrough;  // passed to the driver unchanged
  uint16_t direction;    // kHwrmSideToFirmware or kHwrmSideFromFirmware
};

// HwrmPtVb transport codes.
enum : int32_t {
  HWRMPTVB_OK = 0,
  HWRMPTVB_NOT_CONNECTED = 1,
  HWRMPTVB_NO_INPUT_MEMORY = 2,
  HWRMPTVB_PUT_IN_LENGTH = 4,
  HWRMPTVB_PUT_OUT_LENGTH = 5,
  HWRMPTVB_PUT_IN = 6,
  HWRMPTVB_EXEC_FAILED = 7,
  HWRMPTVB_GET_OUT_LENGTH = 8,
  HWRMPTVB_ZERO_OUT_LENGTH = 9,
  HWRMPTVB_NO_OUTPUT_MEMORY = 10,
  HWRMPTVB_GET_OUT = 11,
  HWRMPTVB_BAD_MESSAGE_OFFSET = 12,
  HWRMPTVB_FW_ERROR = 14,
  HWRMPTVB_NOT_OFFERED = 255,
};

// HwrmPt: 0, TSYRETVAL_INVALID_LENGTH (-9) for a response length of 0 or
// above the capacity, or -41. req_type is used for the trace only.
int32_t vrexnvmHwrmPt(const char* adapter_name, const uint8_t* request, uint32_t request_length,
                      uint8_t* response, uint32_t response_capacity, uint16_t req_type);
// HwrmPtVb: a transport code above.
int32_t vrexnvmHwrmPtVb(const char* adapter_name, const uint8_t* request,
                        uint32_t request_length, uint8_t* response, uint32_t response_capacity,
                        HwrmSideBuffer* side_buffers, uint32_t side_count);
// Function configuration (0x0016): sets *multi_host / *multi_root to 1 for
// flags 0x20 / 0x2000; never clears them.
int32_t vrexnvmQueryFuncConfig(const char* adapter_name, uint8_t* multi_host,
                               uint8_t* multi_root);
// Firmware status (0x00C1): *value is response byte 9 (selector true) or 8.
int32_t vrexnvmFwQueryStatus(const char* adapter_name, bool selector, uint8_t* value);
// NVM defragmentation (0xFFEC).
int32_t vrexnvmDefrag(const char* adapter_name);

// ---------------------------------------------------------------------------
// Package installation.

// Writes a whole image into the item with that identity, creating it (with
// the image length as its allocation) when missing.
int32_t vrexnvmWriteItem(const char* adapter_name, uint16_t dir_type, uint16_t dir_ordinal,
                         uint16_t dir_ext, uint16_t dir_attr, const uint8_t* data,
                         uint32_t length);
// Writes the package into the update item (type 2), sets the firmware time
// and runs InstallUpdate. Returns the firmware's result byte (0..255) or a
// failure; *problem_item gets the named item as a signed byte, and
// *reset_required is set to 1 when the firmware asks for a reset.
int32_t vrexnvmInstallUpdate(const char* adapter_name, const uint8_t* data, uint32_t length,
                             int32_t* problem_item, uint8_t* reset_required,
                             uint32_t install_type);
// Installs one package: makes sure the update item exists and is large
// enough, then vrexnvmInstallUpdate. *problem_item (may be null) is -1 until
// the firmware names one; reserved plays no part.
int32_t vrexnvmInstallPackage(const char* adapter_name, const uint8_t* image, uint32_t length,
                              int32_t* problem_item, uint8_t* reset_required,
                              uint32_t install_type, uint16_t reserved);
