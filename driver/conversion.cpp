#include "common/win32.h"

#include <cerrno>

#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/handover.h"
#include "common/page_title.h"
#include "common/spool_contract.h"
#include "driver/conversion.h"
#include "driver/natural_order.h"
#include "driver/page_record.h"
#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"

namespace {

// Page order: the pages of no job first, gathered as they always were, then job by job; within
// each, natural order (which puts a job's pages in page order).
int CompareEntries(const void *a, const void *b) {
    const char *first = static_cast<const SpoolEntry *>(a)->page.name;
    const char *second = static_cast<const SpoolEntry *>(b)->page.name;
    bool firstJob = PageJob(first) != 0, secondJob = PageJob(second) != 0;
    if (firstJob != secondJob)
        return firstJob ? 1 : -1;
    return CompareNaturally(first, second);
}

// The document's title: the title of its job's first page, with the part it is of a job past
// 256 pages when it is not the first. The part follows from the page it starts with, and from the
// previous document of the same job in this run.
void TitleDocument(PdfDocument *document, const char *pageTitle, const char *firstName,
                   Spool *spool) {
    unsigned long long page = 0, job = PageJob(firstName, &page);
    int part = job && page > 0 ? (int)((page - 1) / kPdfMaxPages + 1) : 1;
    if (job && job == spool->lastJob && spool->lastPart >= part)
        part = spool->lastPart + 1;
    spool->lastJob = job;
    spool->lastPart = part;
    if (pageTitle[0] == '\0')
        return;
    char title[kPageTitleBytes + 32];
    if (part > 1)
        snprintf(title, sizeof title, "%s (part %d)", pageTitle, part);
    else
        snprintf(title, sizeof title, "%s", pageTitle);
    // Refused only for a file at the size limit: then its title is not inside it.
    SetPdfDocumentTitle(document, title);
}

// Makes the spool directory current. When the Windows directory cannot be had, or the spool
// path would not fit its buffer, nothing is changed and the run goes on where it started.
void EnterSpoolDirectory() {
    char spoolDirectory[MAX_PATH];
    if (SpoolFolderPath(spoolDirectory, sizeof spoolDirectory))
        SetCurrentDirectoryA(spoolDirectory);
}

// Appends one listed file; false when no memory is left for it.
bool AddEntry(Spool *listing, size_t *capacity, const _finddata_t &found, long long writeTime) {
    if (listing->count == *capacity) {
        size_t grown = *capacity ? *capacity * 2 : 64;
        void *block = realloc(listing->entries, grown * sizeof(SpoolEntry));
        if (!block)
            return false;
        listing->entries = static_cast<SpoolEntry *>(block);
        *capacity = grown;
    }
    SpoolEntry *entry = &listing->entries[listing->count++];
    snprintf(entry->page.name, sizeof entry->page.name, "%s", found.name);
    entry->page.size = (uint32_t)found.size;
    entry->page.writeTime = writeTime;
    entry->page.wholeSeconds = 0;
    entry->outcome = PAGE_REFUSED;
    return true;
}

// Whether a listed file may become a page: a name the page record can name, not a folder, and
// not a page already inside a PDF. Its full last-write time goes into *writeTime; false with
// *unread when that could not be had (the listing is then no whole one).
bool IsNewPage(const _finddata_t &found, const PageRecord *recorded, long long *writeTime,
               bool *unread) {
    if (!IsPageName(found.name) || (found.attrib & _A_SUBDIR) != 0)
        return false;
    uint64_t size = 0;
    int there = FindFileIdentity(found.name, &size, writeTime);
    if (there == 0)
        return false; // gone since it was listed
    *unread = there < 0;
    return there > 0 && !IsRecordedPage(recorded, found.name, (uint32_t)found.size, *writeTime);
}

// Lists the spooled files that may become pages and puts them in page order. A listing that does
// not reach its end is no listing: pages converted from part of it would come out of order.
ListingResult ListSpool(Spool *listing, const PageRecord *recorded) {
    _finddata_t found;
    size_t capacity = 0;
    intptr_t search = _findfirst(kPagePattern, &found);
    if (search == -1)
        return errno == ENOENT ? LISTING_EMPTY : LISTING_CUT;
    bool whole = true;
    do {
        long long writeTime = 0;
        bool unread = false;
        if ((IsNewPage(found, recorded, &writeTime, &unread) &&
             !AddEntry(listing, &capacity, found, writeTime)) ||
            unread) {
            whole = false;
            break;
        }
        errno = 0;
    } while (_findnext(search, &found) == 0);
    whole = whole && errno == ENOENT; // the one way a listing ends: no more files
    _findclose(search);
    if (!whole)
        return LISTING_CUT;
    if (listing->count > 1)
        qsort(listing->entries, listing->count, sizeof(SpoolEntry), CompareEntries);
    return listing->count > 0 ? LISTING_WHOLE : LISTING_EMPTY;
}

// Names each folder (or anything else that is not a file) found under the name of one of the
// program's own files: it would stop every run, and the run's line alone would not say why.
void NameObstacles() {
    const char *const names[] = {kOutputFileName, kPartialFileName, kRecordName,
                                 kPreparedName,   kSendingNote,     kHandOverNote};
    for (const char *name : names) {
        _finddata_t found;
        intptr_t search = _findfirst(name, &found);
        if (search == -1)
            continue;
        _findclose(search);
        if ((found.attrib & _A_SUBDIR) != 0)
            printf("A folder is in the way of the program's file %s: remove it.\n", name);
    }
}

// What became of the PDF.
enum StoreResult {
    STORE_DONE = 0,      // in place, its pages recorded and deleted where they could be
    STORE_FAILED = 1,    // not in place; every page is still in the spool
    STORE_UNSETTLED = 2, // in place, but its record is not committed: it must not be delivered
};

// Puts the PDF in place with the record of its pages. Order: the PDF whole under its partial
// name; its record prepared beside it; the PDF renamed into place (the moment its pages count
// as inside it); the record committed; then the pages deleted. A run killed anywhere in between
// leaves a state that the next run settles (see page_record.h).
StoreResult StoreDocument(const unsigned char *bytes, int32_t length, const Spool &listing,
                          PageRecord *left) {
    if (WriteFileAnew(kPartialFileName, bytes, (size_t)length) != ERROR_SUCCESS)
        return STORE_FAILED;
    RecordedPage *added = static_cast<RecordedPage *>(
        malloc((listing.count ? listing.count : 1) * sizeof(RecordedPage)));
    size_t count = 0;
    for (size_t i = 0; added && i < listing.count; ++i)
        if (listing.entries[i].outcome == PAGE_ADDED)
            added[count++] = listing.entries[i].page;
    PageRecord prepared = {nullptr, 0, 0};
    PageRecordGuard guard = {&prepared};
    bool ready = added && PreparePageRecord(left, added, count, (uint32_t)length, &prepared);
    free(added);
    // Never replaces a PDF: one that waits (though its check failed) holds pages of its own.
    if (!ready || !MoveFileExA(kPartialFileName, kOutputFileName, MOVEFILE_WRITE_THROUGH)) {
        if (ready)
            DropPreparedPageRecord();
        DeleteFileA(kPartialFileName);
        return STORE_FAILED;
    }
    if (!CommitPageRecord(&prepared))
        return STORE_UNSETTLED;
    ReleasePageRecord(left); // what is left now: the pages of every PDF whose delete was refused
    *left = prepared;
    prepared = {nullptr, 0, 0};
    return STORE_DONE;
}

// Serialises the document (releasing it) and stores the file.
StoreResult WriteDocument(PdfDocument *document, uint32_t finalSize, const Spool &listing,
                          PageRecord *left) {
    int32_t written = 0;
    unsigned char *buffer = static_cast<unsigned char *>(malloc(finalSize));
    if (!buffer) {
        WritePdfDocument(document, nullptr, &written);
        printf("Could not write PDF.\n");
        return STORE_FAILED;
    }
    printf("=> Generating PDF File...");
    int result = WritePdfDocument(document, buffer, &written);
    printf("Done\n");
    StoreResult stored = result == 0 && (uint32_t)written == finalSize
                             ? StoreDocument(buffer, written, listing, left)
                             : STORE_FAILED;
    free(buffer);
    if (stored != STORE_DONE) {
        NameObstacles();
        printf("Could not write PDF.\n");
        return stored;
    }
    printf("Written PDF %d/%d.\n", (int)finalSize, (int)written);
    return STORE_DONE;
}

// Offers the next pages of the listing to the document: those of one job (or of no job), until
// the document holds 256 pages; a page the intake cannot use is deleted at once. The document
// gets the title of the first page added.
void FillDocument(Spool *spool, PdfDocument *document) {
    // A PDF never holds pages of two jobs.
    const unsigned long long job = PageJob(spool->entries[spool->next].page.name);
    char pageTitle[kPageTitleBytes + 1] = "", firstTitle[kPageTitleBytes + 1] = "";
    const char *firstAdded = nullptr;
    for (; spool->next < spool->count && document->pageCount < kPdfMaxPages; ++spool->next) {
        SpoolEntry *entry = &spool->entries[spool->next];
        if (PageJob(entry->page.name) != job)
            break;
        entry->outcome = AddJpegFileAsPage(entry->page.name, entry->page.size, document, pageTitle,
                                           sizeof pageTitle);
        if (entry->outcome == PAGE_UNUSABLE)
            DeleteFileRetrying(entry->page.name);
        if (entry->outcome == PAGE_ADDED && !firstAdded) {
            firstAdded = entry->page.name;
            memcpy(firstTitle, pageTitle, sizeof firstTitle);
        }
    }
    if (firstAdded)
        TitleDocument(document, firstTitle, firstAdded, spool);
}

} // namespace

