// The platform calls that simwin imitates, one program for both builds: run against simwin
// (host) and under Wine (windows), the reference; where they disagree, simwin is wrong. It works
// in the Windows directory's folder VellumTransitBehaviour, which the runner empties but for one
// subfolder VellumTransitFolder.jpg (the interface cannot make folders). Every call gets the
// sentinel 0xdeadbeef as its last error first; a failing call must leave its exact error code.
// Prints each failed check and "N passed, M failed"; exits 1 on failure.
#include "common/win32.h"

#include <cerrno> // errno is no part of the platform header on the host

namespace {

// The listing reports 32-bit sizes, as the driver expects.
static_assert(sizeof(((_finddata_t *)nullptr)->size) == 4, "the listing's size is 32-bit");

int gPassed = 0, gFailed = 0;
char gScratch[MAX_PATH]; // the scratch folder, the current directory
UINT gLength = 0;        // the Windows directory's length

// Counts one check and prints it when it failed.
void Report(bool ok, const char *what, const char *got) {
    ok ? ++gPassed : ++gFailed;
    if (!ok)
        printf("FAIL %s: got %s\n", what, got);
}

// What _findfirst/_findnext list for pattern, "name:size" (or "name:dir") each, or "errno N"
// when _findfirst finds nothing.
const char *Listing(const char *pattern) {
    static char text[1024];
    _finddata_t entry;
    errno = 9999;
    intptr_t search = _findfirst(pattern, &entry);
    if (search == -1 && snprintf(text, sizeof text, "errno %d", errno) > 0)
        return text;
    size_t used = 0;
    do {
        char size[16];
        snprintf(size, sizeof size, "%u", (unsigned)entry.size);
        used += snprintf(text + used, sizeof text - used, "%s%s:%s", used ? " " : "", entry.name,
                         entry.attrib & _A_SUBDIR ? "dir" : size);
    } while (used < sizeof text && _findnext(search, &entry) == 0);
    _findclose(search);
    return text;
}

// The files made first, the i-th of 100 + i bytes.
const char *const kFiles[] = {"VellumTransit.jpg",   "VellumTransit1.jpg", "VellumTransit2.jpg",
                              "vellumtransit3.JPG",  "VellumTransitA.jpg", "VellumTransit_b.jpg",
                              "VellumTransit10.jpg", "VellumTransit.pdf",  "copied.jpg",
                              "target.jpg"};

// NTFS keeps a folder's names in the order of their upper-case forms: '.' < digits < letters <
// '_', digits compared as characters. ENOENT is 2 in both C runtimes.
const char kJpegs[] = "VellumTransit.jpg:100 VellumTransit1.jpg:101 VellumTransit10.jpg:106 "
                      "VellumTransit2.jpg:102 vellumtransit3.JPG:103 VellumTransitA.jpg:104 "
                      "VellumTransitFolder.jpg:dir VellumTransit_b.jpg:105";
const char *const kListings[][2] = {
    {"VellumTransit*.jpg", kJpegs},
    {"VELLUMTRANSIT*.JPG", kJpegs},
    {"VellumTransit?.jpg", "VellumTransit1.jpg:101 VellumTransit2.jpg:102 vellumtransit3.JPG:103 "
                           "VellumTransitA.jpg:104"},
    {"NoSuchPage*.jpg", "errno 2"},
};

// Creates name exclusively and writes count bytes through the handle; the handle is closed.
BOOL CreateNew(const char *name, DWORD count) {
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(file, gScratch, count, &written, nullptr) && written == count &&
              FlushFileBuffers(file);
    return CloseHandle(file) && ok;
}

// While a file is open for writing, an open that denies writers fails (EACCES) and one that
// shares succeeds.
BOOL DenyWriters() {
    FILE *writer = fopen("held.jpg", "wb");
    FILE *denying = _fsopen("held.jpg", "rb", _SH_DENYWR);
    int error = errno;
    FILE *sharing = _fsopen("held.jpg", "rb", _SH_DENYNO);
    BOOL ok = writer && !denying && error == EACCES && sharing;
    FILE *opened[] = {writer, denying, sharing};
    for (FILE *file : opened)
        if (file)
            fclose(file);
    DeleteFileA("held.jpg");
    return ok;
}

// The computer name fits MAX_COMPUTERNAME_LENGTH + 1 bytes, and the size is its length.
BOOL ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) && size > 0 && size == strlen(name);
}

// In a buffer without room for its terminator the name is refused, with the size it needs.
BOOL ComputerNameTooSmall() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = sizeof name;
    if (!GetComputerNameA(name, &length))
        return TRUE; // the row fails: the name was not had
    DWORD size = length;
    BOOL result = GetComputerNameA(name, &size);
    DWORD error = GetLastError();
    if (result || size != length + 1)
        return TRUE;
    SetLastError(error);
    return FALSE;
}

// Takes and gives back a named mutex; then gives it back once more than taken.
BOOL MutexTurn(bool releaseTwice) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(A;;0x00100001;;;WD)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr))
        return FALSE;
    HANDLE mutex = CreateMutexExA(&security, "Global\\VellumTransitBehaviour", 0,
                                  SYNCHRONIZE | MUTEX_MODIFY_STATE);
    LocalFree(security.lpSecurityDescriptor);
    if (!mutex)
        return FALSE;
    BOOL ok = WaitForSingleObject(mutex, 1000) == WAIT_OBJECT_0 && ReleaseMutex(mutex);
    if (ok && releaseTwice)
        ok = ReleaseMutex(mutex);
    DWORD error = GetLastError();
    CloseHandle(mutex);
    SetLastError(error);
    return ok;
}

