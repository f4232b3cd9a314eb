// How the printer's heap treats large blocks (a page's pixels, its JPEG): taken straight from
// the system and given back to it when freed, so that the memory of pages that are done is
// returned, whichever thread had it. The Windows heap does so by itself; the host build's
// glibc, which would let its threshold grow and keep such blocks in per-thread arenas, is told
// to.
#pragma once

// Call once, before any thread starts.
void SettleLargeBlocks();
