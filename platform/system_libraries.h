// system_libraries.h: the system directory and run-time library look-up
// (load a system library by path, find an exported function, free it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat {

// Flag of load_library: search only the given path.
inline constexpr std::uint32_t kLoadWithAlteredSearchPath = 0x08;

class SystemLibraries {
 public:
  virtual ~SystemLibraries() = default;

  // The system directory (such as "C:\\Windows\\system32") into *dir.
  virtual std::uint32_t get_system_directory(std::string* dir) = 0;
  // Loads the library at path into *module. kErrorModNotFound when absent.
  virtual std::uint32_t load_library(std::string_view path, std::uint32_t flags,
                                     Handle* module) = 0;
  // Whether module exports name: 0 or kErrorProcNotFound. The program calls
  // the function through the matching service of this seam.
  virtual std::uint32_t get_proc_address(Handle module, std::string_view name) = 0;
  virtual std::uint32_t free_library(Handle module) = 0;
};

}  // namespace plat
