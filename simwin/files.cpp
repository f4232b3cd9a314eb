// simwin's file side: the Windows directory, the current directory, deleting, copying and
// renaming files, the C runtime's file calls and wildcard listing, and the heap.
#include "simwin/simwin_internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using simwin::Current;
using simwin::Enter;
using simwin::Event;
using simwin::FaultError;

namespace {

// One open wildcard listing: its entries in NTFS order and the next one to hand out.
struct Listing {
    std::vector<_finddata_t> entries;
    size_t next = 0;
};
std::map<intptr_t, Listing> gListings;
intptr_t gNextListing = 0x1000;
std::map<FILE *, std::string> gFileNames; // the Windows name a stream was opened with
std::set<FILE *> gWriting;                // streams opened for writing: their calls are events

// Resolves a Windows file name to its place in the machine folder.
bool Resolve(const char *windowsPath, std::string *host) {
    std::string absolute;
    return windowsPath && simwin::AbsolutePath(windowsPath, &absolute) &&
           simwin::HostPathOf(absolute, host);
}

bool StatPath(const std::string &host, struct stat *info) {
    return stat(host.c_str(), info) == 0;
}

bool IsFile(const std::string &host) {
    struct stat info;
    return StatPath(host, &info) && S_ISREG(info.st_mode);
}

bool IsDir(const std::string &host) {
    struct stat info;
    return StatPath(host, &info) && S_ISDIR(info.st_mode);
}

// A symbolic link, dangling or not: deleting it removes the link, never its target.
bool IsLink(const std::string &host) {
    struct stat info;
    return lstat(host.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string Parent(const std::string &host) {
    return host.substr(0, host.find_last_of('/'));
}

// Wildcard match as the file search does it: '*' any run, '?' one character, no case.
bool Matches(const char *pattern, const char *name) {
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*')
        return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
    if (*name == '\0')
        return false;
    if (*pattern != '?' && toupper((unsigned char)*pattern) != toupper((unsigned char)*name))
        return false;
    return Matches(pattern + 1, name + 1);
}

// NTFS lists a folder in the order of its names' upper-case forms.
bool NtfsOrder(const _finddata_t &a, const _finddata_t &b) {
    for (size_t i = 0;; ++i) {
        int x = toupper((unsigned char)a.name[i]), y = toupper((unsigned char)b.name[i]);
        if (x != y || x == 0)
            return x < y;
    }
}

std::string Outcome(BOOL ok) {
    return ok ? "ok" : "fail " + std::to_string(Current().lastError);
}

// Copies one host file to another, at most limit bytes of it; false when a read or write fails.
bool CopyHostFile(const std::string &from, const std::string &to,
                  unsigned long long limit = ~0ull) {
    FILE *in = ::fopen(from.c_str(), "rb");
    if (!in)
        return false;
    FILE *out = ::fopen(to.c_str(), "wb");
    if (!out) {
        ::fclose(in);
        return false;
    }
    char buffer[1 << 16];
    size_t got;
    bool ok = true;
    while (ok && limit > 0 &&
           (got = ::fread(buffer, 1, limit < sizeof buffer ? limit : sizeof buffer, in)) > 0) {
        ok = ::fwrite(buffer, 1, got, out) == got;
        limit -= got;
    }
    ok = !::ferror(in) && ok;
    ::fclose(in);
    return ::fclose(out) == 0 && ok;
}

// CopyHostFile onto a file of the machine, which the disk cache then holds until a flush.
bool CopyTracked(const std::string &from, const std::string &to, unsigned long long limit = ~0ull) {
    bool existed = IsFile(to);
    if (existed)
        simwin::NoteChange(to);
    bool ok = CopyHostFile(from, to, limit);
    if (!existed && IsFile(to)) {
        int descriptor = open(to.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor >= 0)
            simwin::NoteNewFile(descriptor), close(descriptor);
    }
    return ok;
}

} // namespace

// ---- Win32: errors, directories, files ---------------------------------------------------

DWORD GetLastError() {
    return Current().lastError;
}

void SetLastError(DWORD code) {
    Current().lastError = code;
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    std::string mode;
    if (Enter("GetWindowsDirectoryA", &mode)) {
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
        return 0;
    }
    const std::string &dir = Current().windowsDir;
    if (!buffer || size < dir.size() + 1)
        return (UINT)dir.size() + 1; // too small: the size needed, terminator included
    memcpy(buffer, dir.c_str(), dir.size() + 1);
    return (UINT)dir.size();
}

UINT GetACP() {
    return Current().codePage;
}

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
    std::string mode;
    if (Enter("GetComputerNameA", &mode)) {
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
        return FALSE;
    }
    const std::string &name = Current().computerName;
    if (!size || !buffer || *size < name.size() + 1) {
        if (size)
            *size = (DWORD)name.size() + 1; // too small: the size needed, terminator included
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    memcpy(buffer, name.c_str(), name.size() + 1);
    *size = (DWORD)name.size();
    return TRUE;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
    std::string mode, absolute, host;
    BOOL ok = FALSE;
    if (Enter("SetCurrentDirectoryA", &mode))
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
    else if (!path || !simwin::AbsolutePath(path, &absolute) ||
             !simwin::HostPathOf(absolute, &host) || !IsDir(host))
        SetLastError(IsFile(host)          ? ERROR_DIRECTORY
                     : IsDir(Parent(host)) ? ERROR_FILE_NOT_FOUND
                                           : ERROR_PATH_NOT_FOUND);
    else {
        Current().currentDirectory = absolute;
        ok = TRUE;
    }
    Event(std::string("SetCurrentDirectoryA ") + (path ? path : "(null)") + " " + Outcome(ok));
    return ok;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    const std::string &dir = Current().currentDirectory;
    if (!buffer || size < dir.size() + 1)
        return (DWORD)dir.size() + 1;
    memcpy(buffer, dir.c_str(), dir.size() + 1);
    return (DWORD)dir.size();
}

BOOL DeleteFileA(LPCSTR path) {
    std::string mode, host;
    BOOL ok = FALSE;
    if (Enter("DeleteFileA", &mode))
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
    else if (!Resolve(path, &host))
        SetLastError(ERROR_PATH_NOT_FOUND);
    else if (IsLink(host))
        ok = unlink(host.c_str()) == 0 ? TRUE : (SetLastError(ERROR_ACCESS_DENIED), FALSE);
    else if (IsDir(host))
        SetLastError(ERROR_ACCESS_DENIED);
    else if (!IsFile(host))
        SetLastError(IsDir(Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    else if (simwin::NoteGone(host), unlink(host.c_str()) != 0)
        SetLastError(ERROR_ACCESS_DENIED);
    else
        ok = TRUE;
    Event(std::string("DeleteFileA ") + (path ? path : "(null)") + " " + Outcome(ok));
    return ok;
}

BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    std::string mode, host;
    struct stat info;
    auto fail = [](DWORD code) {
        SetLastError(code);
        return FALSE;
    };
    if (Enter("GetFileAttributesExA", &mode))
        return fail(FaultError(mode, ERROR_ACCESS_DENIED));
    if (level != GetFileExInfoStandard || !information)
        return fail(ERROR_INVALID_PARAMETER);
    if (!Resolve(path, &host))
        return fail(ERROR_PATH_NOT_FOUND);
    if (!StatPath(host, &info))
        return fail(IsDir(Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    auto filetime = [](const timespec &at) {
        unsigned long long ticks =
            ((unsigned long long)at.tv_sec + 11644473600ull) * 10000000ull + at.tv_nsec / 100;
        return FILETIME{(DWORD)ticks, (DWORD)(ticks >> 32)};
    };
    WIN32_FILE_ATTRIBUTE_DATA *data = static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(information);
    data->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : _A_ARCH;
    data->ftCreationTime = filetime(info.st_ctim);
    data->ftLastAccessTime = filetime(info.st_atim);
    data->ftLastWriteTime = filetime(info.st_mtim);
    data->nFileSizeHigh = (DWORD)((unsigned long long)info.st_size >> 32);
    data->nFileSizeLow = (DWORD)info.st_size;
    return TRUE;
}

BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    std::string mode, source, target, absoluteTarget;
    struct stat info;
    BOOL ok = FALSE;
    simwin::Drive *drive = nullptr;
    if (to && simwin::AbsolutePath(to, &absoluteTarget))
        drive = simwin::FindDrive(absoluteTarget[0]);
    bool injected = Enter("CopyFileA", &mode);
    if (injected && mode == "crash_half" && Resolve(from, &source) && Resolve(to, &target) &&
        StatPath(source, &info)) {
        CopyTracked(source, target, (unsigned long long)info.st_size / 2); // a copy cut short
        simwin::Crash("CopyFileA");
    }
    if (injected)
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
    else if (!Resolve(from, &source) || !IsFile(source))
        SetLastError(ERROR_FILE_NOT_FOUND);
    else if (!Resolve(to, &target) || !IsDir(Parent(target)))
        SetLastError(ERROR_PATH_NOT_FOUND);
    else if (IsDir(target))
        SetLastError(ERROR_ACCESS_DENIED);
    else if (failIfExists && (IsFile(target) || IsLink(target)))
        SetLastError(ERROR_FILE_EXISTS);
    else if (StatPath(source, &info) && drive &&
             (unsigned long long)info.st_size > drive->freeBytes)
        SetLastError(ERROR_DISK_FULL); // nothing of the copy is left behind
    else if (!CopyTracked(source, target)) {
        simwin::NoteGone(target);
        unlink(target.c_str());
        SetLastError(ERROR_ACCESS_DENIED);
    } else {
        if (drive)
            drive->freeBytes -= (unsigned long long)info.st_size;
        ok = TRUE;
    }
    Event(std::string("CopyFileA ") + (from ? from : "(null)") + " " + (to ? to : "(null)") + " " +
          Outcome(ok));
    return ok;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    std::string mode, source, target;
    BOOL ok = FALSE;
    if (Enter("MoveFileExA", &mode))
        SetLastError(FaultError(mode, ERROR_ACCESS_DENIED));
    else if (!Resolve(from, &source) || !IsFile(source))
        SetLastError(ERROR_FILE_NOT_FOUND);
    else if (!Resolve(to, &target) || !IsDir(Parent(target)))
        SetLastError(ERROR_PATH_NOT_FOUND);
    else if (IsDir(target) ||
             ((IsFile(target) || IsLink(target)) && !(flags & MOVEFILE_REPLACE_EXISTING)))
        SetLastError(ERROR_ALREADY_EXISTS);
    else if (simwin::NoteGone(target), rename(source.c_str(), target.c_str()) != 0)
        SetLastError(ERROR_ACCESS_DENIED);
    else
        ok = TRUE;
    Event(std::string("MoveFileExA ") + (from ? from : "(null)") + " " + (to ? to : "(null)") +
          " " + Outcome(ok));
    return ok;
}

// ---- C runtime: wildcard listing ---------------------------------------------------------

intptr_t _findfirst(const char *pattern, _finddata_t *entry) {
    std::string mode;
    if (Enter("_findfirst", &mode)) {
        errno = EINVAL; // a failure of the listing, not "no matching files"
        return -1;
    }
    std::string text = pattern ? pattern : "";
    size_t slash = text.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "." : text.substr(0, slash + 1);
    std::string wildcard = slash == std::string::npos ? text : text.substr(slash + 1);
    std::string host;
    Listing listing;
    if (Resolve(folder.c_str(), &host)) {
        if (DIR *dir = opendir(host.c_str())) {
            while (dirent *found = readdir(dir)) {
                if (!Matches(wildcard.c_str(), found->d_name))
                    continue;
                struct stat info;
                if (!StatPath(host + "/" + found->d_name, &info))
                    continue;
                _finddata_t item = {};
                item.attrib = S_ISDIR(info.st_mode) ? _A_SUBDIR : _A_ARCH;
                item.time_write = info.st_mtime;
                item.size = (_fsize_t)info.st_size; // the 32-bit listing wraps larger files
                snprintf(item.name, sizeof item.name, "%s", found->d_name);
                listing.entries.push_back(item);
            }
            closedir(dir);
        }
    }
    if (listing.entries.empty()) {
        errno = ENOENT;
        return -1;
    }
    std::sort(listing.entries.begin(), listing.entries.end(), NtfsOrder);
    *entry = listing.entries[0];
    listing.next = 1;
    intptr_t handle = gNextListing++;
    gListings[handle] = listing;
    Current().findHandles.insert(handle);
    return handle;
}

int _findnext(intptr_t search, _finddata_t *entry) {
    std::string mode;
    auto found = gListings.find(search);
    if (Enter("_findnext", &mode)) {
        errno = EINVAL;
        return -1;
    }
    if (found == gListings.end()) {
        errno = EINVAL;
        return -1;
    }
    Listing &listing = found->second;
    if (listing.next >= listing.entries.size()) {
        errno = ENOENT;
        return -1;
    }
    *entry = listing.entries[listing.next++];
    return 0;
}

int _findclose(intptr_t search) {
    Enter("_findclose");
    auto found = gListings.find(search);
    if (found == gListings.end()) {
        errno = EINVAL;
        return -1;
    }
    gListings.erase(found);
    Current().findHandles.erase(search);
    return 0;
}

// ---- C runtime: files --------------------------------------------------------------------

namespace {

// Whether this process has host open for writing, through a stream or a file handle: an open
// that denies writers then fails with a sharing violation, as on Windows. (simwin cannot see
// other processes' opens.)
bool OpenForWritingHere(const std::string &host) {
    struct stat wanted, open;
    if (stat(host.c_str(), &wanted) != 0)
        return false;
    auto same = [&](int descriptor) {
        return fstat(descriptor, &open) == 0 && open.st_dev == wanted.st_dev &&
               open.st_ino == wanted.st_ino;
    };
    for (FILE *stream : gWriting)
        if (same(fileno(stream)))
            return true;
    for (const auto &handle : Current().fileHandles)
        if (handle.second.writing && same(handle.second.descriptor))
            return true;
    return false;
}

// fopen and _fsopen: shareFlag says which other opens the new one tolerates.
FILE *OpenStream(const char *path, const char *mode, int shareFlag) {
    std::string fault, host;
    bool writing = mode && (strchr(mode, 'w') || strchr(mode, 'a') || strchr(mode, '+'));
    bool denyWriters = shareFlag == _SH_DENYWR || shareFlag == _SH_DENYRW;
    FILE *file = nullptr;
    if (Enter("fopen", &fault))
        errno = EACCES;
    else if (!mode || !Resolve(path, &host))
        errno = ENOENT;
    else if (denyWriters && OpenForWritingHere(host))
        errno = EACCES;
    else if (IsDir(host))
        errno = EACCES; // the Windows runtime opens no folder as a file
    else if (!writing && !IsFile(host))
        errno = ENOENT;
    else if (writing && !IsDir(Parent(host)))
        errno = ENOENT;
    else {
        bool existed = IsFile(host);
        if (writing && existed)
            simwin::NoteChange(host); // before "w" cuts it
        file = ::fopen(host.c_str(), mode);
        if (file && writing && !existed)
            simwin::NoteNewFile(fileno(file));
    }
    if (file) {
        Current().files.insert(file);
        gFileNames[file] = path;
        if (writing)
            gWriting.insert(file);
    }
    if (writing)
        Event(std::string("fopen ") + (path ? path : "(null)") + " " + mode + " " +
              (file ? "ok" : "fail"));
    return file;
}

} // namespace

FILE *SimFopen(const char *path, const char *mode) {
    return OpenStream(path, mode, _SH_DENYNO);
}

FILE *SimFsopen(const char *path, const char *mode, int shareFlag) {
    return OpenStream(path, mode, shareFlag);
}

size_t SimFread(void *buffer, size_t size, size_t count, FILE *file) {
    std::string mode;
    if (Enter("fread", &mode))
        return mode == "short" ? ::fread(buffer, size, count / 2, file) : 0;
    return ::fread(buffer, size, count, file);
}

size_t SimFwrite(const void *buffer, size_t size, size_t count, FILE *file) {
    std::string mode;
    size_t done;
    if (Enter("fwrite", &mode))
        done = mode == "short" ? ::fwrite(buffer, size, count / 2, file) : 0;
    else
        done = ::fwrite(buffer, size, count, file);
    Event("fwrite " + gFileNames[file] + " " + std::to_string(done * size) + " of " +
          std::to_string(count * size));
    return done;
}

int SimFflush(FILE *file) {
    std::string mode;
    if (Enter("fflush", &mode)) {
        errno = ENOSPC;
        return EOF;
    }
    return ::fflush(file);
}

int SimFclose(FILE *file) {
    std::string mode;
    bool fails = Enter("fclose", &mode);
    std::string name = gFileNames[file];
    bool written = gWriting.erase(file) > 0;
    gFileNames.erase(file);
    Current().files.erase(file);
    int result = ::fclose(file); // the stream is gone whatever the result, as in the runtime
    if (fails) {
        errno = EIO;
        result = EOF;
    }
    if (written)
        Event("fclose " + name + " " + (result == 0 ? "ok" : "fail"));
    return result;
}

int _fileno(FILE *file) {
    return fileno(file);
}

int _commit(int descriptor) {
    std::string mode;
    if (Enter("_commit", &mode)) {
        errno = EIO;
        return -1;
    }
    simwin::NoteFlushed(descriptor); // the machine's model of its disk, as FlushFileBuffers
    return 0;
}

// ---- Heap --------------------------------------------------------------------------------

void *SimMalloc(size_t bytes) {
    if (Enter("malloc")) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = ::malloc(bytes ? bytes : 1);
    if (block)
        Current().heapBlocks.insert(block);
    return block;
}

void *SimCalloc(size_t count, size_t bytes) {
    if (Enter("calloc")) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = ::calloc(count ? count : 1, bytes ? bytes : 1);
    if (block)
        Current().heapBlocks.insert(block);
    return block;
}

void *SimRealloc(void *block, size_t bytes) {
    if (Enter("realloc")) {
        errno = ENOMEM;
        return nullptr; // the old block stays valid and held
    }
    if (block && !Current().heapBlocks.count(block)) {
        fprintf(stderr, "simwin: realloc of a block that is not held\n");
        abort();
    }
    void *moved = ::realloc(block, bytes ? bytes : 1);
    if (moved) {
        Current().heapBlocks.erase(block);
        Current().heapBlocks.insert(moved);
    }
    return moved;
}

void SimFree(void *block) {
    if (!block)
        return;
    if (!Current().heapBlocks.erase(block)) {
        fprintf(stderr, "simwin: free of a block that is not held\n");
        abort();
    }
    ::free(block);
}

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
    if (Enter("LocalAlloc")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void *block =
        (flags & LMEM_ZEROINIT) ? ::calloc(1, bytes ? bytes : 1) : ::malloc(bytes ? bytes : 1);
    if (block)
        Current().heapBlocks.insert(block);
    return block;
}

HLOCAL LocalFree(HLOCAL block) {
    if (!block)
        return nullptr;
    if (!Current().heapBlocks.erase(block)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    ::free(block);
    return nullptr;
}

// ---- Small helpers of kernel32 and user32 ------------------------------------------------

void Sleep(DWORD milliseconds) {
    Enter("Sleep");
    Current().clock += milliseconds;
    Event("Sleep " + std::to_string(milliseconds));
}

int lstrlenA(LPCSTR text) {
    return text ? (int)strlen(text) : 0;
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
    int order = strcmp(a ? a : "", b ? b : "");
    return order < 0 ? -1 : order > 0;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    char text[1025]; // the real one writes at most 1024 characters and the terminator
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        length = 0;
    if (length > 1024)
        length = 1024;
    memcpy(buffer, text, (size_t)length);
    buffer[length] = '\0';
    return length;
}
