// Deleting a file that someone else may have open for a moment. A virus scanner or an indexer
// that opens a new file refuses its delete for a short while; giving up at once would leave a
// page or a delivered PDF to be used a second time.
#pragma once

#include "common/win32.h"

// DeleteFileA, retried up to 10 times, 100 ms apart, while it fails with a sharing violation or
// access denied. Non-zero when the file was deleted; otherwise 0, with the last error as
// DeleteFileA left it (ERROR_FILE_NOT_FOUND when there was nothing to delete).
BOOL DeleteFileRetrying(LPCSTR name);
