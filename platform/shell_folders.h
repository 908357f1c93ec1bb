// shell_folders.h: the shell's special folders and folder-tree creation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat {

inline constexpr std::int32_t kCsidlCommonAppData = 0x0023;
inline constexpr std::int32_t kCsidlFlagCreate = 0x8000;

class ShellFolders {
 public:
  virtual ~ShellFolders() = default;

  // The folder csidl (such as kCsidlCommonAppData, "C:\\ProgramData") into
  // *path, without a trailing backslash. Returns an HRESULT.
  virtual HResult get_folder_path(std::int32_t csidl, std::string* path) = 0;
  // Creates folder path with every missing parent. 0, kErrorAlreadyExists
  // when it exists, kErrorFileExists when a file is in the way, or another
  // system error code.
  virtual std::uint32_t create_directory_tree(std::string_view path) = 0;
};

}  // namespace plat
