// Behaviour of the platform calls that simwin imitates: the wildcard listing, deleting, copying
// and renaming files, the Windows and current directories, opening files. Built in both builds
// and run against simwin (host) and under Wine (windows), which is the reference: where they
// disagree, simwin is wrong.
//
// Works in the folder VellumTransitBehaviour of the Windows directory, which the runner makes
// empty beforehand, with one subfolder VellumTransitFolder.jpg in it (the interface offers no
// way to make folders). Prints one line per check and "N passed, M failed"; exits 1 on failure.
//
// Each Win32 call gets the sentinel 0xdeadbeef as its last error first; a failing call must
// replace it with its exact error code. After a success the last error is left unchecked: the
// platform does not define it and the program never reads it.
#include "common/win32.h"

#include <cerrno> // errno is no part of the platform header on the host

namespace {

const DWORD kSentinel = 0xdeadbeef;
const int kErrnoSentinel = 9999;
const char kScratchFolder[] = "\\VellumTransitBehaviour";
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267
#endif

// The listing reports 32-bit sizes, as the driver expects.
static_assert(sizeof(((_finddata_t *)nullptr)->size) == 4, "the listing's size is 32-bit");

int gPassed = 0;
int gFailed = 0;

// Counts and prints one check.
void Report(bool ok, const char *what, const char *detail) {
    if (ok)
        ++gPassed;
    else
        ++gFailed;
    printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, ok ? "" : ": ", ok ? "" : detail);
}

// A Win32 call that must fail: FALSE (or 0) and exactly this last error.
void ExpectFailure(const char *what, long long result, DWORD error, DWORD expectedError) {
    char detail[160];
    snprintf(detail, sizeof detail, "result %lld (expected 0), error %lu (expected %lu)", result,
             (unsigned long)error, (unsigned long)expectedError);
    Report(result == 0 && error == expectedError, what, detail);
}

// A Win32 call that must succeed.
void ExpectSuccess(const char *what, long long result, DWORD error) {
    char detail[160];
    snprintf(detail, sizeof detail, "result 0, error %lu", (unsigned long)error);
    Report(result != 0, what, detail);
}

// A number that must come out as expected.
void ExpectNumber(const char *what, long long got, long long expected) {
    char detail[160];
    snprintf(detail, sizeof detail, "got %lld, expected %lld", got, expected);
    Report(got == expected, what, detail);
}

// A C runtime call that must fail with this errno.
void ExpectErrno(const char *what, bool failed, int error, int expectedError) {
    char detail[160];
    snprintf(detail, sizeof detail, "%s, errno %d (expected %d)",
             failed ? "failed" : "succeeded (expected failure)", error, expectedError);
    Report(failed && error == expectedError, what, detail);
}

