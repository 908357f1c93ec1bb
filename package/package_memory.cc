// package_memory.cc: memory for package buffers, taken from the platform's
// large-buffer service so that reading a big package costs few page faults.
#include "package/package.h"
#include "platform/large_buffer.h"

void* package_memory_allocate(size_t size) { return large_buffer_allocate(size); }

void package_memory_free(void* memory, size_t size) { large_buffer_free(memory, size); }
