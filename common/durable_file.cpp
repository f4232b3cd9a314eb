#include "common/win32.h"

#include "common/durable_file.h"

#include "common/file_delete.h"

HANDLE CreateFileAnew(const char *path, DWORD share, SECURITY_ATTRIBUTES *security) {
    // Tried first as if the name were free, as it nearly always is (a delete first would cost a
    // second look up of the name in a folder of thousands of pages); a name taken, by a stale
    // file or a link (CREATE_NEW never follows one), is cleared and tried once more.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, share, security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
        return file;
    if (!DeleteFileRetrying(path) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return INVALID_HANDLE_VALUE;
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
    long long writeTime = 0;
    return FindFileIdentity(path, size, &writeTime);
}

int FindFileIdentity(const char *path, uint64_t *size, long long *writeTime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    *size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    *writeTime = (long long)((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 |
                             data.ftLastWriteTime.dwLowDateTime);
    return 1;
}
