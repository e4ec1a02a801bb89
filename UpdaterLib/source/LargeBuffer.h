// Memory for buffers of megabytes (a build's reply body, its inflated contents).
#ifndef UPDATERLIB_LARGEBUFFER_H
#define UPDATERLIB_LARGEBUFFER_H

#include <cstddef>

// Asks the kernel to back a buffer that has not been written yet with huge pages.
// Each first touch of a small page is a fault, and on a virtual machine a fault
// costs about 10 us: a few megabytes filled page by page cost more than the work
// done on them. Advice only: nothing changes when the kernel does not take it.
void adviseLargeBuffer(void* data, size_t size);

#endif
