#include "common/win32.h"

#include "common/durable_file.h"

#include <cerrno>

#include "common/file_delete.h"

HANDLE CreateFileAnew(const char *path, DWORD share, SECURITY_ATTRIBUTES *security) {
    DeleteFileRetrying(path);
    return CreateFileA(path, GENERIC_WRITE, share, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

DWORD WriteFileAnew(const char *path, const void *bytes, size_t length) {
    if (length > 0xFFFFFFFFu)
        return ERROR_INVALID_PARAMETER;
    HANDLE file = CreateFileAnew(path, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    DWORD done = 0, error = ERROR_SUCCESS;
    if (!WriteFile(file, bytes, (DWORD)length, &done, nullptr) || done != (DWORD)length)
        error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
    // On the disk, not only in its cache; flushed and closed even after a failed write, so that
    // the handle never outlives the call.
    if (!FlushFileBuffers(file) && error == ERROR_SUCCESS)
        error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
    if (!CloseHandle(file) && error == ERROR_SUCCESS)
        error = GetLastError() ? GetLastError() : ERROR_DISK_FULL;
    if (error != ERROR_SUCCESS)
        DeleteFileA(path);
    return error;
}

int FindFileSize(const char *path, uint64_t *size) {
    _finddata_t found;
    intptr_t search = _findfirst(path, &found);
    if (search == -1)
        return errno == ENOENT ? 0 : -1;
    _findclose(search);
    if ((found.attrib & _A_SUBDIR) != 0)
        return 0;
    *size = (uint64_t)found.size;
    return 1;
}
