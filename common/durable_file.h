// Files made anew and made to last. Anyone who prints may write to the spool folder, so a stale
// file or a link may wait under any name the product uses: it is deleted first (a link itself,
// never its target), and the new file is created only if the name is then free, so nothing
// planted in between is ever written through. A file written whole is flushed to the disk before
// it is closed: a rename or a delete that follows it must never reach the disk before its bytes.
#pragma once

#include "common/win32.h"

#include <cstdint>

// Creates path as a new file for writing; whatever stood under its name is deleted before the
// file is made (a delete refused for a moment is retried). The handle, or INVALID_HANDLE_VALUE
// with the last error set. security may be null; share is CreateFileA's share mode.
HANDLE CreateFileAnew(const char *path, DWORD share, SECURITY_ATTRIBUTES *security);

// Makes path anew holding the length bytes, flushed to the disk and closed. ERROR_SUCCESS, or the
// first error (ERROR_DISK_FULL for a short write that set none); on failure nothing of the file
// is left.
DWORD WriteFileAnew(const char *path, const void *bytes, size_t length);

// Whether a file (not a folder) is at path, and its size: 1 with *size, 0 when there is none,
// -1 when the folder could not be looked at.
int FindFileSize(const char *path, uint64_t *size);

// The same, with its full last-write time (the 100-ns value the platform keeps), which tells a
// file written anew from an earlier one of the same name and size.
int FindFileIdentity(const char *path, uint64_t *size, long long *writeTime);
