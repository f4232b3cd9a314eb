// The record of the pages inside the PDF: which spooled files a complete PDF on the disk already
// holds, so that none of them goes into another PDF when its delete fails or a run is killed
// before it. The record is a small file beside the PDF that the page pattern cannot match.
//
// Its states, and why each order of steps is safe:
// - Prepared ("VellumTransit.pages.partial", written and flushed before the PDF is renamed into
//   place): it counts only once the PDF it names is in place. A run that finds it beside that
//   PDF commits it (the run that wrote it was killed between the two renames); without the PDF
//   it is dropped, and no page was deleted yet, since pages go only after the commit.
// - Committed ("VellumTransit.pages"): every page it names is inside a PDF that is in place or
//   already delivered. Its pages are deleted (a file of the same name whose size or last-write
//   time differs is a new page and stays), and it is removed once none of them is left.
#pragma once

#include <cstddef>
#include <cstdint>

// One spooled page as the listing saw it: its name, size and full last-write time (the 100-ns
// value the platform keeps, so that a new page of the same name and size is told from it).
struct RecordedPage {
    char name[260];
    uint32_t size;
    long long writeTime;
    int wholeSeconds; // read from a record of an earlier version: writeTime is known to the second
};

// The pages recorded as inside a PDF; pages is a heap block of count entries. pdfSize is the
// size of the latest PDF they went into.
struct PageRecord {
    RecordedPage *pages;
    size_t count;
    uint32_t pdfSize;
};

// Settles what earlier runs left, before anything is converted or delivered: commits or drops a
// prepared record, deletes the recorded pages still in the spool, and removes the record when
// none is left. *left gets the recorded pages that could not be deleted (release it with
// ReleasePageRecord). 0 when the record could not be read or settled: then nothing may be
// converted or delivered in this run.
int SettlePageRecord(PageRecord *left);

// Whether the record names this spooled file (same name, size and full last-write time).
int IsRecordedPage(const PageRecord *record, const char *name, uint32_t size, long long writeTime);

// Writes and flushes the prepared record: the pages of left and the count pages of the PDF of
// pdfSize bytes that is about to be renamed into place. *prepared gets all of them, for the
// commit. 1 when it is on the disk; on failure nothing of it is left and *prepared is empty.
int PreparePageRecord(const PageRecord *left, const RecordedPage *pages, size_t count,
                      uint32_t pdfSize, PageRecord *prepared);

// Drops a prepared record whose PDF did not get into place.
void DropPreparedPageRecord();

// Commits the prepared record once its PDF is in place, then deletes its pages and removes it
// when none is left. 0 when it could not be committed: the next run commits it, and until then
// the PDF must stay where it is.
int CommitPageRecord(PageRecord *prepared);

// Releases the block of a record and empties it.
void ReleasePageRecord(PageRecord *record);

// Releases a record on every way out.
struct PageRecordGuard {
    PageRecord *record;
    ~PageRecordGuard() { ReleasePageRecord(record); }
};
