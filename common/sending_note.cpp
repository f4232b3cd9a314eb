#include "common/win32.h"

#include "common/sending_note.h"

#include <cerrno>

#include "common/delivered_name.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/spool_contract.h"

namespace {

const size_t kNoteRoom = kDeliveredNameSize + 64 + 1024 + 16;

} // namespace

int WriteSendingNote(const SendingNote &note) {
    char text[kNoteRoom];
    int length = snprintf(text, sizeof text, "%s\npdf %llu %lld\ndevice %s\n", note.name,
                          (unsigned long long)note.pdfSize, note.pdfTime, note.device);
    if (length < 0 || (size_t)length >= sizeof text)
        return 0;
    return WriteFileAnew(kSendingNote, text, (size_t)length) == ERROR_SUCCESS;
}

int ReadSendingNote(SendingNote *note) {
    *note = {};
    FILE *file = fopen(kSendingNote, "rb");
    if (!file)
        return errno == ENOENT ? 0 : -1;
    char text[kNoteRoom];
    size_t got = fread(text, 1, sizeof text - 1, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        return -1;
    text[got] = '\0';
    // The name, then (in notes of this version) the PDF and the device, a line each.
    char *line = strchr(text, '\n');
    if (line)
        *line++ = '\0';
    // A titled document's copy is named after its title, which each route compares with the
    // names it finds; a name no run could have given is not kept. The number is only that of
    // an untitled name.
    if (strlen(text) < sizeof note->name && IsDeliveredName(text)) {
        memcpy(note->name, text, strlen(text) + 1);
        note->number = ParseDeliveredName(kDeliveredPrefix, text);
    }
    unsigned long long size = 0;
    long long time = 0;
    int used = 0;
    if (line && sscanf(line, "pdf %llu %lld\ndevice %n", &size, &time, &used) == 2 && used > 0) {
        char *device = line + used, *end = strchr(device, '\n');
        if (end) {
            *end = '\0';
            note->known = 1;
            note->pdfSize = size;
            note->pdfTime = time;
            snprintf(note->device, sizeof note->device, "%s", device);
        }
    }
    return 1;
}

int NotesThisCopy(const SendingNote &note, uint64_t size, long long time, const char *device) {
    return note.known && note.pdfSize == size && note.pdfTime == time &&
           strcmp(note.device, device) == 0;
}

void DeleteSendingNote() {
    DeleteFileRetrying(kSendingNote);
}
