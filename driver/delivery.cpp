#include "common/win32.h"

#include <cerrno>

#include "common/delivered_name.h"
#include "common/ereader_root.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "discovery/drive_scan.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "media/media_delivery.h"
#include "removal/safe_removal.h"

namespace {

const char kPartialSuffix[] = ".partial";
const size_t kCompareBlock = 65536;

// What the copy to the e-reader came to.
enum CopyResult {
    COPY_FAILED = 0,  // the PDF is not on the e-reader: it waits for a later run
    COPY_DONE = 1,    // copied under a free name
    COPY_ALREADY = 2, // an earlier run copied it and was stopped before it deleted the PDF
};

// Whether two files hold the same bytes (both are size bytes long, as listed).
enum Sameness { SAME = 0, DIFFERENT = 1, UNKNOWN = 2 };

// Two open files and their blocks, released on every way out.
struct ComparedFiles {
    FILE *files[2] = {nullptr, nullptr};
    unsigned char *blocks[2] = {nullptr, nullptr};
    ~ComparedFiles() {
        for (int i = 0; i < 2; ++i) {
            if (files[i])
                fclose(files[i]);
            free(blocks[i]);
        }
    }
};

// Compares the local PDF with a file on the e-reader, block by block. UNKNOWN when either cannot
// be read to its listed end: a copy that cannot be checked is not taken for the delivery.
Sameness CompareFiles(const char *local, const char *device, uint32_t size) {
    ComparedFiles compared;
    const char *names[2] = {local, device};
    for (int i = 0; i < 2; ++i) {
        compared.files[i] = fopen(names[i], "rb");
        compared.blocks[i] = static_cast<unsigned char *>(malloc(kCompareBlock));
        if (!compared.files[i] || !compared.blocks[i])
            return UNKNOWN;
    }
    for (uint32_t done = 0; done < size;) {
        size_t piece = size - done < kCompareBlock ? size - done : kCompareBlock;
        for (int i = 0; i < 2; ++i)
            if (fread(compared.blocks[i], 1, piece, compared.files[i]) != piece)
                return UNKNOWN;
        if (memcmp(compared.blocks[0], compared.blocks[1], piece) != 0)
            return DIFFERENT;
        done += (uint32_t)piece;
    }
    return SAME;
}

// A path in the e-reader's documents folder; false when it would not fit.
bool DocumentsPath(const char *name, const char *suffix, char *path, size_t size) {
    int length = snprintf(path, size, "%sdocuments\\%s%s", EreaderRoot, name, suffix);
    return length > 0 && (size_t)length < size;
}

// Whether a name ends with ".partial", letters in any case.
bool IsPartialName(const char *name) {
    size_t length = strlen(name), suffix = sizeof kPartialSuffix - 1;
    if (length < suffix)
        return false;
    for (size_t i = 0; i < suffix; ++i) {
        char c = name[length - suffix + i];
        if ((c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c) != kPartialSuffix[i])
            return false;
    }
    return true;
}

// The documents folder as this delivery found it.
struct DocumentsFolder {
    bool taken[kDeliveredNameLast + 1]; // delivered names already there, by number
    bool already;                       // one of them holds the local PDF's bytes
};

// Looks through the documents folder once: notes the delivered names taken, deletes copies that
// an earlier run left cut short (ours: only a run writes "VellumTransit*.partial"), and compares
// each delivered file of the local PDF's size with it. False when the folder could not be read
// to its end or a candidate could not be compared: then nothing is copied.
bool SurveyDocuments(uint32_t localSize, DocumentsFolder *folder) {
    char pattern[MAX_PATH], path[MAX_PATH];
    if (!DocumentsPath(kDeliveredPrefix, "*", pattern, sizeof pattern))
        return false;
    _finddata_t found;
    intptr_t search = _findfirst(pattern, &found);
    if (search == -1)
        return errno == ENOENT; // nothing of ours there, or no documents folder (the copy says)
    bool readable = true;
    do {
        int number = ParseDeliveredName(found.name);
        if ((found.attrib & _A_SUBDIR) != 0 || !DocumentsPath(found.name, "", path, sizeof path))
            continue;
        if (IsPartialName(found.name)) {
            DeleteFileRetrying(path);
        } else if (number > 0) {
            folder->taken[number] = true;
            if (found.size == localSize && !folder->already) {
                Sameness same = CompareFiles(kOutputFileName, path, localSize);
                folder->already = same == SAME;
                readable = same != UNKNOWN;
            }
        }
    } while (readable && _findnext(search, &found) == 0);
    readable = readable && errno == ENOENT;
    _findclose(search);
    return readable;
}

// Flushes a copy to the device's disk: the local PDF goes before the drive is removed, so the
// copy must not wait in the device's cache.
bool FlushCopy(const char *path) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) && flushed;
}

