// device_installer.h: device sets and their members, device registry
// properties, class-install parameters and state changes, and device node
// status, with the host device installer's semantics.
//
// Buffer protocol of the property and instance-id reads: the caller passes a
// buffer and its size; when it is too small (or absent) the call fails with
// kErrorInsufficientBuffer and stores the size needed. A property the device
// does not have fails with kErrorInvalidData.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/types.h"

namespace plat {

// Flags of get_class_devs.
inline constexpr std::uint32_t kDigcfDefault = 0x01;
inline constexpr std::uint32_t kDigcfPresent = 0x02;
inline constexpr std::uint32_t kDigcfAllClasses = 0x04;
inline constexpr std::uint32_t kDigcfProfile = 0x08;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10;

// Device registry property ids.
inline constexpr std::uint32_t kSpdrpDeviceDesc = 0x00;
inline constexpr std::uint32_t kSpdrpHardwareId = 0x01;
inline constexpr std::uint32_t kSpdrpCompatibleIds = 0x02;
inline constexpr std::uint32_t kSpdrpService = 0x04;
inline constexpr std::uint32_t kSpdrpClass = 0x07;
inline constexpr std::uint32_t kSpdrpClassGuid = 0x08;
inline constexpr std::uint32_t kSpdrpDriver = 0x09;
inline constexpr std::uint32_t kSpdrpConfigFlags = 0x0A;
inline constexpr std::uint32_t kSpdrpMfg = 0x0B;
inline constexpr std::uint32_t kSpdrpFriendlyName = 0x0C;
inline constexpr std::uint32_t kSpdrpLocationInformation = 0x0D;
inline constexpr std::uint32_t kSpdrpPhysicalDeviceObjectName = 0x0E;
inline constexpr std::uint32_t kSpdrpCapabilities = 0x0F;
inline constexpr std::uint32_t kSpdrpUiNumber = 0x10;
inline constexpr std::uint32_t kSpdrpBusTypeGuid = 0x13;
inline constexpr std::uint32_t kSpdrpLegacyBusType = 0x14;
inline constexpr std::uint32_t kSpdrpBusNumber = 0x15;
inline constexpr std::uint32_t kSpdrpEnumeratorName = 0x16;
inline constexpr std::uint32_t kSpdrpAddress = 0x1C;

// Legacy bus types (the host's INTERFACE_TYPE numbers).
inline constexpr std::uint32_t kLegacyBusInternal = 0;
inline constexpr std::uint32_t kLegacyBusIsa = 1;
inline constexpr std::uint32_t kLegacyBusPci = 5;
inline constexpr std::uint32_t kLegacyBusPcmcia = 8;
inline constexpr std::uint32_t kLegacyBusPnpIsa = 14;

// Class-install functions and state-change values.
inline constexpr std::uint32_t kDifPropertyChange = 0x12;
inline constexpr std::uint32_t kDicsEnable = 1;
inline constexpr std::uint32_t kDicsDisable = 2;
inline constexpr std::uint32_t kDicsPropChange = 3;
inline constexpr std::uint32_t kDicsFlagGlobal = 1;
inline constexpr std::uint32_t kDicsFlagConfigSpecific = 2;

// Install-parameter flags.
inline constexpr std::uint32_t kDiNeedRestart = 0x80;
inline constexpr std::uint32_t kDiNeedReboot = 0x100;

// Configuration manager results, device node status bits and problems.
using ConfigRet = std::uint32_t;
inline constexpr ConfigRet kCrSuccess = 0x00;
inline constexpr ConfigRet kCrFailure = 0x13;
inline constexpr ConfigRet kCrInvalidPointer = 0x03;
inline constexpr ConfigRet kCrInvalidFlag = 0x04;
inline constexpr ConfigRet kCrInvalidDevnode = 0x05;
inline constexpr ConfigRet kCrNoSuchDevnode = 0x0D;
inline constexpr ConfigRet kCrInvalidDeviceId = 0x1E;
inline constexpr std::uint32_t kCmLocateDevnodeNormal = 0;
inline constexpr std::uint32_t kCmLocateDevnodePhantom = 1;
inline constexpr std::uint32_t kDnDriverLoaded = 0x00000002;
inline constexpr std::uint32_t kDnEnumLoaded = 0x00000004;
inline constexpr std::uint32_t kDnStarted = 0x00000008;
inline constexpr std::uint32_t kDnDisableable = 0x00002000;
inline constexpr std::uint32_t kDnHasProblem = 0x00000400;
inline constexpr std::uint32_t kDnNtEnumerator = 0x00800000;
inline constexpr std::uint32_t kDnNtDriver = 0x01000000;
inline constexpr std::uint32_t kCmProbFailedStart = 10;
inline constexpr std::uint32_t kCmProbDisabled = 22;

// One member of a device set. dev_inst is the device node, usable with
// locate/status; reserved is the backend's own.
struct DevInfoData {
  Guid class_guid;
  std::uint32_t dev_inst = 0;
  std::uintptr_t reserved = 0;
};

// Class-install parameters of a property change (the host's
// SP_PROPCHANGE_PARAMS: header of size 8 and install function, state
// change, scope, hardware profile; 20 bytes in all).
struct PropChangeParams {
  std::uint32_t header_size = 8;
  std::uint32_t install_function = kDifPropertyChange;
  std::uint32_t state_change = 0;
  std::uint32_t scope = 0;
  std::uint32_t hw_profile = 0;
};
inline constexpr std::uint32_t kPropChangeParamsSize = 20;

// The part of a device's install parameters that the program reads.
struct DevInstallParams {
  std::uint32_t flags = 0;
  std::uint32_t flags_ex = 0;
};

class DeviceInstaller {
 public:
  virtual ~DeviceInstaller() = default;

