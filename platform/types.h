// types.h: what every service of the platform seam shares: handles, the
// system error codes, HRESULTs, GUIDs and the UTF-16 text type.
//
// The program's logic is written against the host system's own semantics, so
// the numbers here are the host's own values: a call reports 0 for success or
// the system error code that the host would report. The names are ours.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// An open object of any service (file, device object, mutex, registry key,
// device set, service manager, loaded library). 0 is "no handle".
using Handle = std::uintptr_t;
inline constexpr Handle kNoHandle = 0;

// UTF-16 text as the host's wide calls take it.
using WString = std::u16string;
using WStringView = std::u16string_view;

// ---------------------------------------------------------------------------
// System error codes (the host's values).
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorOutOfMemory = 14;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorHandleEof = 38;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorBufferOverflow = 111;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorModNotFound = 126;
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorNoData = 232;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorWaitTimeout = 258;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorNotOwner = 288;
inline constexpr std::uint32_t kErrorInvalidFlags = 1004;
inline constexpr std::uint32_t kErrorServiceDatabaseLocked = 1055;
inline constexpr std::uint32_t kErrorShutdownInProgress = 1115;
inline constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorNotFound = 1168;
// Device installer errors (customer bit and facility set, as the host has them).
inline constexpr std::uint32_t kErrorInvalidRegProperty = 0xE0000209u;
inline constexpr std::uint32_t kErrorNoSuchDevinst = 0xE000020Bu;
inline constexpr std::uint32_t kErrorInvalidClassInstaller = 0xE000020Du;
inline constexpr std::uint32_t kErrorNoAssociatedClass = 0xE0000200u;
inline constexpr std::uint32_t kErrorDiDoDefault = 0xE000020Eu;
inline constexpr std::uint32_t kErrorNoCompatDrivers = 0xE0000228u;

// ---------------------------------------------------------------------------
// HRESULTs of COM and WMI (the host's values). Negative means failure.
using HResult = std::int32_t;
constexpr bool succeeded(HResult hr) { return hr >= 0; }
constexpr bool failed(HResult hr) { return hr < 0; }
constexpr HResult hresult(std::uint32_t bits) { return static_cast<HResult>(bits); }

inline constexpr HResult kHrOk = 0;
inline constexpr HResult kHrFalse = 1;
inline constexpr HResult kHrNotImplemented = hresult(0x80004001u);
inline constexpr HResult kHrNoInterface = hresult(0x80004002u);
inline constexpr HResult kHrPointer = hresult(0x80004003u);
inline constexpr HResult kHrFail = hresult(0x80004005u);
inline constexpr HResult kHrAccessDenied = hresult(0x80070005u);
inline constexpr HResult kHrOutOfMemory = hresult(0x8007000Eu);
inline constexpr HResult kHrInvalidArg = hresult(0x80070057u);
inline constexpr HResult kHrRpcChangedMode = hresult(0x80010106u);
inline constexpr HResult kHrRpcTooLate = hresult(0x80010119u);
inline constexpr HResult kHrCoNotInitialized = hresult(0x800401F0u);
inline constexpr HResult kHrClassNotRegistered = hresult(0x80040154u);
inline constexpr HResult kHrWbemFailed = hresult(0x80041001u);
inline constexpr HResult kHrWbemNotFound = hresult(0x80041002u);
inline constexpr HResult kHrWbemAccessDenied = hresult(0x80041003u);
inline constexpr HResult kHrWbemProviderFailure = hresult(0x80041004u);
inline constexpr HResult kHrWbemTypeMismatch = hresult(0x80041005u);
inline constexpr HResult kHrWbemOutOfMemory = hresult(0x80041006u);
inline constexpr HResult kHrWbemInvalidParameter = hresult(0x80041008u);
inline constexpr HResult kHrWbemNotSupported = hresult(0x8004100Cu);
inline constexpr HResult kHrWbemInvalidNamespace = hresult(0x8004100Eu);
inline constexpr HResult kHrWbemInvalidClass = hresult(0x80041010u);
inline constexpr HResult kHrWbemTransportFailure = hresult(0x80041015u);
inline constexpr HResult kHrWbemInvalidMethod = hresult(0x8004102Eu);
inline constexpr HResult kHrWbemInvalidMethodParameters = hresult(0x8004102Fu);
inline constexpr HResult kHrWbemInvalidObjectPath = hresult(0x8004103Au);
inline constexpr HResult kHrWbemMethodNotImplemented = hresult(0x80041055u);

// Registry value types (registry values and device properties).
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// ---------------------------------------------------------------------------
// A GUID in the host's layout.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any letter
// case) into *out. Returns false, leaving *out alone, on any other text.
bool parse_guid(std::string_view text, Guid* out);
// The braced, upper-case text of a GUID.
std::string guid_text(const Guid& g);

// The network adapter device class, {4D36E972-E325-11CE-BFC1-08002BE10318}.
inline constexpr Guid kGuidDevClassNet{0x4D36E972, 0xE325, 0x11CE,
                                       {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// Bus type GUIDs a device reports as its bus type property.
inline constexpr Guid kGuidBusTypePci{0xC8EBDFB0, 0xB510, 0x11D0,
                                      {0x80, 0xE5, 0x00, 0xA0, 0xC9, 0x25, 0x42, 0xE3}};
inline constexpr Guid kGuidBusTypePcmcia{0x09343630, 0xAF9F, 0x11D0,
                                         {0x92, 0xE9, 0x00, 0x00, 0xF8, 0x1E, 0x1B, 0x30}};
inline constexpr Guid kGuidBusType1394{0xF74E73EB, 0x9AC5, 0x45EB,
                                       {0xBE, 0x4D, 0x77, 0x2C, 0xC7, 0x1D, 0xDF, 0xB3}};
inline constexpr Guid kGuidBusTypeUsb{0x9D7DEBBC, 0xC85D, 0x11D1,
                                      {0x9E, 0xB4, 0x00, 0x60, 0x08, 0xC3, 0xA1, 0x9A}};

}  // namespace plat