// Copies the PDF into the e-reader's documents folder under the first free delivered name:
// first whole under that name plus ".partial", then renamed without replacing anything, so that
// a copy cut short never passes for a document and a document not yet read is never lost to the
// next. When the name was taken meanwhile, the next free one is used.
CopyResult CopyToEreader() {
    uint64_t localSize = 0;
    if (FindFileSize(kOutputFileName, &localSize) != 1)
        return COPY_FAILED; // no PDF: the conversion could not write it
    DocumentsFolder folder = {};
    if (!SurveyDocuments((uint32_t)localSize, &folder))
        return COPY_FAILED;
    if (folder.already)
        return COPY_ALREADY;
    int number = 1;
    while (number <= kDeliveredNameLast && folder.taken[number])
        ++number;
    char name[MAX_PATH], partial[MAX_PATH], destination[MAX_PATH];
    if (number > kDeliveredNameLast || !FormatDeliveredName(number, name, sizeof name) ||
        !DocumentsPath(name, kPartialSuffix, partial, sizeof partial) ||
        !CopyFileA(kOutputFileName, partial, TRUE))
        return COPY_FAILED; // no name free (as on a full device), or the copy failed
    if (!FlushCopy(partial)) {
        DeleteFileA(partial);
        return COPY_FAILED;
    }
    for (; number <= kDeliveredNameLast; ++number) {
        if (folder.taken[number] || !FormatDeliveredName(number, name, sizeof name) ||
            !DocumentsPath(name, "", destination, sizeof destination))
            continue;
        if (MoveFileExA(partial, destination, MOVEFILE_WRITE_THROUGH))
            return COPY_DONE;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    DeleteFileA(partial);
    return COPY_FAILED;
}

} // namespace

int DeliverPdf(DeliveryState *state) {
    if (!state->scanned) {
        EreaderRoot[0] = '\0';
        FindEreaderDrive();
        state->scanned = 1;
    }
    printf("%s", EreaderRoot);
    CopyResult copied = EreaderRoot[0] != '\0' ? CopyToEreader() : COPY_FAILED;
    if (copied != COPY_FAILED) {
        printf(copied == COPY_DONE ? "Output copied to Kindle!\n" : "Output already on Kindle!\n");
        state->copied = 1;
        // The copy is on the device's disk, so the PDF may go. One whose delete is refused
        // waits, and the next run finds it already there.
        return DeleteFileRetrying(kOutputFileName);
    }
    if (EreaderRoot[0] == '\0') { // no e-reader drive, but maybe one that is a portable device
        char name[sizeof state->mediaName];
        MediaDeliveryResult media = DeliverToMediaEreader(kOutputFileName, name, sizeof name);
        if (media == MEDIA_COPIED || media == MEDIA_ALREADY) {
            memcpy(state->mediaName, name, sizeof name);
            return DeleteFileRetrying(kOutputFileName);
        }
    }
    printf("Kindle must be plugged in!\n");
    return 0;
}

void FinishDelivery(DeliveryState *state) {
    if (state->copied)
        SafelyRemoveDrive(EreaderRoot[0]); // its outcome is on the console; nothing depends on it
    if (state->mediaName[0])
        printf("%s can be unplugged.\n", state->mediaName); // a committed object is on the device
}
