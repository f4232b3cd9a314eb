#include "common/win32.h"

#include "common/spool_contract.h"

namespace {

// Keeps what snprintf wrote when it fits, else empties the buffer.
int Fits(int length, char *buffer, size_t size) {
    if (length < 0 || (size_t)length >= size) {
        if (size)
            buffer[0] = '\0';
        return 0;
    }
    return 1;
}

// Whether the length characters at text are those of ascii, letters in any case.
bool SameLetters(const char *text, const char *ascii, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char a = text[i], b = ascii[i];
        a = a >= 'A' && a <= 'Z' ? (char)(a - 'A' + 'a') : a;
        b = b >= 'A' && b <= 'Z' ? (char)(b - 'A' + 'a') : b;
        if (a != b)
            return false;
    }
    return true;
}

// Whether name has no drive, separator, stream, wildcard or control character: a bare name.
bool IsBareName(const char *name) {
    for (const char *c = name; *c; ++c)
        if ((unsigned char)*c < 0x20 || strchr("\\/:*?\"<>|", *c))
            return false;
    return true;
}

} // namespace

int SpoolFolderPath(char *path, size_t size) {
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return Fits(-1, path, size);
    return Fits(snprintf(path, size, "%s\\%s", windows, kSpoolFolderName), path, size);
}

int FormatPageName(unsigned long long job, unsigned long long page, char *name, size_t size) {
    return Fits(snprintf(name, size, "%s%llu-%llu.jpg", kPagePrefix, job, page), name, size);
}

unsigned long long PageJobNumber(const char *name) {
    if (strncmp(name, kPagePrefix, sizeof kPagePrefix - 1) != 0)
        return 0;
    unsigned long long number = 0;
    for (const char *digit = name + sizeof kPagePrefix - 1; *digit >= '0' && *digit <= '9'; ++digit)
        number = number < 100000000000ull ? number * 10 + (unsigned)(*digit - '0') : number;
    return number;
}

int IsPageName(const char *name) {
    size_t length = strlen(name), stem = sizeof kPagePrefix - 1, suffix = 4;
    if (length < stem + suffix || !SameLetters(name, kPagePrefix, stem) ||
        !SameLetters(name + length - suffix, ".jpg", suffix))
        return 0;
    return IsBareName(name);
}

int IsWaitingPageName(const char *name) {
    size_t length = strlen(name), prefix = sizeof kWaitingPagePrefix - 1,
           suffix = sizeof kWaitingPageSuffix - 1;
    if (length <= prefix + suffix || strncmp(name, kWaitingPagePrefix, prefix) != 0 ||
        strcmp(name + length - suffix, kWaitingPageSuffix) != 0)
        return 0;
    return IsBareName(name);
}

int FormatWaitingPageName(int jobId, int page, char *name, size_t size) {
    return Fits(
        snprintf(name, size, "%s%d-%d%s", kWaitingPagePrefix, jobId, page, kWaitingPageSuffix),
        name, size);
}

int FormatAcceptedJobName(int jobId, char *name, size_t size) {
    return Fits(snprintf(name, size, "%s%d%s", kWaitingPagePrefix, jobId, kAcceptedJobSuffix), name,
                size);
}

int FormatRunOutputName(int run, char *name, size_t size) {
    return Fits(snprintf(name, size, "%s%d%s", kRunOutputPrefix, run, kRunOutputSuffix), name,
                size);
}