// The calls, in this order, each to succeed (error 0) or to fail leaving this last error.
#define CALL(expression) [] { return (BOOL)(expression); }
const DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
char gBuffer[MAX_PATH];
const struct {
    const char *what;
    BOOL (*call)();
    DWORD error;
} kCalls[] = {
    {"CopyFileA replacing", CALL(CopyFileA("VellumTransit1.jpg", "copied.jpg", FALSE)), 0},
    {"the copy replaced it", CALL(!strcmp(Listing("copied.jpg"), "copied.jpg:101")), 0},
    {"CopyFileA no-replace", CALL(CopyFileA("target.jpg", "copied.jpg", TRUE)), ERROR_FILE_EXISTS},
    {"CopyFileA no folder", CALL(CopyFileA("copied.jpg", "No\\x", FALSE)), ERROR_PATH_NOT_FOUND},
    {"MoveFileExA replacing", CALL(MoveFileExA("copied.jpg", "target.jpg", kReplace)), 0},
    {"the move replaced it", CALL(!strcmp(Listing("target.jpg"), "target.jpg:101")), 0},
    {"SetCurrentDirectoryA no folder", CALL(SetCurrentDirectoryA("No")), ERROR_FILE_NOT_FOUND},
    {"SetCurrentDirectoryA below one", CALL(SetCurrentDirectoryA("No\\x")), ERROR_PATH_NOT_FOUND},
    {"SetCurrentDirectoryA file", CALL(SetCurrentDirectoryA("target.jpg")), ERROR_DIRECTORY},
    {"cwd kept", CALL(GetCurrentDirectoryA(MAX_PATH, gBuffer) && !strcmp(gBuffer, gScratch)), 0},
    {"GetWindowsDirectoryA small", CALL(GetWindowsDirectoryA(gBuffer, gLength) == gLength + 1), 0},
    {"GetComputerNameA", CALL(ComputerName()), 0},
    {"GetComputerNameA small", CALL(ComputerNameTooSmall()), ERROR_BUFFER_OVERFLOW},
    {"CreateFileA CREATE_NEW", CALL(CreateNew("new.jpg", 42)), 0},
    {"it wrote through its handle", CALL(!strcmp(Listing("new.jpg"), "new.jpg:42")), 0},
    {"CreateFileA CREATE_NEW existing", CALL(CreateNew("NEW.jpg", 1)), ERROR_FILE_EXISTS},
    {"CreateFileA CREATE_NEW no folder", CALL(CreateNew("No\\x", 1)), ERROR_PATH_NOT_FOUND},
    {"DeleteFileA the new file", CALL(DeleteFileA("new.jpg")), 0},
    {"CopyFileA no-replace, other case", CALL(CopyFileA("target.jpg", "COPIED.JPG", TRUE)), 0},
    {"CopyFileA no-replace, taken", CALL(CopyFileA("target.jpg", "Copied.jpg", TRUE)),
     ERROR_FILE_EXISTS},
    {"_fsopen denying writers", CALL(DenyWriters()), 0},
    {"a mutex's turn", CALL(MutexTurn(false)), 0},
    {"ReleaseMutex not owned", CALL(MutexTurn(true)), ERROR_NOT_OWNER},
    {"DeleteFileA", CALL(DeleteFileA("target.jpg")), 0},
    {"DeleteFileA the copy", CALL(DeleteFileA("copied.jpg")), 0},
    {"DeleteFileA no file", CALL(DeleteFileA("copied.jpg")), ERROR_FILE_NOT_FOUND},
    {"DeleteFileA no folder", CALL(DeleteFileA("No\\x")), ERROR_PATH_NOT_FOUND},
};

} // namespace

int main() {
    gLength = GetWindowsDirectoryA(gScratch, MAX_PATH);
    bool entered = gLength > 0 && gLength < MAX_PATH - 32 &&
                   strcat(gScratch, "\\VellumTransitBehaviour") && SetCurrentDirectoryA(gScratch);
    Report(entered, "entering the scratch folder", gScratch);
    for (size_t i = 0; entered && i < sizeof kFiles / sizeof *kFiles; ++i) {
        FILE *file = fopen(kFiles[i], "wb");
        bool made = file && fwrite(gScratch, 1, 100 + i, file) == 100 + i;
        Report(file && fclose(file) == 0 && made, "making", kFiles[i]);
    }
    for (size_t i = 0; entered && i < sizeof kListings / sizeof *kListings; ++i) {
        const char *got = Listing(kListings[i][0]);
        Report(strcmp(got, kListings[i][1]) == 0, kListings[i][0], got);
    }
    for (size_t i = 0; entered && i < sizeof kCalls / sizeof *kCalls; ++i) {
        SetLastError(0xdeadbeef);
        BOOL result = kCalls[i].call();
        DWORD error = GetLastError();
        snprintf(gBuffer, sizeof gBuffer, "result %d, error %lu", (int)result,
                 (unsigned long)error);
        Report(kCalls[i].error ? !result && error == kCalls[i].error : result != 0, kCalls[i].what,
               gBuffer);
    }
    for (size_t i = 0; entered && i < sizeof kFiles / sizeof *kFiles; ++i)
        DeleteFileA(kFiles[i]);
    printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
