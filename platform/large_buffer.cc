// large_buffer.cc: large-page backed buffers where the host offers them.
#include "platform/large_buffer.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// Below this a buffer does not fill one large page; the heap serves it.
constexpr size_t kLargePage = size_t{2} << 20;

}  // namespace

void* large_buffer_allocate(size_t size) {
#if defined(__linux__)
  if (size >= kLargePage) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    // A hint only: without transparent huge pages the mapping still works.
    (void)madvise(memory, size, MADV_HUGEPAGE);
    return memory;
  }
#endif
  return std::malloc(size == 0 ? 1 : size);
}

void large_buffer_free(void* memory, size_t size) {
  if (memory == nullptr) return;
#if defined(__linux__)
  if (size >= kLargePage) {
    munmap(memory, size);
    return;
  }
#endif
  std::free(memory);
}
