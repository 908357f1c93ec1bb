// large_buffer.h: memory for buffers that hold a whole package file.
//
// A package of tens of MiB is read into one buffer and then checked in place.
// Taken from the ordinary heap, every 4 KiB page of it costs a fault, a clear
// and a copy when the file is read in; these buffers ask the host for large
// pages instead where it offers them, which removes most of that cost.
#pragma once

#include <cstddef>

// Returns size bytes of uninitialised memory, or nullptr when none is left.
// Release it with large_buffer_free and the same size.
void* large_buffer_allocate(size_t size);
void large_buffer_free(void* memory, size_t size);
