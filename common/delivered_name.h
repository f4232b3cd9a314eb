// The name a delivered PDF gets on the e-reader. Nothing on the device is ever replaced: the
// first delivery is "VellumTransit.pdf", and when that name is taken the next free one of
// "VellumTransit (2).pdf" ... "VellumTransit (999).pdf" is used.
#pragma once

#include <cstddef>

#include "common/spool_contract.h"

enum { kDeliveredNameLast = 999 };

// What every delivered name begins with: the family name of the spool's files.
inline constexpr char kDeliveredPrefix[] = VT_SPOOL_STEM;

// Writes the candidate name number (1 for "VellumTransit.pdf", 2 to kDeliveredNameLast for
// "VellumTransit (N).pdf") into buffer. 1 when it fits, else 0 with buffer emptied.
int FormatDeliveredName(int number, char *buffer, size_t size);

// The number of a delivered name, letters in any case ("vellumtransit (3).PDF" is 3); 0 for
// any other name.
int ParseDeliveredName(const char *name);
