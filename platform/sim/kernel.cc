// kernel.cc: the simulated kernel services: named mutexes on file locks,
// files inside the machine's state folder, virtual time, debugger output,
// the computer name and code-page conversion.
//
// A named mutex NAME is two files in the state folder's "mutex/": NAME.h,
// on which every open handle holds a shared lock, so the mutex exists while
// anybody holds one; and NAME.o, on which the owner holds an exclusive lock
// and which holds the owner's process id while owned, so that a successor
// of an owner that died without releasing sees the mutex abandoned. Creation
// is serialised by an exclusive lock on "mutex/.registry". Ownership ends
// when the owning process closes its last handle to the mutex.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/sim/machine_impl.h"
#include "platform/sim/text.h"

namespace fs = std::filesystem;

namespace plat::sim {

namespace {

std::uint32_t this_thread_id() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

std::uint32_t errno_to_error(int e, bool parent_missing) {
  switch (e) {
    case ENOENT: return parent_missing ? kErrorPathNotFound : kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EEXIST: return kErrorFileExists;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case ENOSPC: return 112;  // disk full
    case ENAMETOOLONG: return kErrorInvalidName;
    default: return kErrorGenFailure;
  }
}

// A file name for a mutex name: the safe characters kept, a hash of the
// whole name appended so that different names never share files.
std::string mutex_file_name(std::string_view name) {
  std::string s;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '{' || c == '}' || c == '-' || c == '.';
    s.push_back(ok ? c : '_');
    if (s.size() >= 150) break;
  }
  std::uint64_t h = 1469598103934665603ull;
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "-%016llx", static_cast<unsigned long long>(h));
  return s + buf;
}

