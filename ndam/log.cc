// log.cc: the library's own log: the level read from "mgmtapps.conf", the
// log file "ngndam.log" under the common application-data folder, and the
// entries, serialised between processes by the log mutex.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "ndam/ndam_internal.h"

namespace ndam {

namespace {

constexpr const char* kLogMutexGuid = "{A9E87B9A-5DF5-456E-A7B0-541403816CE6}";
constexpr const char* kConfigFile = "\\Tessaly\\Rovi Vozi\\config\\mgmtapps.conf";
constexpr const char* kLogFolder = "\\Tessaly\\Rovi Vozi\\log";
constexpr const char* kLogFile = "\\ngndam.log";
// The library's build stamp: "Mmm dd yyyy hh:mm:ss".
constexpr const char* kBuildStamp = __DATE__ " " __TIME__;
// Lines are read as a 256-byte line buffer reads them: at most 255
// characters at a time.
constexpr std::size_t kConfigLineMax = 255;

const char* LevelText(std::uint32_t level) {
  if (level & kLogInformation) return "INFORMATION";
  if (level & kLogWarning) return "WARNING    ";
  if (level & kLogError) return "ERROR      ";
  return "DIAG_ERROR ";
}

// The level of the first line of the configuration text that contains
// "ngndam", scanned as a word and a hexadecimal number; false when no line
// matches or the scan does not yield both.
bool ConfigLevel(const std::string& content, std::uint32_t* level) {
  std::size_t pos = 0;
  while (pos < content.size()) {
    // One piece as a line read gives it: up to and including '\n', at most
    // 255 characters; "\r\n" reads as "\n" as in text mode.
    std::string line;
    while (pos < content.size() && line.size() < kConfigLineMax) {
      char c = content[pos++];
      if (c == '\r' && pos < content.size() && content[pos] == '\n') continue;
      line.push_back(c);
      if (c == '\n') break;
    }
    if (line.find("ngndam") == std::string::npos) continue;
    char word[kConfigLineMax + 1] = {};
    unsigned int value = 0;
    if (std::sscanf(line.c_str(), "%255s %x", word, &value) != 2) return false;
    *level = value;
    return true;
  }
  return false;
}

}  // namespace

std::uint32_t LevelMaskOf(std::uint32_t level) {
  switch (level) {
    case 1: return 0xF;
    case 2: return 0xE;
    case 4: return 0xC;
    case 8: return 0x8;
    default: return 0;
  }
}

void LogPrint(std::uint32_t level, const char* format, ...) {
  Library& lib = library();
  if ((level & lib.level_mask) == 0 || format == nullptr || format[0] == '\0') return;
  plat::Kernel& k = *os().kernel;

  char message[kLogBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  char entry[kLogBufferSize];
  int n = std::snprintf(entry, sizeof entry, "%s NDAM %s %lu %lu.%lu: %s", kBuildStamp,
                        LevelText(level), static_cast<unsigned long>(k.tick_count()),
                        static_cast<unsigned long>(k.current_process_id()),
                        static_cast<unsigned long>(k.current_thread_id()), message);
  if (n < 0) return;
  std::size_t length = std::strlen(entry);

  bool owned = false;
  if (lib.log_mutex != plat::kNoHandle) {
    std::uint32_t wait = k.wait_for_object(lib.log_mutex, 100);
    owned = wait == plat::kWaitObject0 || wait == plat::kWaitAbandoned;
  }
  if (lib.log_file != plat::kNoHandle) {
    std::uint64_t position = 0;
    k.set_file_pointer(lib.log_file, 0, plat::kFileEnd, &position);
    std::uint32_t written = 0;
    k.write_file(lib.log_file,
                 {reinterpret_cast<const std::uint8_t*>(entry), length}, &written);
  }
  k.output_debug_string({entry, length});
  if (owned) k.release_mutex(lib.log_mutex);
}

void CloseLogMutex() {
  Library& lib = library();
  if (lib.log_mutex != plat::kNoHandle) os().kernel->close_handle(lib.log_mutex);
  lib.log_mutex = plat::kNoHandle;
}

void CreateLogMutex() {
  Library& lib = library();
  plat::Kernel& k = *os().kernel;
  // A failed initialisation may have left the previous ones open.
  if (lib.log_file != plat::kNoHandle) k.close_handle(lib.log_file);
  CloseLogMutex();
  lib.level_mask = 0;
  lib.log_file = plat::kNoHandle;

  char name[96];
  std::snprintf(name, sizeof name, "Global\\%s", kLogMutexGuid);
  plat::SecurityAttributes sa_storage;
  const plat::SecurityAttributes* sa = NullDaclAttributes(&sa_storage, false);
  plat::Handle mutex = plat::kNoHandle;
  k.create_mutex(sa, false, name, &mutex);
  lib.log_mutex = mutex;
}

std::uint32_t InitializeLogFile() {
  Library& lib = library();
  plat::Services& s = os();
  lib.log_file = plat::kNoHandle;
  lib.level_mask = 0;

  std::string appdata;
  if (plat::failed(s.shell->get_folder_path(plat::kCsidlCommonAppData, &appdata))) {
    return ngNDAM_OK;
  }
  std::string content;
  if (s.kernel->read_file_content(appdata + kConfigFile, &content) != 0) return ngNDAM_OK;
  std::uint32_t level = 0;
  if (!ConfigLevel(content, &level)) return ngNDAM_OK;
  std::uint32_t mask = LevelMaskOf(level);
  if (mask == 0) return ngNDAM_OK;
  lib.level_mask = mask;

  std::string folder = appdata + kLogFolder;
  if (s.kernel->folder_exists(folder) != 0) s.shell->create_directory_tree(folder);
  std::string path = folder + kLogFile;
  plat::Handle file = plat::kNoHandle;
  std::uint32_t err = s.kernel->create_file(path, plat::kGenericRead | plat::kGenericWrite,
                                            plat::kFileShareRead, plat::kCreateNew, &file);
  if (err == plat::kErrorFileExists) {
    file = plat::kNoHandle;
    s.kernel->create_file(path, plat::kGenericRead | plat::kGenericWrite,
                          plat::kFileShareRead, plat::kOpenAlways, &file);
  } else if (err != 0) {
    return ngNDAM_LOG_OPEN_FAILED;
  }
  lib.log_file = file;
  return ngNDAM_OK;
}

void UnInitializeLogFile() {
  Library& lib = library();
  LogPrint(kLogInformation, "UnInitializeLogFile() close logging system\r\n");
  if (lib.log_file != plat::kNoHandle) os().kernel->close_handle(lib.log_file);
  lib.log_file = plat::kNoHandle;
  lib.level_mask = 0;
}

}  // namespace ndam
