#include "common/win32.h"

#include "common/sending_note.h"

#include <cerrno>
#include <string>
#include <vector>

#include "common/delivered_name.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/spool_contract.h"

namespace {

const size_t kEntryRoom = kDeliveredNameSize + 64 + 1024 + 16;
const int kMostEntries = 32; // e-readers with a copy cut short at once: more are not kept

// Parses one entry at text (the name, then the PDF and the device, a line each; an entry of an
// earlier version has the name only and ends the note); returns the text after it.
const char *ParseEntry(const char *text, SendingNote *note) {
    *note = {};
    const char *end = strchr(text, '\n');
    std::string name = end ? std::string(text, end) : std::string(text);
    // A titled document's copy is named after its title, which each route compares with the
    // names it finds; a name no run could have given is not kept. The number is only that of
    // an untitled name.
    if (name.size() < sizeof note->name && IsDeliveredName(name.c_str())) {
        memcpy(note->name, name.c_str(), name.size() + 1);
        note->number = ParseDeliveredName(kDeliveredPrefix, name.c_str());
    }
    if (!end)
        return text + strlen(text);
    const char *line = end + 1;
    unsigned long long size = 0;
    long long time = 0;
    int used = 0;
    if (sscanf(line, "pdf %llu %lld\ndevice %n", &size, &time, &used) != 2 || used <= 0)
        return line + strlen(line); // the name only: nothing follows it
    const char *device = line + used, *deviceEnd = strchr(device, '\n');
    if (!deviceEnd)
        return device + strlen(device);
    note->known = 1;
    note->pdfSize = size;
    note->pdfTime = time;
    snprintf(note->device, sizeof note->device, "%.*s", (int)(deviceEnd - device), device);
    return deviceEnd + 1;
}

// Reads every entry of the note: 1 when it waits, 0 when none waits, -1 when it cannot be read.
int ReadEntries(std::vector<SendingNote> *entries) {
    entries->clear();
    FILE *file = fopen(kSendingNote, "rb");
    if (!file)
        return errno == ENOENT ? 0 : -1;
    std::string text;
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0 &&
           text.size() <= kEntryRoom * kMostEntries)
        text.append(block, got);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        return -1;
    for (const char *at = text.c_str(); *at && entries->size() < (size_t)kMostEntries;) {
        SendingNote note;
        at = ParseEntry(at, &note);
        entries->push_back(note);
    }
    return 1;
}

// Whether entry is device's: its own, or one of an earlier version, which names no device.
bool IsDevices(const SendingNote &entry, const char *device) {
    return !entry.known || strcmp(entry.device, device) == 0;
}

// Writes the entries as the note, or deletes it when none is left; 1 when done.
int WriteEntries(const std::vector<SendingNote> &entries) {
    if (entries.empty())
        return DeleteFileRetrying(kSendingNote) || GetLastError() == ERROR_FILE_NOT_FOUND;
    std::string text;
    for (const SendingNote &note : entries) {
        char entry[kEntryRoom];
        int length = snprintf(entry, sizeof entry, "%s\npdf %llu %lld\ndevice %s\n", note.name,
                              (unsigned long long)note.pdfSize, note.pdfTime, note.device);
        if (length < 0 || (size_t)length >= sizeof entry)
            return 0;
        text.append(entry, (size_t)length);
    }
    return WriteFileAnew(kSendingNote, text.data(), text.size()) == ERROR_SUCCESS;
}

} // namespace

int WriteSendingNote(const SendingNote &note) {
    std::vector<SendingNote> entries, kept = {note};
    if (ReadEntries(&entries) < 0)
        return 0;
    for (const SendingNote &entry : entries)
        if (entry.known && !IsDevices(entry, note.device) && kept.size() < (size_t)kMostEntries)
            kept.push_back(entry);
    return WriteEntries(kept);
}

int ReadSendingNote(const char *device, SendingNote *note) {
    *note = {};
    std::vector<SendingNote> entries;
    int read = ReadEntries(&entries);
    if (read <= 0)
        return read;
    for (const SendingNote &entry : entries)
        if (IsDevices(entry, device)) {
            *note = entry;
            return 1;
        }
    return 0;
}

int NotesThisCopy(const SendingNote &note, uint64_t size, long long time, const char *device) {
    return note.known && note.pdfSize == size && note.pdfTime == time &&
           strcmp(note.device, device) == 0;
}

int DeleteSendingNote(const char *device) {
    std::vector<SendingNote> entries, kept;
    if (ReadEntries(&entries) < 0)
        return 0;
    if (entries.empty())
        return 1;
    for (const SendingNote &entry : entries)
        if (entry.known && !IsDevices(entry, device))
            kept.push_back(entry);
    if (kept.size() == entries.size())
        return 1;
    return WriteEntries(kept);
}
