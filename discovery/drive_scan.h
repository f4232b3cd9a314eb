// The drive scan: walks the machine's logical drives, reports each one to DebugTrace, hands it
// to the device diagnostics, and names the attached e-reader (a drive with accessible media
// whose storage vendor identifier begins with "Kindle") in EreaderRoot.
#pragma once

#include "common/win32.h"

// Scans every logical drive; on a match writes "L:\" into EreaderRoot (the last match wins).
// Never empties EreaderRoot: its caller does that first.
void FindEreaderDrive();

// The display name of a STORAGE_BUS_TYPE value 0 to 15, or null for any other value.
const char *GetBusTypeName(int busType);

// Reads one storage device descriptor of which only the first bytesReturned bytes exist: sends
// its bus type, vendor, product and revision lines, sets *removable to 1 when its media are
// removable, and returns 1 when its vendor text begins with "Kindle". An offset at or past the
// bytes returned counts as no text; a text that runs to their end is cut there.
int ReadStorageDescriptor(const void *descriptor, DWORD bytesReturned, int *removable);

// Copies the NUL-terminated text at offset of a descriptor of bytesReturned bytes into text
// (textSize bytes, terminator included), cut at the end of the bytes or of text. Returns 0 and
// leaves text alone when offset is 0 or not inside the bytes returned.
int CopyDescriptorText(const void *descriptor, DWORD bytesReturned, DWORD offset, char *text,
                       DWORD textSize);