  // Opens a set of devices: of class *class_guid (null with
  // kDigcfAllClasses: all classes), filtered by flags. *set receives the
  // set (kNoHandle on failure). Returns 0 or a system error code.
  virtual std::uint32_t get_class_devs(const Guid* class_guid, std::uint32_t flags,
                                       Handle* set) = 0;
  // Member index of set into *data. kErrorNoMoreItems past the end.
  virtual std::uint32_t enum_device_info(Handle set, std::uint32_t index,
                                         DevInfoData* data) = 0;
  // Registry property of a member into buffer (size bytes; buffer may be
  // null when size is 0). *reg_type (may be null) receives the value type,
  // *required (may be null) the size the value needs. Text properties are
  // 8-bit text with a terminating zero (multi-texts end with two).
  virtual std::uint32_t get_device_registry_property(Handle set, const DevInfoData& data,
                                                     std::uint32_t property,
                                                     std::uint32_t* reg_type,
                                                     std::uint8_t* buffer, std::uint32_t size,
                                                     std::uint32_t* required) = 0;
  // Device instance id of a member, with its terminator, into buffer of
  // size characters (kErrorInsufficientBuffer and *required when short).
  virtual std::uint32_t get_device_instance_id(Handle set, const DevInfoData& data,
                                               char* buffer, std::uint32_t size,
                                               std::uint32_t* required) = 0;
  // Sets params (of params_size bytes) as the member's class-install
  // parameters for the next state change.
  virtual std::uint32_t set_class_install_params(Handle set, const DevInfoData& data,
                                                 const PropChangeParams& params,
                                                 std::uint32_t params_size) = 0;
  // Calls the class installer for install function dif on the member.
  virtual std::uint32_t call_class_installer(std::uint32_t dif, Handle set,
                                             const DevInfoData& data) = 0;
  // Applies the member's class-install parameters (enable or disable).
  virtual std::uint32_t change_state(Handle set, const DevInfoData& data) = 0;
  // The member's install parameters (restart and reboot flags).
  virtual std::uint32_t get_device_install_params(Handle set, const DevInfoData& data,
                                                  DevInstallParams* params) = 0;
  // Destroys a set. Returns 0 or kErrorInvalidHandle.
  virtual std::uint32_t destroy_device_info_list(Handle set) = 0;

  // Configuration manager: the device node of an instance id.
  virtual ConfigRet locate_devnode(std::string_view instance_id, std::uint32_t flags,
                                   std::uint32_t* dev_inst) = 0;
  // Status bits and problem number of a device node.
  virtual ConfigRet get_devnode_status(std::uint32_t dev_inst, std::uint32_t* status,
                                       std::uint32_t* problem) = 0;
};

}  // namespace plat