unsigned long long PageJob(const char *name, unsigned long long *page) {
    if (page)
        *page = 0;
    size_t stem = sizeof kPagePrefix - 1;
    if (strncmp(name, kPagePrefix, stem) != 0 || name[stem] < '0' || name[stem] > '9')
        return 0;
    const char *at = name + stem;
    while (*at >= '0' && *at <= '9')
        ++at;
    if (*at++ != '-' || *at < '0' || *at > '9')
        return 0;
    unsigned long long number = 0;
    for (; *at >= '0' && *at <= '9'; ++at)
        number = number < 100000000000ull ? number * 10 + (unsigned)(*at - '0') : number;
    if (strlen(at) != 4 ||
        (at[0] != '.' || (at[1] | 0x20) != 'j' || (at[2] | 0x20) != 'p' || (at[3] | 0x20) != 'g'))
        return 0;
    if (page)
        *page = number;
    return PageJobNumber(name) + 1;
}

int OpenSpool(Spool *spool) {
    *spool = {nullptr, 0, 0, LISTING_EMPTY, {nullptr, 0, 0}, 0, 0};
    EnterSpoolDirectory();
    // A job the printer was stopped in the middle of handing over is completed first, so that
    // none of its pages is converted without the rest.
    if (!CompleteHandOver("") || !SettlePageRecord(&spool->left)) {
        NameObstacles();
        return 0;
    }
    spool->listed = ListSpool(spool, &spool->left);
    return 1;
}

