#include "common/win32.h"

#include <cerrno>

#include "common/delivered_name.h"
#include "common/document_survey.h"
#include "common/ereader_root.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/sending_note.h"
#include "discovery/drive_scan.h"
#include "driver/conversion.h"
#include "driver/delivery.h"
#include "media/media_delivery.h"
#include "pdf/pdf_document.h"
#include "removal/safe_removal.h"

namespace {

const char kPartialSuffix[] = ".partial";
// A path on the e-reader: a titled name's UTF-8 may take more bytes than MAX_PATH characters.
const size_t kDevicePathSize = 1024;
// The end of the PDF that is read for its title: the tail of 256 pages and the Info object.
const size_t kTitleTailBytes = 65536;

// What the copy to the e-reader came to.
enum CopyResult {
    COPY_FAILED = 0,  // the PDF is not on the e-reader: it waits for a later run
    COPY_DONE = 1,    // copied under a free name
    COPY_ALREADY = 2, // an earlier run copied it and was stopped before it deleted the PDF
};

// Reads a file on the e-reader for the comparison; a read error is a failure, the end is not.
int ReadDriveFile(void *context, unsigned char *bytes, size_t count, size_t *got) {
    FILE *file = static_cast<FILE *>(context);
    *got = fread(bytes, 1, count, file);
    return *got < count && ferror(file) ? 1 : 0;
}

// A path in the e-reader's documents folder; false when it would not fit.
bool DocumentsPath(const char *name, const char *suffix, char *path, size_t size) {
    int length = snprintf(path, size, "%sdocuments\\%s%s", EreaderRoot, name, suffix);
    return length > 0 && (size_t)length < size;
}

// Whether a name is one of base's delivered names followed by ".partial", letters in any case:
// a copy that a run of ours began.
bool IsPartialName(const char *base, const char *name) {
    size_t length = strlen(name), suffix = sizeof kPartialSuffix - 1;
    char copy[kDeliveredNameSize];
    if (length < suffix || length - suffix >= sizeof copy ||
        !SameDeliveredName(name + length - suffix, kPartialSuffix))
        return false;
    memcpy(copy, name, length - suffix);
    copy[length - suffix] = '\0';
    return ParseDeliveredName(base, copy) != 0;
}

// Looks through the documents folder once: notes the delivered names taken, deletes copies that
// an earlier run left cut short (ours: only a run writes "<name>.pdf.partial"), then, when the
// sending note is this PDF's, compares the file it names with the PDF; *already says that it
// holds its bytes. False when the folder could not be read to its end or the file could not be
// compared: then nothing is copied.
bool SurveyDocuments(DocumentSurvey *survey, bool *already) {
    char pattern[kDevicePathSize], path[kDevicePathSize];
    if (!DocumentsPath(survey->base, "*", pattern, sizeof pattern))
        return false;
    _finddata_t found;
    intptr_t search = _findfirst(pattern, &found);
    if (search == -1)
        return errno == ENOENT; // nothing of ours there, or no documents folder (the copy says)
    bool readable = true;
    do {
        if ((found.attrib & _A_SUBDIR) != 0 || !DocumentsPath(found.name, "", path, sizeof path))
            continue;
        int number = ParseDeliveredName(survey->base, found.name);
        if (IsPartialName(survey->base, found.name))
            DeleteFileRetrying(path);
        else if (number)
            readable =
                NoteDocument(survey, number,
                             survey->notedName && SameDeliveredName(found.name, survey->notedName),
                             found.size, path, strlen(path) + 1);
    } while (readable && _findnext(search, &found) == 0);
    readable = readable && errno == ENOENT;
    _findclose(search);
    for (int i = 0; readable && !*already && i < survey->count; ++i) {
        if (survey->documents[i].size != survey->localSize)
            continue;
        FILE *copy = fopen(static_cast<const char *>(survey->documents[i].id), "rb");
        Likeness likeness =
            copy ? CompareWithPdf(kOutputFileName, survey->localSize, ReadDriveFile, copy)
                 : LIKE_NO_COPY;
        if (copy)
            fclose(copy);
        *already = likeness == LIKE_WHOLE;
        // A copy that cannot be read to its listed end cannot be checked: it is not taken for the
        // delivery, and nothing is copied beside it.
        readable = likeness == LIKE_WHOLE || likeness == LIKE_DIFFERENT;
    }
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
CopyResult CopyToEreader(const char *base, DWORD *error) {
    *error = 0;
    DocumentSurvey survey = {};
    survey.base = base;
    DocumentSurveyGuard guard = {&survey};
    SendingNote note;
    long long localTime = 0;
    if (FindFileIdentity(kOutputFileName, &survey.localSize, &localTime) != 1) {
        *error = ERROR_FILE_NOT_FOUND; // no PDF: the conversion could not write it
        return COPY_FAILED;
    }
    if (ReadSendingNote(EreaderRoot, &note) < 0) {
        *error = ERROR_READ_FAULT;
        return COPY_FAILED;
    }
    // Only the copy that a run began of this very PDF, on this e-reader, may be its delivery.
    if (NotesThisCopy(note, survey.localSize, localTime, EreaderRoot) && note.name[0])
        survey.notedName = note.name;
    // A copy that a stopped run began here, of whatever document, is cut short until renamed:
    // it goes now (the survey removes only this document's own).
    char cut[kDevicePathSize];
    if (note.known && note.name[0] && DocumentsPath(note.name, kPartialSuffix, cut, sizeof cut))
        DeleteFileRetrying(cut); // none there is the common case
    bool already = false;
    if (!SurveyDocuments(&survey, &already)) {
        *error = ERROR_READ_FAULT; // the documents folder or a copy in it could not be read
        return COPY_FAILED;
    }
    if (already)
        return COPY_ALREADY;
    char name[sizeof note.name], partial[kDevicePathSize], destination[kDevicePathSize];
    int number = ChooseFreeName(survey, name, sizeof name);
    if (number == 0) {
        *error = ERROR_FILE_EXISTS; // no name free
        return COPY_FAILED;
    }
    note = {};
    snprintf(note.name, sizeof note.name, "%s", name);
    note.pdfSize = survey.localSize;
    note.pdfTime = localTime;
    snprintf(note.device, sizeof note.device, "%s", EreaderRoot);
    if (!WriteSendingNote(note) || !DocumentsPath(name, kPartialSuffix, partial, sizeof partial) ||
        !CopyFileA(kOutputFileName, partial, TRUE)) {
        *error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT; // as on a full device
        return COPY_FAILED;
    }
    if (!FlushCopy(partial)) {
        *error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        DeleteFileA(partial);
        return COPY_FAILED;
    }
    for (int noted = number; number <= kDeliveredNameLast; ++number) {
        if (survey.taken[number] || !FormatDeliveredName(base, number, name, sizeof name) ||
            !DocumentsPath(name, "", destination, sizeof destination))
            continue;
        // The note must name the copy's final name, or a kill before the PDF's delete would
        // leave the copy unrecognised and the PDF delivered twice.
        if (number != noted) {
            snprintf(note.name, sizeof note.name, "%s", name);
            if (!WriteSendingNote(note)) {
                *error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
                break;
            }
            noted = number;
        }
        if (MoveFileExA(partial, destination, MOVEFILE_WRITE_THROUGH))
            return COPY_DONE;
        *error = GetLastError();
        if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS)
            break;
    }
    if (*error == 0)
        *error = ERROR_FILE_EXISTS; // every name was taken meanwhile
    DeleteFileA(partial);
    return COPY_FAILED;
}

// Deletes the PDF once its copy is on the e-reader, then the note of that copy. One whose delete
// is refused waits, and the next run finds its copy by the note; a note left without its PDF
// names no PDF that can wait, so it is only replaced.
int DeletePdf(const char *device) {
    if (!DeleteFileRetrying(kOutputFileName))
        return 0;
    DeleteSendingNote(device);
    return 1;
}

// Whether text is ASCII only.
bool IsAscii(const char *text) {
    for (; *text; ++text)
        if ((unsigned char)*text >= 0x80)
            return false;
    return true;
}

} // namespace