class RegistryLock {
 public:
  explicit RegistryLock(const std::string& dir) {
    fd_ = ::open((dir + "/mutex/.registry").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~RegistryLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool flock_retry(int fd, int op) {
  while (::flock(fd, op) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

class SimKernel : public Kernel {
 public:
  explicit SimKernel(MachineImpl* m) : m_(m) {}

  std::uint32_t initialize_security_descriptor(SecurityAttributes* sa) override {
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("kernel", "initialize_security_descriptor", "")) {
      rc = *f;
    } else {
      sa->descriptor_ready = true;
    }
    m_->record("kernel", "initialize_security_descriptor", "", rc);
    return rc;
  }

  std::uint32_t set_security_descriptor_null_dacl(SecurityAttributes* sa) override {
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("kernel", "set_security_descriptor_null_dacl", "")) {
      rc = *f;
    } else if (!sa->descriptor_ready) {
      rc = kErrorInvalidParameter;
    } else {
      sa->null_dacl = true;
    }
    m_->record("kernel", "set_security_descriptor_null_dacl", "", rc);
    return rc;
  }

  std::uint32_t create_mutex(const SecurityAttributes* sa, bool initially_owned,
                             std::string_view name_in, Handle* mutex) override {
    (void)sa;
    std::string name(name_in);
    if (name.empty()) name = "\\unnamed\\" + std::to_string(::getpid()) + "." + std::to_string(++unnamed_);
    std::string key = std::string(name_in) + (initially_owned ? "|owned" : "");
    *mutex = kNoHandle;
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("kernel", "create_mutex", key)) {
      rc = *f;
      if (rc == kErrorAlreadyExists) rc = kErrorAccessDenied;  // a fault cannot fake a handle
    } else {
      rc = create(name, initially_owned, mutex);
    }
    m_->record("kernel", "create_mutex", key, rc);
    return rc;
  }

  std::uint32_t wait_for_object(Handle object, std::uint32_t timeout_ms) override {
    HandleEntry* e = m_->handle(object, HandleEntry::Kind::kMutex);
    std::string key = e != nullptr ? e->name : "?";
    std::uint32_t rc;
    if (e == nullptr) {
      rc = kWaitFailed;
    } else if (auto f = m_->fault("kernel", "wait_for_object", key)) {
      rc = *f;
    } else {
      rc = wait(e->name, timeout_ms);
    }
    m_->record("kernel", "wait_for_object", key + "|" + std::to_string(timeout_ms), rc);
    return rc;
  }

  std::uint32_t release_mutex(Handle mutex) override {
    HandleEntry* e = m_->handle(mutex, HandleEntry::Kind::kMutex);
    std::string key = e != nullptr ? e->name : "?";
    std::uint32_t rc = kErrorSuccess;
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("kernel", "release_mutex", key)) {
      rc = *f;
    } else {
      std::lock_guard lock(m_->mu);
      auto& st = *m_->mutexes.at(e->name);
      if (st.owner_tid != this_thread_id() || st.recursion == 0) {
        rc = kErrorNotOwner;
      } else if (--st.recursion == 0) {
        give_up(st);
      }
    }
    m_->record("kernel", "release_mutex", key, rc);
    return rc;
  }

  std::uint32_t close_handle(Handle handle) override {
    std::uint32_t rc = kErrorSuccess;
    std::string key;
    HandleEntry entry{HandleEntry::Kind::kFile};
    {
      std::lock_guard lock(m_->mu);
      auto it = m_->handles.find(handle);
      if (it == m_->handles.end() || it->second.kind == HandleEntry::Kind::kKey ||
          it->second.kind == HandleEntry::Kind::kDevSet || it->second.kind == HandleEntry::Kind::kScm ||
          it->second.kind == HandleEntry::Kind::kModule) {
        rc = kErrorInvalidHandle;
      } else {
        entry = it->second;
        m_->handles.erase(it);
      }
    }
    if (rc == kErrorSuccess) {
      key = entry.name;
      if (entry.kind == HandleEntry::Kind::kFile && entry.fd >= 0) {
        ::close(entry.fd);
      } else if (entry.kind == HandleEntry::Kind::kMutex) {
        close_mutex(entry.name);
      }
    }
    m_->record("kernel", "close_handle", key, rc);
    return rc;
  }

  std::uint32_t create_file(std::string_view path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition, Handle* file) override {
    if (path.substr(0, 4) == "\\\\.\\" || path.substr(0, 4) == "\\\\?\\") {
      return m_->services.device_io->open_device(path, access, share, disposition, file);
    }
    (void)share;  // sharing is not enforced between the machine's processes
    std::string key(path);
    std::uint32_t rc = kErrorSuccess;
    *file = kNoHandle;
    if (auto f = m_->fault("kernel", "create_file", key)) {
      rc = *f;
    } else {
      int flags = O_CLOEXEC;
      bool rd = (access & kGenericRead) != 0, wr = (access & kGenericWrite) != 0;
      flags |= rd && wr ? O_RDWR : wr ? O_WRONLY : O_RDONLY;
      switch (disposition) {
        case kCreateNew: flags |= O_CREAT | O_EXCL; break;
        case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
        case kOpenExisting: break;
        case kOpenAlways: flags |= O_CREAT; break;
        case kTruncateExisting: flags |= O_TRUNC; break;
        default: rc = kErrorInvalidParameter;
      }
      if (rc == kErrorSuccess) {
        std::string host = m_->host_path(path);
        int fd = ::open(host.c_str(), flags, 0644);
        if (fd < 0) {
          std::error_code ec;
          bool parent_missing = !fs::is_directory(fs::path(host).parent_path(), ec);
          rc = errno_to_error(errno, parent_missing);
        } else {
          HandleEntry e{HandleEntry::Kind::kFile};
          e.fd = fd;
          e.name = key;
          *file = m_->add_handle(std::move(e));
        }
      }
    }
    m_->record("kernel", "create_file", key, rc);
    return rc;
  }

  std::uint32_t read_file(Handle file, std::span<std::uint8_t> buffer, std::uint32_t* read) override {
    HandleEntry* e = m_->handle(file, HandleEntry::Kind::kFile);
    std::uint32_t rc = kErrorSuccess;
    *read = 0;
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("kernel", "read_file", e->name)) {
      rc = *f;
    } else {
      ssize_t n;
      do {
        n = ::read(e->fd, buffer.data(), buffer.size());
      } while (n < 0 && errno == EINTR);
      if (n < 0) rc = errno == EBADF ? kErrorAccessDenied : kErrorGenFailure;
      else *read = static_cast<std::uint32_t>(n);
    }
    m_->record("kernel", "read_file", e != nullptr ? e->name : "?", rc);
    return rc;
  }