// Makes a file of size bytes through the C runtime; false when it could not.
bool MakeFile(const char *name, size_t size) {
    FILE *file = fopen(name, "wb");
    if (!file)
        return false;
    char bytes[256];
    memset(bytes, 'x', sizeof bytes);
    bool ok = size <= sizeof bytes && fwrite(bytes, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

// The size of a file as reading it whole gives, or -1 when it cannot be opened.
long long FileSize(const char *name) {
    FILE *file = fopen(name, "rb");
    if (!file)
        return -1;
    char bytes[256];
    long long total = 0;
    size_t got;
    while ((got = fread(bytes, 1, sizeof bytes, file)) > 0)
        total += (long long)got;
    fclose(file);
    return total;
}

// The spooled-page names of the listing tests, each with its own size.
struct Page {
    const char *name;
    size_t size;
};
const Page kPages[] = {
    {"VellumTransit1.jpg", 101}, {"VellumTransit10.jpg", 110}, {"VellumTransit2.jpg", 102},
    {"vellumtransit3.JPG", 103}, {"VellumTransitA.jpg", 104},  {"VellumTransit_b.jpg", 105},
    {"VellumTransit.jpg", 100},  {"VellumTransit.pdf", 7},     {"x.jpg", 9},
};
const char kFolderName[] = "VellumTransitFolder.jpg";

// Lists pattern into names (at most capacity), with each entry's size and attributes;
// returns the count, or -1 when _findfirst found nothing (errno in *error).
int List(const char *pattern, char names[][MAX_PATH], unsigned *sizes, unsigned *attribs,
         int capacity, int *error, int *endError) {
    _finddata_t entry;
    errno = kErrnoSentinel;
    intptr_t search = _findfirst(pattern, &entry);
    *error = errno;
    if (search == -1)
        return -1;
    int count = 0;
    do {
        if (count < capacity) {
            snprintf(names[count], MAX_PATH, "%s", entry.name);
            sizes[count] = entry.size;
            attribs[count] = entry.attrib;
        }
        ++count;
        errno = kErrnoSentinel;
    } while (_findnext(search, &entry) == 0);
    *endError = errno;
    _findclose(search);
    return count;
}

// Compares a listing with the names expected, in order.
void ExpectListing(const char *what, const char *pattern, const char *const *expected,
                   int expectedCount) {
    char names[16][MAX_PATH];
    unsigned sizes[16], attribs[16];
    int error = 0, endError = 0;
    int count = List(pattern, names, sizes, attribs, 16, &error, &endError);
    char detail[1200] = "got";
    bool same = count == expectedCount;
    for (int i = 0; i < count && i < 16; ++i) {
        same = same && strcmp(names[i], expected[i]) == 0;
        size_t used = strlen(detail);
        if (snprintf(detail + used, sizeof detail - used, " %s", names[i]) < 0)
            break;
    }
    Report(same, what, detail);
}

void CheckListing() {
    for (const Page &page : kPages)
        if (!MakeFile(page.name, page.size))
            Report(false, "making the listed files", page.name);

    // NTFS keeps a folder's names in the order of their upper-case forms: '.' < digits <
    // letters < '_', and digits compare as characters, not numbers.
    const char *const ntfsOrder[] = {
        "VellumTransit.jpg",       "VellumTransit1.jpg",  "VellumTransit10.jpg",
        "VellumTransit2.jpg",      "vellumtransit3.JPG",  "VellumTransitA.jpg",
        "VellumTransitFolder.jpg", "VellumTransit_b.jpg",
    };
    ExpectListing("_findfirst/_findnext list VellumTransit*.jpg in NTFS order, no .pdf, no x.jpg",
                  "VellumTransit*.jpg", ntfsOrder, 8);
    ExpectListing("the pattern matches without regard to case", "VELLUMTRANSIT*.JPG", ntfsOrder, 8);
    const char *const oneCharacter[] = {"VellumTransit1.jpg", "VellumTransit2.jpg",
                                        "vellumtransit3.JPG", "VellumTransitA.jpg"};
    ExpectListing("'?' stands for exactly one character", "VellumTransit?.jpg", oneCharacter, 4);
    const char *const onlyPdf[] = {"VellumTransit.pdf"};
    ExpectListing("VellumTransit*.pdf matches the PDF alone", "VellumTransit*.pdf", onlyPdf, 1);

    // Each entry's size is the file's, and the folder is marked as one.
    char names[16][MAX_PATH];
    unsigned sizes[16], attribs[16];
    int error = 0, endError = 0;
    int count = List("VellumTransit*.jpg", names, sizes, attribs, 16, &error, &endError);
    int sizesRight = 0, filesMarked = 0, folderMarked = 0;
    for (int i = 0; i < count && i < 16; ++i) {
        if (strcmp(names[i], kFolderName) == 0) {
            folderMarked += (attribs[i] & _A_SUBDIR) != 0;
            continue;
        }
        filesMarked += (attribs[i] & _A_SUBDIR) == 0;
        for (const Page &page : kPages)
            sizesRight += strcmp(page.name, names[i]) == 0 && sizes[i] == page.size;
    }
    ExpectNumber("each listed file has its own size", sizesRight, 7);
    ExpectNumber("listed files are not marked as folders", filesMarked, 7);
    ExpectNumber("the listed folder is marked _A_SUBDIR", folderMarked, 1);
    ExpectNumber("_findnext after the last entry: errno ENOENT", endError, ENOENT);

    count = List("NoSuchPage*.jpg", names, sizes, attribs, 16, &error, &endError);
    ExpectErrno("_findfirst with no match: -1, errno ENOENT", count == -1, error, ENOENT);
    count = List("NoSuchFolder\\*.jpg", names, sizes, attribs, 16, &error, &endError);
    ExpectErrno("_findfirst in a missing folder: -1, errno ENOENT", count == -1, error, ENOENT);
}

void CheckDeleteFile() {
    MakeFile("delete-me.jpg", 3);
    SetLastError(kSentinel);
    BOOL result = DeleteFileA("delete-me.jpg");
    ExpectSuccess("DeleteFileA on a file", result, GetLastError());
    ExpectNumber("the deleted file is gone", FileSize("delete-me.jpg"), -1);

    SetLastError(kSentinel);
    result = DeleteFileA("delete-me.jpg");
    ExpectFailure("DeleteFileA on a missing file: ERROR_FILE_NOT_FOUND", result, GetLastError(),
                  ERROR_FILE_NOT_FOUND);
    SetLastError(kSentinel);
    result = DeleteFileA("NoSuchFolder\\delete-me.jpg");
    ExpectFailure("DeleteFileA in a missing folder: ERROR_PATH_NOT_FOUND", result, GetLastError(),
                  ERROR_PATH_NOT_FOUND);
    SetLastError(kSentinel);
    result = DeleteFileA(kFolderName);
    ExpectFailure("DeleteFileA on a folder: ERROR_ACCESS_DENIED", result, GetLastError(),
                  ERROR_ACCESS_DENIED);
}

void CheckCopyFile() {
    MakeFile("copy-target.pdf", 5);
    SetLastError(kSentinel);
    BOOL result = CopyFileA("VellumTransit1.jpg", "copy-target.pdf", FALSE);
    ExpectSuccess("CopyFileA replaces an existing file when fail-if-exists is FALSE", result,
                  GetLastError());
    ExpectNumber("the replaced file holds the source's bytes", FileSize("copy-target.pdf"), 101);

    SetLastError(kSentinel);
    result = CopyFileA("VellumTransit2.jpg", "copy-target.pdf", TRUE);
    ExpectFailure("CopyFileA onto an existing file with fail-if-exists TRUE: ERROR_FILE_EXISTS",
                  result, GetLastError(), ERROR_FILE_EXISTS);
    ExpectNumber("the refused copy leaves the target alone", FileSize("copy-target.pdf"), 101);

    SetLastError(kSentinel);
    result = CopyFileA("VellumTransit1.jpg", "NoSuchFolder\\copy-target.pdf", FALSE);
    ExpectFailure("CopyFileA into a missing folder: ERROR_PATH_NOT_FOUND", result, GetLastError(),
                  ERROR_PATH_NOT_FOUND);
    SetLastError(kSentinel);
    result = CopyFileA("no-such-source.pdf", "copy-target.pdf", FALSE);
    ExpectFailure("CopyFileA from a missing file: ERROR_FILE_NOT_FOUND", result, GetLastError(),
                  ERROR_FILE_NOT_FOUND);
    SetLastError(kSentinel);
    result = CopyFileA("VellumTransit1.jpg", kFolderName, FALSE);
    ExpectFailure("CopyFileA onto a folder: ERROR_ACCESS_DENIED", result, GetLastError(),
                  ERROR_ACCESS_DENIED);
    DeleteFileA("copy-target.pdf");
}

void CheckMoveFile() {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    MakeFile("move-source.partial", 11);
    MakeFile("move-target.pdf", 4);
    SetLastError(kSentinel);
    BOOL result = MoveFileExA("move-source.partial", "move-target.pdf", flags);
    ExpectSuccess("MoveFileExA with MOVEFILE_REPLACE_EXISTING replaces the target", result,
                  GetLastError());
    ExpectNumber("the target holds the moved bytes", FileSize("move-target.pdf"), 11);
    ExpectNumber("the moved file's old name is gone", FileSize("move-source.partial"), -1);

    MakeFile("move-source.partial", 12);
    SetLastError(kSentinel);
    result = MoveFileExA("move-source.partial", "move-target.pdf", 0);
    ExpectFailure("MoveFileExA onto an existing file without the flag: ERROR_ALREADY_EXISTS",
                  result, GetLastError(), ERROR_ALREADY_EXISTS);
    SetLastError(kSentinel);
    result = MoveFileExA("no-such-source.partial", "move-target.pdf", flags);
    ExpectFailure("MoveFileExA from a missing file: ERROR_FILE_NOT_FOUND", result, GetLastError(),
                  ERROR_FILE_NOT_FOUND);
    SetLastError(kSentinel);
    result = MoveFileExA("move-source.partial", "NoSuchFolder\\move-target.pdf", flags);
    ExpectFailure("MoveFileExA into a missing folder: ERROR_PATH_NOT_FOUND", result, GetLastError(),
                  ERROR_PATH_NOT_FOUND);
    DeleteFileA("move-source.partial");
    DeleteFileA("move-target.pdf");
}

void CheckFopen() {
    errno = kErrnoSentinel;
    FILE *file = fopen("no-such-file.pdf", "rb");
    ExpectErrno("fopen rb of a missing file: ENOENT", file == nullptr, errno, ENOENT);
    if (file)
        fclose(file);
    errno = kErrnoSentinel;
    file = fopen(kFolderName, "rb");
    ExpectErrno("fopen rb of a folder: EACCES", file == nullptr, errno, EACCES);
    if (file)
        fclose(file);
    errno = kErrnoSentinel;
    file = fopen("NoSuchFolder\\new.pdf", "wb");
    ExpectErrno("fopen wb in a missing folder: ENOENT", file == nullptr, errno, ENOENT);
    if (file)
        fclose(file);
}

// The Windows directory's length, or 0 when it cannot be had.
UINT CheckWindowsDirectory(char *windowsDir) {
    SetLastError(kSentinel);
    UINT length = GetWindowsDirectoryA(windowsDir, MAX_PATH);
    ExpectSuccess("GetWindowsDirectoryA into MAX_PATH characters", length, GetLastError());
    if (length == 0 || length >= MAX_PATH)
        return 0;
    ExpectNumber("it returns the text's length", (long long)strlen(windowsDir), length);

    char small[MAX_PATH];
    SetLastError(kSentinel);
    ExpectNumber("too small by one: the size needed, NUL included",
                 GetWindowsDirectoryA(small, length), length + 1);
    SetLastError(kSentinel);
    ExpectNumber("a buffer of 1: the size needed, NUL included", GetWindowsDirectoryA(small, 1),
                 length + 1);
    SetLastError(kSentinel);
    ExpectNumber("exactly the size needed: the length", GetWindowsDirectoryA(small, length + 1),
                 length);
    return length;
}

void CheckSetCurrentDirectory(const char *scratch) {
    SetLastError(kSentinel);
    BOOL result = SetCurrentDirectoryA("NoSuchFolder");
    ExpectFailure("SetCurrentDirectoryA to a missing folder: ERROR_FILE_NOT_FOUND", result,
                  GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(kSentinel);
    result = SetCurrentDirectoryA("NoSuchFolder\\Deeper");
    ExpectFailure("SetCurrentDirectoryA below a missing folder: ERROR_PATH_NOT_FOUND", result,
                  GetLastError(), ERROR_PATH_NOT_FOUND);
    MakeFile("not-a-folder.txt", 1);
    SetLastError(kSentinel);
    result = SetCurrentDirectoryA("not-a-folder.txt");
    ExpectFailure("SetCurrentDirectoryA to a file: ERROR_DIRECTORY", result, GetLastError(),
                  ERROR_DIRECTORY);
    DeleteFileA("not-a-folder.txt");

    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    Report(strcmp(current, scratch) == 0, "a failed SetCurrentDirectoryA leaves it unchanged",
           current);
}

} // namespace

int main() {
    char scratch[MAX_PATH];
    UINT length = CheckWindowsDirectory(scratch);
    if (length == 0 || length + sizeof kScratchFolder > MAX_PATH) {
        printf("%d passed, %d failed\n", gPassed, gFailed + 1);
        return 1;
    }
    memcpy(scratch + length, kScratchFolder, sizeof kScratchFolder);
    SetLastError(kSentinel);
    BOOL entered = SetCurrentDirectoryA(scratch);
    ExpectSuccess("SetCurrentDirectoryA into the scratch folder", entered, GetLastError());
    if (entered) {
        CheckListing();
        CheckDeleteFile();
        CheckCopyFile();
        CheckMoveFile();
        CheckFopen();
        CheckSetCurrentDirectory(scratch);
        for (const Page &page : kPages)
            DeleteFileA(page.name);
    }
    printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