int ReadWaitingDocumentName(char *name, size_t size) {
    FILE *file = fopen(kOutputFileName, "rb");
    if (!file)
        return 0;
    unsigned char *tail = static_cast<unsigned char *>(malloc(kTitleTailBytes));
    size_t got = 0;
    bool read = false;
    if (tail && fseek(file, 0, SEEK_END) == 0) {
        long length = ftell(file);
        long start = length > (long)kTitleTailBytes ? length - (long)kTitleTailBytes : 0;
        if (length >= 0 && fseek(file, start, SEEK_SET) == 0) {
            got = fread(tail, 1, (size_t)(length - start), file);
            read = got == (size_t)(length - start);
        }
    }
    fclose(file);
    char title[kPdfTitleStringSize];
    if (read)
        ReadPdfTitle(tail, got, title, sizeof title);
    free(tail);
    return read && MakeDocumentName(title, name, size);
}

int DeliverPdf(DeliveryState *state) {
    if (!state->found) {
        EreaderRoot[0] = '\0';
        FindEreaderDrive();
        if (EreaderRoot[0] == '\0') // no e-reader drive, but maybe one that is a portable device
            state->media = FindMediaEreader();
        state->found = 1;
    }
    printf("%s", EreaderRoot);
    // The PDF's own title names it: it was written into the PDF with its pages.
    char base[kDeliveredNameSize];
    bool named = ReadWaitingDocumentName(base, sizeof base) != 0;
    if (EreaderRoot[0] != '\0') {
        DWORD error = ERROR_READ_FAULT;
        // The 8-bit file interfaces take UTF-8 where the manifest's code page is honoured
        // (Windows 10 1903 and later); elsewhere a name that is not ASCII would be misread, and
        // the document keeps the name of an untitled one.
        if (named && GetACP() != CP_UTF8 && !IsAscii(base))
            snprintf(base, sizeof base, "%s", kDeliveredPrefix);
        CopyResult copied = named ? CopyToEreader(base, &error) : COPY_FAILED;
        if (copied != COPY_FAILED) {
            printf(copied == COPY_DONE ? "Output copied to Kindle!\n"
                                       : "Output already on Kindle!\n");
            state->copied = 1;
            return DeletePdf(EreaderRoot);
        }
        // The reason first, as on the media route: a full e-reader must not look like a
        // missing one.
        printf(": Could not copy the PDF (error %u).\n", (unsigned)error);
    } else if (state->media) {
        MediaDeliveryResult media =
            DeliverToMediaEreader(state->media, kOutputFileName, named ? base : nullptr);
        if (media == MEDIA_COPIED || media == MEDIA_ALREADY) {
            state->mediaCopied = 1;
            return DeletePdf(MediaEreaderId(state->media));
        }
    }
    printf("Kindle must be plugged in!\n");
    return 0;
}

void FinishDelivery(DeliveryState *state) {
    if (state->copied)
        SafelyRemoveDrive(EreaderRoot[0]); // its outcome is on the console; nothing depends on it
    if (state->media) {
        char name[1024];
        snprintf(name, sizeof name, "%s", MediaEreaderName(state->media));
        CloseMediaEreader(state->media);
        state->media = nullptr;
        if (state->mediaCopied) // a committed object is on the device
            printf("%s can be unplugged.\n", name);
    }
}
