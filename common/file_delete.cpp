#include "common/win32.h"

#include "common/file_delete.h"

namespace {

const int kDeleteRetries = 10;
const DWORD kDeleteRetryMilliseconds = 100;

} // namespace

// Only the two refusals that pass are retried: any other error will not change in a second.
BOOL DeleteFileRetrying(LPCSTR name) {
    for (int retry = 0;; ++retry) {
        if (DeleteFileA(name))
            return TRUE;
        DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
            retry == kDeleteRetries)
            return FALSE;
        Sleep(kDeleteRetryMilliseconds);
    }
}
