// kernel.h: kernel objects and services: named mutexes in the global
// namespace, a recursive lock, files, sleep, tick count, debugger output,
// computer name, code-page conversion, process and thread ids.
//
// Named mutexes follow the host's rules: creating a name that exists gives
// a handle to the existing mutex and kErrorAlreadyExists (initial ownership
// then is not taken); the mutex lives while any handle to it is open, in any
// process; a mutex is owned by one thread at a time and recursively.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace plat {

// Results of wait_for_object.
inline constexpr std::uint32_t kWaitObject0 = 0x00000000;
inline constexpr std::uint32_t kWaitAbandoned = 0x00000080;
inline constexpr std::uint32_t kWaitTimeout = 0x00000102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Move methods of set_file_pointer.
inline constexpr std::uint32_t kFileBegin = 0;
inline constexpr std::uint32_t kFileCurrent = 1;
inline constexpr std::uint32_t kFileEnd = 2;

// Code pages and conversion flags.
inline constexpr std::uint32_t kCpAcp = 0;
inline constexpr std::uint32_t kCpUtf8 = 65001;
inline constexpr std::uint32_t kMbErrInvalidChars = 0x08;
inline constexpr std::uint32_t kWcErrInvalidChars = 0x80;

// Security attributes of a new named object: a descriptor prepared with
// initialize_security_descriptor and, optionally, a null DACL (everyone
// gets full access).
struct SecurityAttributes {
  bool descriptor_ready = false;
  bool null_dacl = false;
  bool inherit_handle = false;
};

// A process-local recursive lock (the host's critical section).
class RecursiveLock {
 public:
  void enter() { mutex_.lock(); }
  void leave() { mutex_.unlock(); }
  bool try_enter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

class Kernel {
 public:
  virtual ~Kernel() = default;

  // Security attributes for named objects.
  virtual std::uint32_t initialize_security_descriptor(SecurityAttributes* sa) = 0;
  virtual std::uint32_t set_security_descriptor_null_dacl(SecurityAttributes* sa) = 0;

  // Creates or opens the named mutex name ("Global\\..."); sa may be null
  // (default security). *mutex receives the handle on success and with
  // kErrorAlreadyExists; kNoHandle on any other failure.
  virtual std::uint32_t create_mutex(const SecurityAttributes* sa, bool initially_owned,
                                     std::string_view name, Handle* mutex) = 0;
  // Waits up to timeout_ms (kInfinite) for object; returns kWaitObject0,
  // kWaitAbandoned (the owner closed it without release), kWaitTimeout or
  // kWaitFailed.
  virtual std::uint32_t wait_for_object(Handle object, std::uint32_t timeout_ms) = 0;
  // Releases one level of ownership of a mutex. kErrorNotOwner when the
  // calling thread does not own it.
  virtual std::uint32_t release_mutex(Handle mutex) = 0;
  // Closes any handle of this seam except registry keys, device sets and
  // service manager handles, which have their own close calls.
  virtual std::uint32_t close_handle(Handle handle) = 0;

  // Files. Paths are host paths ("C:\\ProgramData\\..."); disposition is one
  // of kCreateNew ... kTruncateExisting (device_io.h). kCreateNew on an
  // existing file gives kErrorFileExists.
  virtual std::uint32_t create_file(std::string_view path, std::uint32_t access,
                                    std::uint32_t share, std::uint32_t disposition,
                                    Handle* file) = 0;
  virtual std::uint32_t read_file(Handle file, std::span<std::uint8_t> buffer,
                                  std::uint32_t* read) = 0;
  virtual std::uint32_t write_file(Handle file, std::span<const std::uint8_t> data,
                                   std::uint32_t* written) = 0;
  virtual std::uint32_t set_file_pointer(Handle file, std::int64_t distance,
                                         std::uint32_t method, std::uint64_t* position) = 0;
  // The whole content of the file at path, for text files read in text mode
  // (the caller splits lines; "\r\n" is left as it is).
  virtual std::uint32_t read_file_content(std::string_view path, std::string* content) = 0;
  // Whether path exists as a folder (0) or not (kErrorFileNotFound,
  // kErrorPathNotFound, or kErrorFileExists for a file).
  virtual std::uint32_t folder_exists(std::string_view path) = 0;

  // Time: sleep, and the milliseconds since start, wrapping at 2^32.
  virtual void sleep(std::uint32_t ms) = 0;
  virtual std::uint32_t tick_count() = 0;

  // Debugger output (one text, no line end added).
  virtual void output_debug_string(std::string_view text) = 0;

  // The NetBIOS computer name into buffer of *size UTF-16 units (terminator
  // included); on success *size is the length without the terminator,
  // otherwise kErrorBufferOverflow and *size is the size needed.
  virtual std::uint32_t get_computer_name_w(char16_t* buffer, std::uint32_t* size) = 0;

  // Code-page conversion. code_page kCpAcp is the machine's ANSI code page.
  // With capacity 0 the length needed is stored in *length and out may be
  // null; a too small capacity gives kErrorInsufficientBuffer; with the
  // invalid-chars flag an invalid input gives kErrorNoUnicodeTranslation.
  // Lengths count code units, without a terminator (none is written).
  virtual std::uint32_t multibyte_to_wide(std::uint32_t code_page, std::uint32_t flags,
                                          std::string_view in, char16_t* out,
                                          std::uint32_t capacity, std::uint32_t* length) = 0;
  virtual std::uint32_t wide_to_multibyte(std::uint32_t code_page, std::uint32_t flags,
                                          WStringView in, char* out, std::uint32_t capacity,
                                          std::uint32_t* length) = 0;

  virtual std::uint32_t current_process_id() = 0;
  virtual std::uint32_t current_thread_id() = 0;
};

}  // namespace plat
