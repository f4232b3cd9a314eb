// The record of the pages inside the PDF. See page_record.h for its states.
#include "common/win32.h"

#include <cerrno>

#include "common/debug_trace.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/spool_contract.h"
#include "driver/conversion.h"
#include "driver/page_record.h"

namespace {

const size_t kLargestRecord = 4u << 20; // far more than any spool holds; past it, not ours
const size_t kLineRoom = 320;           // one page's line: sizes, time and a MAX_PATH name

enum ReadResult {
    READ_DONE = 0,   // the record is in *record
    READ_NONE = 1,   // there is no such file
    READ_FAILED = 2, // it is there but could not be read: try again in a later run
    READ_BAD = 3,    // it is not a whole record of ours
};

// Frees a heap block on every way out.
struct HeapBlock {
    char *bytes = nullptr;
    ~HeapBlock() { free(bytes); }
};

// A 100-ns time since 1601 as whole seconds since 1970, as records of version 1 wrote them.
long long SecondsOf(long long fileTime) {
    return fileTime / 10000000 - 11644473600ll;
}

// Whether the whole of text was read by a sscanf whose %n stored *used.
bool ReadToEnd(const char *text, int used) {
    return used > 0 && text[used] == '\0';
}

// Parses the text of a record; false when it is not a whole record of ours.
bool ParseRecord(char *text, PageRecord *record) {
    size_t lines = 0;
    for (const char *c = text; *c; ++c)
        lines += *c == '\n';
    record->pages = static_cast<RecordedPage *>(calloc(lines ? lines : 1, sizeof(RecordedPage)));
    if (!record->pages)
        return false;
    int part = 0;         // 0: the first line, 1: the PDF's size, 2: pages up to "end"
    bool seconds = false; // a record of version 1: times in whole seconds
    for (char *line = text, *end; (end = strchr(line, '\n')) != nullptr; line = end + 1) {
        *end = '\0';
        int used = 0;
        if (part == 0 && (strcmp(line, kRecordFirstLine) == 0 ||
                          (seconds = strcmp(line, kRecordFirstLineV1) == 0))) {
            part = 1;
        } else if (part == 1 && sscanf(line, "pdf %u%n", &record->pdfSize, &used) == 1 &&
                   ReadToEnd(line, used)) {
            part = 2;
        } else if (part == 2 && strcmp(line, "end") == 0) {
            return end[1] == '\0';
        } else if (part == 2) {
            // "second" lines keep, in a record of this version, a page that a record of
            // version 1 knew only to the second.
            RecordedPage *page = &record->pages[record->count++];
            bool known = sscanf(line, "page %u %lld %n", &page->size, &page->writeTime, &used) == 2;
            bool coarse =
                !known && !seconds &&
                sscanf(line, "second %u %lld %n", &page->size, &page->writeTime, &used) == 2;
            if (!(known || coarse) || used == 0 || line[used] == '\0' ||
                strlen(line + used) >= sizeof page->name)
                return false;
            page->wholeSeconds = seconds || coarse;
            strcpy(page->name, line + used);
            // A run records only the spooled pages it listed: a record naming any other file
            // (another folder, a drive, a device's document) is not one of ours.
            if (!IsPageName(page->name))
                return false;
        } else {
            return false;
        }
    }
    return false; // cut before "end"
}

// Reads the record file name into *record.
ReadResult ReadRecord(const char *name, PageRecord *record) {
    *record = {nullptr, 0, 0};
    FILE *file = fopen(name, "rb");
    if (!file)
        return errno == ENOENT ? READ_NONE : READ_FAILED;
    HeapBlock text;
    size_t length = 0, capacity = 0;
    ReadResult result = READ_DONE;
    for (;;) {
        if (length == capacity) {
            if (capacity >= kLargestRecord) {
                result = READ_BAD;
                break;
            }
            capacity = capacity ? capacity * 2 : 16384;
            char *grown = static_cast<char *>(realloc(text.bytes, capacity + 1));
            if (!grown) {
                result = READ_FAILED;
                break;
            }
            text.bytes = grown;
        }
        length += fread(text.bytes + length, 1, capacity - length, file);
        if (length < capacity) { // the end of the file, or a failed read
            result = feof(file) ? READ_DONE : READ_FAILED;
            break;
        }
    }
    fclose(file);
    if (result != READ_DONE)
        return result;
    text.bytes[length] = '\0';
    if (memchr(text.bytes, '\0', length) != nullptr || !ParseRecord(text.bytes, record)) {
        ReleasePageRecord(record);
        return READ_BAD;
    }
    return READ_DONE;
}

// Writes a record under name, created anew and flushed to the disk. On failure nothing is left.
bool WriteRecord(const char *name, const PageRecord *record) {
    HeapBlock text;
    text.bytes = static_cast<char *>(malloc((record->count + 3) * kLineRoom));
    if (!text.bytes)
        return false;
    int length = snprintf(text.bytes, kLineRoom, "%s\npdf %u\n", kRecordFirstLine,
                          (unsigned)record->pdfSize);
    for (size_t i = 0; i < record->count; ++i) {
        const RecordedPage &page = record->pages[i];
        length += snprintf(text.bytes + length, kLineRoom, "%s %u %lld %s\n",
                           page.wholeSeconds ? "second" : "page", (unsigned)page.size,
                           page.writeTime, page.name);
    }
    length += snprintf(text.bytes + length, kLineRoom, "end\n");
    return WriteFileAnew(name, text.bytes, (size_t)length) == ERROR_SUCCESS;
}

// What became of one recorded page.
enum PageState {
    PAGE_GONE = 0, // deleted, or no longer the page recorded
    PAGE_LEFT = 1, // still in the spool: its delete was refused, or it could not be looked at
};

// Deletes the spooled file of a recorded page if it is still that page.
PageState DeleteIfSamePage(const RecordedPage &page) {
    uint64_t size = 0;
    long long writeTime = 0;
    int there = FindFileIdentity(page.name, &size, &writeTime);
    if (there <= 0)
        return there == 0 ? PAGE_GONE : PAGE_LEFT;
    PageRecord one = {const_cast<RecordedPage *>(&page), 1, 0};
    if (size > 0xFFFFFFFFu || !IsRecordedPage(&one, page.name, (uint32_t)size, writeTime))
        return PAGE_GONE; // a new file under an old name: a page of a later job
    if (DeleteFileRetrying(page.name) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return PAGE_GONE;
    DebugTrace("Page %s: not deleted (error %u)\n", page.name, (unsigned)GetLastError());
    return PAGE_LEFT;
}

// The size of the PDF in place: 1 with *size set, 0 when there is none, -1 when the spool
// could not be looked at.
int PdfInPlace(uint32_t *size) {
    uint64_t found = 0;
    int there = FindFileSize(kOutputFileName, &found);
    *size = (uint32_t)found;
    return there;
}

// Deletes the recorded pages still in the spool; keeps in the record those left, rewrites the
// record with them, or removes it when none is left. A failure here loses nothing: the record on
// the disk still names every page left, and the next run tries again.
void ClearRecordedPages(PageRecord *record) {
    size_t left = 0;
    for (size_t i = 0; i < record->count; ++i)
        if (DeleteIfSamePage(record->pages[i]) == PAGE_LEFT)
            record->pages[left++] = record->pages[i];
    size_t before = record->count;
    record->count = left;
    if (left == 0) {
        DeleteFileRetrying(kRecordName);
    } else if (left < before && WriteRecord(kPreparedName, record) &&
               !MoveFileExA(kPreparedName, kRecordName,
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(kPreparedName);
    }
}

} // namespace

int SettlePageRecord(PageRecord *left) {
    *left = {nullptr, 0, 0};
    PageRecord record;
    uint32_t pdfSize = 0;
    ReadResult prepared = ReadRecord(kPreparedName, &record);
    uint32_t recordFor = record.pdfSize;
    ReleasePageRecord(&record);
    if (prepared == READ_FAILED)
        return 0;
    if (prepared != READ_NONE) {
        int pdf = PdfInPlace(&pdfSize);
        if (pdf < 0)
            return 0;
        // Killed between the two renames: the PDF is in place, so its record counts.
        if (prepared == READ_DONE && pdf == 1 && pdfSize == recordFor) {
            if (!MoveFileExA(kPreparedName, kRecordName,
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return 0;
        } else {
            DropPreparedPageRecord(); // its PDF never got into place: no page was deleted
        }
    }
    switch (ReadRecord(kRecordName, &record)) {
    case READ_NONE:
        return 1;
    case READ_FAILED:
        return 0;
    case READ_BAD:
        // Not written by a run (those are renamed into place whole, naming only spooled pages):
        // anyone who prints may write to the spool folder. Deleting it would let the pages that
        // the real record held back (inside a delivered PDF, their delete refused) print again,
        // and following it could delete any file; so it is left as it is, and nothing is
        // converted or delivered while it is there.
        printf("The page record %s is not one this program wrote: nothing is converted or "
               "delivered until it is removed.\n",
               kRecordName);
        return 0;
    case READ_DONE:
        break;
    }
    ClearRecordedPages(&record);
    *left = record;
    return 1;
}

int IsRecordedPage(const PageRecord *record, const char *name, uint32_t size, long long writeTime) {
    for (size_t i = 0; i < record->count; ++i) {
        const RecordedPage &page = record->pages[i];
        // A record of an earlier version knows the time to the second: 10^7 intervals of 100 ns.
        bool sameTime = page.wholeSeconds ? page.writeTime == SecondsOf(writeTime)
                                          : page.writeTime == writeTime;
        if (page.size == size && sameTime && strcmp(page.name, name) == 0)
            return 1;
    }
    return 0;
}

int PreparePageRecord(const PageRecord *left, const RecordedPage *pages, size_t count,
                      uint32_t pdfSize, PageRecord *prepared) {
    *prepared = {nullptr, 0, 0};
    size_t all = left->count + count;
    prepared->pages = static_cast<RecordedPage *>(malloc((all ? all : 1) * sizeof(RecordedPage)));
    if (!prepared->pages)
        return 0;
    if (left->count)
        memcpy(prepared->pages, left->pages, left->count * sizeof(RecordedPage));
    if (count)
        memcpy(prepared->pages + left->count, pages, count * sizeof(RecordedPage));
    prepared->count = all;
    prepared->pdfSize = pdfSize;
    if (!WriteRecord(kPreparedName, prepared)) {
        ReleasePageRecord(prepared);
        return 0;
    }
    return 1;
}

void DropPreparedPageRecord() {
    DeleteFileRetrying(kPreparedName);
}

int CommitPageRecord(PageRecord *prepared) {
    if (!MoveFileExA(kPreparedName, kRecordName,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    ClearRecordedPages(prepared);
    return 1;
}

void ReleasePageRecord(PageRecord *record) {
    free(record->pages);
    *record = {nullptr, 0, 0};
}
