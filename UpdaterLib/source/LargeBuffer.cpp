#include "LargeBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void adviseLargeBuffer(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
    // Below two huge pages no aligned one need fit inside: not worth a call.
    const size_t hugePage = size_t(2) << 20;
    if (!data || size < 2 * hugePage) return;
    // Advice takes whole pages; the huge ones go where aligned ranges fit inside.
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
    if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}
