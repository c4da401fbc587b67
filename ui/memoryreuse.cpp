#include "ui/memoryreuse.h"

#include <malloc.h>

void KeepFreedMemoryForReuse() {
    // Each call only tunes the allocator; a C library that refuses a value
    // keeps its default, which works, only slower.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
}
