// Fuzz target: package_read (wrapper included) on a file holding the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "package/package.h"
#include "tests/fuzz/package/pkg_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!pkg_fuzz::write_scratch(data, size)) return 0;
  PackageBuffer buf;
  const int32_t rc = package_read(pkg_fuzz::scratch_path().c_str(), &buf);
  if (rc != TSYRETVAL_SUCCESS) {
    if (!buf.bytes.empty()) std::abort();  // nothing is kept on failure
    return 0;
  }
  if (buf.bytes.size() != size || std::memcmp(buf.bytes.data(), data, size) != 0) std::abort();
  if (buf.view_offset + buf.view_length != size) std::abort();
  package_validate(buf.view(), nullptr);
  return 0;
}