void CloseSpool(Spool *spool) {
    free(spool->entries);
    ReleasePageRecord(&spool->left);
    *spool = {nullptr, 0, 0, LISTING_EMPTY, {nullptr, 0, 0}, 0, 0};
}

int IsPdfWaiting() {
    uint64_t size = 0;
    return FindFileSize(kOutputFileName, &size) == 1;
}

// One round: the next pages of the listing into one document. A spooled file that became a
// page is deleted only once the PDF is on disk with the record of its pages; one the intake
// cannot use is deleted at once; one the builder refused stays for a later run. A full document
// is offered no more pages: they wait for the next round.
ConversionOutcome ConvertPages(Spool *spool, int firstRound) {
    if (spool->listed == LISTING_CUT) {
        // Every page waits for a whole listing (even after a waiting PDF was delivered).
        printf("Could not list the spool folder.\n");
        return CONVERSION_END_RUN;
    }
    if (firstRound && spool->listed == LISTING_EMPTY) {
        printf("%s", kPagePattern);
        printf("\nNo *.jpg files in temp directory!\n");
        return CONVERSION_END_RUN;
    }
    if (spool->listed != LISTING_WHOLE || spool->next == spool->count)
        return CONVERSION_END_RUN;

    // A job none of whose pages could be added makes no PDF: the next job's pages are offered.
    PdfDocument *document = nullptr;
    size_t first = spool->next;
    uint32_t finalSize = 0;
    while (finalSize == 0) {
        document = CreatePdfDocument(8.5, 11.0);
        if (!document) {
            printf("Could not write PDF.\n");
            return CONVERSION_END_RUN;
        }
        first = spool->next;
        FillDocument(spool, document);
        finalSize = FinalizePdfDocument(document);
        if (finalSize == 0) {
            int32_t written = 0;
            WritePdfDocument(document, nullptr, &written);
            if (spool->next == spool->count) {
                printf("No pages to write.\n");
                return CONVERSION_END_RUN;
            }
        }
    }
    Spool round = *spool; // this round's pages only go into its record
    round.entries = spool->entries + first;
    round.count = spool->next - first;
    StoreResult stored = WriteDocument(document, finalSize, round, &spool->left);
    if (stored == STORE_FAILED && IsPdfWaiting())
        return CONVERSION_DELIVER; // one waited after all (its check failed): it is delivered
    return stored == STORE_DONE ? CONVERSION_DELIVER : CONVERSION_END_RUN;
}
