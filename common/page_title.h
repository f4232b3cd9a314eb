// A page's title as text: what the printer writes into a page's comment segment and what the
// program reads back, made valid UTF-8 either way (the spool is writable by everyone).
#pragma once

#include <cstddef>

// Copies at most kPageTitleBytes of the count bytes at text into title (size bytes, NUL
// included) as valid UTF-8: a byte that starts no whole sequence (or an overlong, surrogate or
// out-of-range one) becomes U+FFFD, NUL bytes go, and the text is cut between two characters.
// Returns the length written.
size_t CleanTitle(const char *text, size_t count, char *title, size_t size);
