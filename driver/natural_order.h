// The order in which spooled pages are converted: runs of digits compare by their value and
// everything else without regard to case, so that VellumTransit2.jpg comes before
// VellumTransit10.jpg.
#pragma once

// Negative, zero or positive as a sorts before, with or after b. Zero only for equal texts.
int CompareNaturally(const char *a, const char *b);
