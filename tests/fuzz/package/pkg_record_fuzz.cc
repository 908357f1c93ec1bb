// Fuzz target: package_load_record on a file holding the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "package/package.h"
#include "tests/fuzz/package/pkg_fuzz_util.h"

namespace {

template <size_t N>
void expect_terminated(const char (&text)[N]) {
  if (std::memchr(text, 0, N) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!pkg_fuzz::write_scratch(data, size)) return 0;
  PackageRecord r;
  package_load_record(pkg_fuzz::scratch_path().c_str(), &r);
  expect_terminated(r.path);
  expect_terminated(r.desc);
  expect_terminated(r.ver);
  expect_terminated(r.timestamp);
  expect_terminated(r.requires_ver);
  expect_terminated(r.tag22_text);
  if (r.dev_id_count < 0 || r.dev_id_count > kPackageDevIdSlots) std::abort();
  if (r.data_size != r.view().size()) std::abort();
  if (r.data_size != 0) package_validate(r.view(), nullptr);
  return 0;
}
