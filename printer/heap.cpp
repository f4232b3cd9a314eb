// The heap is real on both builds (the simulated machine has none of its own for operator
// new), so this unit talks to the C library directly and does not include the platform header.
#include "printer/heap.h"

#include <cstdlib> // which C library this is

#ifdef __GLIBC__
#include <malloc.h>
#endif

void SettleLargeBlocks() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}
