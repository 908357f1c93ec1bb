// registry.h: the host registry: open keys, read values, enumerate subkeys,
// with the host's buffer protocol.
//
// Value reads: with data null the call succeeds and stores the size the
// value needs in *size; with a buffer that is too small it fails with
// kErrorMoreData and stores the size needed; otherwise it copies the value
// and stores its size. A missing key or value gives kErrorFileNotFound.
// The 8-bit calls return text values as 8-bit text in the ANSI code page with
// their terminator; the wide calls as UTF-16 (little-endian bytes).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/types.h"

namespace plat {

// Predefined root keys (the host's values).
inline constexpr Handle kHkeyClassesRoot = 0x80000000u;
inline constexpr Handle kHkeyCurrentUser = 0x80000001u;
inline constexpr Handle kHkeyLocalMachine = 0x80000002u;
inline constexpr Handle kHkeyUsers = 0x80000003u;

// Access rights.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens subkey (a path of names separated by backslashes, compared
  // without regard to case; "" reopens parent) of parent into *key.
  virtual std::uint32_t open_key(Handle parent, std::string_view subkey,
                                 std::uint32_t access, Handle* key) = 0;
  virtual std::uint32_t open_key_w(Handle parent, WStringView subkey,
                                   std::uint32_t access, Handle* key) = 0;
  // Reads value name ("" is the default value) of key. type, data and size
  // may each be null (data non-null needs size).
  virtual std::uint32_t query_value(Handle key, std::string_view name, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) = 0;
  virtual std::uint32_t query_value_w(Handle key, WStringView name, std::uint32_t* type,
                                      std::uint8_t* data, std::uint32_t* size) = 0;
  // Number of subkeys, longest subkey name (characters) and number of values.
  virtual std::uint32_t query_info_key(Handle key, std::uint32_t* subkeys,
                                       std::uint32_t* max_subkey_len,
                                       std::uint32_t* values) = 0;
  // Name of subkey index of key into name (capacity *name_len characters,
  // the terminator included); on success *name_len is the length without
  // it. kErrorMoreData when it does not fit, kErrorNoMoreItems past the end.
  virtual std::uint32_t enum_key(Handle key, std::uint32_t index, char* name,
                                 std::uint32_t* name_len) = 0;
  virtual std::uint32_t enum_key_w(Handle key, std::uint32_t index, char16_t* name,
                                   std::uint32_t* name_len) = 0;
  // Closes a key opened by open_key (root keys are ignored).
  virtual std::uint32_t close_key(Handle key) = 0;
};

}  // namespace plat