  std::uint32_t write_file(Handle file, std::span<const std::uint8_t> data,
                           std::uint32_t* written) override {
    HandleEntry* e = m_->handle(file, HandleEntry::Kind::kFile);
    std::uint32_t rc = kErrorSuccess;
    *written = 0;
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("kernel", "write_file", e->name)) {
      rc = *f;
    } else {
      std::size_t done = 0;
      while (done < data.size()) {
        ssize_t n = ::write(e->fd, data.data() + done, data.size() - done);
        if (n < 0) {
          if (errno == EINTR) continue;
          rc = errno == EBADF ? kErrorAccessDenied : errno == ENOSPC ? 112u : kErrorGenFailure;
          break;
        }
        done += static_cast<std::size_t>(n);
      }
      *written = static_cast<std::uint32_t>(done);
    }
    m_->record("kernel", "write_file", e != nullptr ? e->name : "?", rc);
    return rc;
  }

  std::uint32_t set_file_pointer(Handle file, std::int64_t distance, std::uint32_t method,
                                 std::uint64_t* position) override {
    HandleEntry* e = m_->handle(file, HandleEntry::Kind::kFile);
    std::uint32_t rc = kErrorSuccess;
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("kernel", "set_file_pointer", e->name)) {
      rc = *f;
    } else {
      int whence = method == kFileBegin ? SEEK_SET : method == kFileCurrent ? SEEK_CUR : SEEK_END;
      if (method > kFileEnd) {
        rc = kErrorInvalidParameter;
      } else {
        off_t at = ::lseek(e->fd, static_cast<off_t>(distance), whence);
        if (at < 0) rc = kErrorInvalidParameter;  // the host's "negative seek"
        else if (position != nullptr) *position = static_cast<std::uint64_t>(at);
      }
    }
    m_->record("kernel", "set_file_pointer", e != nullptr ? e->name : "?", rc);
    return rc;
  }

  std::uint32_t read_file_content(std::string_view path, std::string* content) override {
    std::string key(path);
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("kernel", "read_file_content", key)) {
      rc = *f;
    } else {
      std::string host = m_->host_path(path);
      std::error_code ec;
      if (fs::is_directory(host, ec)) {
        rc = kErrorAccessDenied;
      } else {
        std::ifstream in(host, std::ios::binary);
        if (!in) {
          rc = fs::is_directory(fs::path(host).parent_path(), ec) ? kErrorFileNotFound
                                                                   : kErrorPathNotFound;
        } else {
          std::stringstream ss;
          ss << in.rdbuf();
          *content = ss.str();
        }
      }
    }
    m_->record("kernel", "read_file_content", key, rc);
    return rc;
  }

  std::uint32_t folder_exists(std::string_view path) override {
    std::string key(path);
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("kernel", "folder_exists", key)) {
      rc = *f;
    } else {
      std::string host = m_->host_path(path);
      std::error_code ec;
      if (fs::is_directory(host, ec)) rc = kErrorSuccess;
      else if (fs::exists(host, ec)) rc = kErrorFileExists;
      else if (fs::is_directory(fs::path(host).parent_path(), ec)) rc = kErrorFileNotFound;
      else rc = kErrorPathNotFound;
    }
    m_->record("kernel", "folder_exists", key, rc);
    return rc;
  }

  void sleep(std::uint32_t ms) override {
    m_->record("kernel", "sleep", std::to_string(ms), 0);
    m_->sleep_ms(ms);
  }

  std::uint32_t tick_count() override {
    return static_cast<std::uint32_t>(m_->tick_base + m_->now_ms());
  }

  void output_debug_string(std::string_view text) override {
    std::lock_guard lock(m_->mu);
    m_->debug_output.append(text);
  }

  std::uint32_t get_computer_name_w(char16_t* buffer, std::uint32_t* size) override {
    std::uint32_t rc = kErrorSuccess;
    WString name = widen(m_->computer_name);
    if (auto f = m_->fault("kernel", "get_computer_name_w", "")) {
      rc = *f;
    } else if (size == nullptr) {
      rc = kErrorInvalidParameter;
    } else if (buffer == nullptr || *size < name.size() + 1) {
      *size = static_cast<std::uint32_t>(name.size() + 1);
      rc = kErrorBufferOverflow;
    } else {
      std::copy(name.begin(), name.end(), buffer);
      buffer[name.size()] = u'\0';
      *size = static_cast<std::uint32_t>(name.size());
    }
    m_->record("kernel", "get_computer_name_w", "", rc);
    return rc;
  }

  std::uint32_t multibyte_to_wide(std::uint32_t code_page, std::uint32_t flags,
                                  std::string_view in, char16_t* out, std::uint32_t capacity,
                                  std::uint32_t* length) override {
    std::uint32_t cp = code_page == kCpAcp ? m_->ansi_code_page : code_page;
    if (auto f = m_->fault("kernel", "multibyte_to_wide", "")) return *f;
    WString w;
    bool ok;
    if (cp == kCpUtf8) ok = utf8_to_utf16(in, &w);
    else if (cp == 1252) ok = cp1252_to_utf16(in, &w);
    else return kErrorInvalidParameter;
    if (!ok && (flags & kMbErrInvalidChars)) return kErrorNoUnicodeTranslation;
    return copy_out(w, out, capacity, length);
  }

  std::uint32_t wide_to_multibyte(std::uint32_t code_page, std::uint32_t flags, WStringView in,
                                  char* out, std::uint32_t capacity,
                                  std::uint32_t* length) override {
    std::uint32_t cp = code_page == kCpAcp ? m_->ansi_code_page : code_page;
    if (auto f = m_->fault("kernel", "wide_to_multibyte", "")) return *f;
    std::string s;
    bool ok;
    if (cp == kCpUtf8) {
      ok = utf16_to_utf8(in, &s);
      if (!ok && (flags & kWcErrInvalidChars)) return kErrorNoUnicodeTranslation;
    } else if (cp == 1252) {
      if (flags & kWcErrInvalidChars) return kErrorInvalidFlags;  // only for UTF-8 on the host
      utf16_to_cp1252(in, &s);
    } else {
      return kErrorInvalidParameter;
    }
    return copy_out(s, out, capacity, length);
  }

  std::uint32_t current_process_id() override { return static_cast<std::uint32_t>(::getpid()); }
  std::uint32_t current_thread_id() override { return this_thread_id(); }

 private:
  template <typename S, typename C>
  static std::uint32_t copy_out(const S& s, C* out, std::uint32_t capacity, std::uint32_t* length) {
    if (length == nullptr) return kErrorInvalidParameter;
    if (capacity == 0) {
      *length = static_cast<std::uint32_t>(s.size());
      return kErrorSuccess;
    }
    if (out == nullptr) return kErrorInvalidParameter;
    if (capacity < s.size()) return kErrorInsufficientBuffer;
    std::copy(s.begin(), s.end(), out);
    *length = static_cast<std::uint32_t>(s.size());
    return kErrorSuccess;
  }

  std::uint32_t create(const std::string& name, bool owned, Handle* mutex) {
    RegistryLock reg(m_->state_dir);
    if (!reg.ok()) return kErrorAccessDenied;
    std::lock_guard lock(m_->mu);
    auto& slot = m_->mutexes[name];
    if (!slot) {
      slot = std::make_unique<MachineImpl::MutexState>();
      slot->base = m_->state_dir + "/mutex/" + mutex_file_name(name);
    }
    MachineImpl::MutexState& st = *slot;
    std::uint32_t rc = kErrorSuccess;
    if (st.handles > 0) {
      rc = kErrorAlreadyExists;
    } else {
      st.fd_h = ::open((st.base + ".h").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (st.fd_h < 0) {
        m_->mutexes.erase(name);
        return kErrorAccessDenied;
      }
      if (::flock(st.fd_h, LOCK_EX | LOCK_NB) == 0) {
        // Nobody has a handle: a new mutex. Forget a dead owner's mark.
        int fd = ::open((st.base + ".o").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
        if (::ftruncate(st.fd_h, 0) == 0) {
          ssize_t w = ::pwrite(st.fd_h, name.data(), name.size(), 0);  // for "vrexsim show"
          (void)w;
        }
        flock_retry(st.fd_h, LOCK_SH);
        if (owned) take(st);
      } else {
        flock_retry(st.fd_h, LOCK_SH);
        rc = kErrorAlreadyExists;
      }
    }
    ++st.handles;
    HandleEntry e{HandleEntry::Kind::kMutex};
    e.name = name;
    *mutex = m_->add_handle(std::move(e));
    return rc;
  }

  // Tries to become the owner; returns kWaitObject0, kWaitAbandoned or
  // kWaitTimeout (not yet). Called with m_->mu held.
  std::uint32_t try_take(MachineImpl::MutexState& st) {
    if (st.owner_tid == this_thread_id()) {
      ++st.recursion;
      return kWaitObject0;
    }
    if (st.owner_tid != 0) return kWaitTimeout;
    if (st.fd_o < 0) {
      st.fd_o = ::open((st.base + ".o").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (st.fd_o < 0) return kWaitFailed;
    }
    if (::flock(st.fd_o, LOCK_EX | LOCK_NB) != 0) return kWaitTimeout;
    char buf[32] = {};
    ssize_t n = ::pread(st.fd_o, buf, sizeof buf - 1, 0);
    bool abandoned = n > 0;
    mark(st);
    st.owner_tid = this_thread_id();
    st.recursion = 1;
    return abandoned ? kWaitAbandoned : kWaitObject0;
  }

  void take(MachineImpl::MutexState& st) { try_take(st); }

  void mark(MachineImpl::MutexState& st) {
    std::string pid = std::to_string(::getpid());
    if (::ftruncate(st.fd_o, 0) == 0) {
      ssize_t w = ::pwrite(st.fd_o, pid.data(), pid.size(), 0);
      (void)w;
    }
  }

  void give_up(MachineImpl::MutexState& st) {
    if (st.fd_o >= 0) {
      if (::ftruncate(st.fd_o, 0) != 0) {
        // The mark stays; a successor then sees the mutex abandoned.
      }
      ::flock(st.fd_o, LOCK_UN);
    }
    st.owner_tid = 0;
    st.recursion = 0;
  }

  std::uint32_t wait(const std::string& name, std::uint32_t timeout_ms) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
      {
        std::lock_guard lock(m_->mu);
        auto it = m_->mutexes.find(name);
        if (it == m_->mutexes.end()) return kWaitFailed;
        std::uint32_t r = try_take(*it->second);
        if (r != kWaitTimeout) return r;
      }
      auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
      if (timeout_ms != kInfinite && waited >= static_cast<long long>(timeout_ms)) {
        if (!m_->real_time) m_->sleep_ms(timeout_ms);  // the wait's time passes on the clock
        return kWaitTimeout;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  void close_mutex(const std::string& name) {
    RegistryLock reg(m_->state_dir);
    std::lock_guard lock(m_->mu);
    auto it = m_->mutexes.find(name);
    if (it == m_->mutexes.end()) return;
    MachineImpl::MutexState& st = *it->second;
    if (--st.handles > 0) return;
    if (st.owner_tid != 0) give_up(st);
    if (st.fd_o >= 0) ::close(st.fd_o);
    if (st.fd_h >= 0) ::close(st.fd_h);
    m_->mutexes.erase(it);
  }

  MachineImpl* m_;
  std::uint64_t unnamed_ = 0;
};

}  // namespace

std::unique_ptr<Kernel> make_kernel(MachineImpl* m) { return std::make_unique<SimKernel>(m); }

}  // namespace plat::sim
