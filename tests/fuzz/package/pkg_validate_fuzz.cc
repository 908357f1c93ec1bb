// Fuzz target: package_validate and the entry readers over a bare package.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> view(data, size);
  int32_t index = -2;
  const int32_t rc = package_validate(view, &index);
  if (rc > 0 || index < -1) std::abort();
  if (rc == TSYRETVAL_SUCCESS && index != -1) std::abort();

  uint32_t count = 0;
  if (package_item_count(view, &count) == TSYRETVAL_SUCCESS && count > 0) {
    PackageEntry entries[4];
    const int32_t read = package_read_entries(view, count > 2 ? count - 2 : 0, 4, entries);
    if (read > 4) std::abort();
    if (read > 0) {
      const ItemRecord& r = entries[0].record;
      PackageEntry found;
      if (package_find_item(view, r.dir_type, r.dir_ordinal, r.dir_ext, &found) == TSYRETVAL_ITEM_NOT_FOUND) {
        std::abort();  // an entry that was read must be found
      }
    }
  }
  return 0;
}
