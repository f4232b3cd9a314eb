// The memory that documents in flight share: every raster page being decoded takes its pixels'
// bytes from one budget for the whole printer, so that however many documents come in at
// once, their pages together stay within it. A page that does not fit waits until pages
// before it are done (no page needs more than the whole budget, and a page holds its share
// only while it is decoded and encoded, never while it waits for another).
#pragma once

#include <cstddef>

const size_t kPageMemoryBytes = 64u << 20;

// A share of the budget, handed back when it is released or destroyed.
struct PageMemory {
    size_t held = 0;
    PageMemory() = default;
    PageMemory(const PageMemory &) = delete;
    PageMemory &operator=(const PageMemory &) = delete;
    ~PageMemory();
};

// Releases what memory holds, then waits until bytes (at most the whole budget) are free and
// takes them.
void TakePageMemory(PageMemory *memory, size_t bytes);

// Hands back what memory holds.
void ReleasePageMemory(PageMemory *memory);

// The bytes of the budget taken now.
size_t PageMemoryInUse();
