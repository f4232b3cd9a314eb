// The page memory budget: one count of the bytes taken, under a lock, and the pages waiting
// for it woken whenever some are handed back.
#include "printer/page_memory.h"

#include <condition_variable>
#include <mutex>

namespace {

std::mutex gLock;
std::condition_variable gFreed;
size_t gInUse = 0;

} // namespace

PageMemory::~PageMemory() {
    ReleasePageMemory(this);
}

void TakePageMemory(PageMemory *memory, size_t bytes) {
    ReleasePageMemory(memory);
    if (bytes > kPageMemoryBytes)
        bytes = kPageMemoryBytes;
    std::unique_lock<std::mutex> guard(gLock);
    gFreed.wait(guard, [bytes] { return gInUse + bytes <= kPageMemoryBytes; });
    gInUse += bytes;
    memory->held = bytes;
}

void ReleasePageMemory(PageMemory *memory) {
    if (memory->held == 0)
        return;
    {
        std::lock_guard<std::mutex> guard(gLock);
        gInUse -= memory->held;
    }
    memory->held = 0;
    gFreed.notify_all();
}

size_t PageMemoryInUse() {
    std::lock_guard<std::mutex> guard(gLock);
    return gInUse;
}
