// The e-reader's root path as drive letter, colon and backslash (such as "E:\"), or the empty
// text. Delivery empties it before the drive scan; only the drive scan writes it.
#pragma once

enum { kEreaderRootSize = 260 };
extern char EreaderRoot[kEreaderRootSize];
