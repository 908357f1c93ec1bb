// device_io.h: device objects: open one by name, send it device I/O control
// requests (the NDIS query requests), close it with Kernel::close_handle.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/types.h"

namespace plat {

// Access, sharing and disposition values (shared with the file calls).
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kFileShareWrite = 0x2;
inline constexpr std::uint32_t kFileShareDelete = 0x4;
inline constexpr std::uint32_t kCreateNew = 1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kTruncateExisting = 5;

// The NDIS query request and the OIDs the program asks.
inline constexpr std::uint32_t kIoctlNdisQueryGlobalStats = 0x00170002;
inline constexpr std::uint32_t kOid8023PermanentAddress = 0x01010101;
inline constexpr std::uint32_t kOid8023CurrentAddress = 0x01010102;
inline constexpr std::uint32_t kOidGenMaximumFrameSize = 0x00010106;
inline constexpr std::uint32_t kOidGenLinkSpeed = 0x00010107;
inline constexpr std::uint32_t kOidGenDriverVersion = 0x00010110;
inline constexpr std::uint32_t kOidGenMediaConnectStatus = 0x00010114;
inline constexpr std::uint32_t kOidGenLinkState = 0x00010207;
inline constexpr std::uint32_t kOidGenPciDeviceCustomProperties = 0x00010211;
inline constexpr std::uint32_t kOidGenPhysicalMediumEx = 0x00010213;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // Opens the device object named path ("\\\\.\\Global\\{GUID}" or
  // "\\\\?\\...") into *device. A device object that does not exist gives
  // kErrorFileNotFound.
  virtual std::uint32_t open_device(std::string_view path, std::uint32_t access,
                                    std::uint32_t share, std::uint32_t disposition,
                                    Handle* device) = 0;
  // Sends control request code with input to device; the answer goes into
  // output and *returned (always set) is the number of bytes written there.
  // An output too small for the answer fails with kErrorInsufficientBuffer
  // (or kErrorMoreData with a partial answer, as the driver decides).
  virtual std::uint32_t io_control(Handle device, std::uint32_t code,
                                   std::span<const std::uint8_t> input,
                                   std::span<std::uint8_t> output,
                                   std::uint32_t* returned) = 0;
};

}  // namespace plat
