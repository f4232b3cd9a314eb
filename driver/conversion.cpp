#include "common/win32.h"

#include <cerrno>

#include "common/file_delete.h"
#include "driver/conversion.h"
#include "driver/natural_order.h"
#include "driver/page_record.h"
#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"

const char kOutputFileName[] = "VellumTransit.pdf";

namespace {

const char kSpoolFolderName[] = "\\VellumTransit";
const char kListingPattern[] = "VellumTransit*.jpg";
// The PDF is written here first and renamed only once it is whole, so that a
// "VellumTransit.pdf" in the spool directory is always complete.
const char kPartialFileName[] = "VellumTransit.pdf.partial";

// One spooled file: its name, size and last-write time as the listing gave them, and what
// became of it.
struct SpoolEntry {
    RecordedPage page;
    PageIntakeResult outcome;
};

struct SpoolListing {
    SpoolEntry *entries;
    size_t count;
};

// Releases the listing's block on every way out of the stage.
struct SpoolListingGuard {
    SpoolListing *listing;
    ~SpoolListingGuard() { free(listing->entries); }
};

int CompareEntries(const void *a, const void *b) {
    return CompareNaturally(static_cast<const SpoolEntry *>(a)->page.name,
                            static_cast<const SpoolEntry *>(b)->page.name);
}

// Makes the spool directory current. When the Windows directory cannot be had, or the spool
// path would not fit its buffer, nothing is changed and the run goes on where it started.
void EnterSpoolDirectory() {
    char spoolDirectory[MAX_PATH];
    UINT length = GetWindowsDirectoryA(spoolDirectory, MAX_PATH);
    if (length == 0 || length + sizeof kSpoolFolderName > MAX_PATH)
        return;
    memcpy(spoolDirectory + length, kSpoolFolderName, sizeof kSpoolFolderName);
    SetCurrentDirectoryA(spoolDirectory);
}

// Appends one listed file; false when no memory is left for it.
bool AddEntry(SpoolListing *listing, size_t *capacity, const _finddata_t &found) {
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
    entry->page.writeTime = (long long)found.time_write;
    entry->outcome = PAGE_REFUSED;
    return true;
}

// What became of the listing.
enum ListingResult {
    LISTING_WHOLE = 0, // every matching file listed
    LISTING_EMPTY = 1, // nothing matches
    LISTING_CUT = 2,   // the listing failed before its end, or no memory was left for it
};

// Whether a listed file may become a page: not a folder, not a page already inside a PDF, and
// not a name that Windows cannot give a file (which the page record could not name either).
bool IsNewPage(const _finddata_t &found, const PageRecord *recorded) {
    for (const char *c = found.name; *c; ++c)
        if ((unsigned char)*c < 0x20 || *c == '*' || *c == '?')
            return false;
    return (found.attrib & _A_SUBDIR) == 0 &&
           !IsRecordedPage(recorded, found.name, (uint32_t)found.size, (long long)found.time_write);
}

// Lists the spooled files that may become pages and puts them in page order. A listing that does
// not reach its end is no listing: pages converted from part of it would come out of order.
ListingResult ListSpool(SpoolListing *listing, const PageRecord *recorded) {
    _finddata_t found;
    size_t capacity = 0;
    intptr_t search = _findfirst(kListingPattern, &found);
    if (search == -1)
        return errno == ENOENT ? LISTING_EMPTY : LISTING_CUT;
    bool whole = true;
    do {
        if (IsNewPage(found, recorded) && !AddEntry(listing, &capacity, found)) {
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

// Writes the whole file under its partial name and checks the write, the flush and the close.
// On any failure nothing of it is left behind.
bool WritePartialFile(const unsigned char *bytes, int32_t length) {
    // Anyone who prints may write to the spool folder, so a link may wait under the partial
    // name. Deleting removes a stale file or the link itself, never a link's target; the new
    // file is then created only if the name is free, so nothing planted in between is followed.
    DeleteFileRetrying(kPartialFileName);
    HANDLE file = CreateFileA(kPartialFileName, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    bool whole = WriteFile(file, bytes, (DWORD)length, &done, nullptr) && done == (DWORD)length;
    whole = FlushFileBuffers(file) && whole; // on the disk, not only in its cache
    whole = CloseHandle(file) && whole;
    if (!whole)
        DeleteFileA(kPartialFileName);
    return whole;
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
StoreResult StoreDocument(const unsigned char *bytes, int32_t length, const SpoolListing &listing,
                          const PageRecord *left) {
    if (!WritePartialFile(bytes, length))
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
    return CommitPageRecord(&prepared) ? STORE_DONE : STORE_UNSETTLED;
}

// Serialises the document (releasing it) and stores the file.
StoreResult WriteDocument(PdfDocument *document, uint32_t finalSize, const SpoolListing &listing,
                          const PageRecord *left) {
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
        printf("Could not write PDF.\n");
        return stored;
    }
    printf("Written PDF %d/%d.\n", (int)finalSize, (int)written);
    return STORE_DONE;
}

} // namespace

// Steps of the stage: spool directory, what earlier runs left, waiting PDF, listing, pages,
// file. A spooled file that became a page is deleted only once the PDF is on disk with the record
// of its pages; one the intake cannot use is deleted at once; one the builder refused stays for a
// later run.
ConversionOutcome RunConversionStage() {
    EnterSpoolDirectory();

    PageRecord left = {nullptr, 0, 0};
    PageRecordGuard leftGuard = {&left};
    if (!SettlePageRecord(&left)) {
        // Which files are pages already inside a PDF cannot be told: nothing may be converted,
        // and a PDF whose record is not settled must not be delivered.
        printf("Could not list the spool folder.\n");
        return CONVERSION_END_RUN;
    }

    FILE *waiting = fopen(kOutputFileName, "rb");
    if (waiting) {
        fclose(waiting);
        return CONVERSION_DELIVER;
    }

    SpoolListing listing = {nullptr, 0};
    SpoolListingGuard guard = {&listing};
    ListingResult listed = ListSpool(&listing, &left);
    if (listed == LISTING_CUT) {
        // Every page waits for a whole listing; a waiting PDF would have been found above.
        printf("Could not list the spool folder.\n");
        return CONVERSION_END_RUN;
    }
    if (listed == LISTING_EMPTY) {
        printf("%s", kListingPattern);
        printf("\nNo *.jpg files in temp directory!\n");
        return CONVERSION_END_RUN;
    }

    PdfDocument *document = CreatePdfDocument(8.5, 11.0);
    if (!document) {
        printf("Could not write PDF.\n");
        return CONVERSION_DELIVER;
    }
    for (size_t i = 0; i < listing.count; ++i) {
        SpoolEntry *entry = &listing.entries[i];
        entry->outcome = AddJpegFileAsPage(entry->page.name, entry->page.size, document);
        if (entry->outcome == PAGE_UNUSABLE)
            DeleteFileRetrying(entry->page.name);
    }

    uint32_t finalSize = FinalizePdfDocument(document);
    if (finalSize == 0) {
        int32_t written = 0;
        WritePdfDocument(document, nullptr, &written);
        printf("No pages to write.\n");
        return CONVERSION_END_RUN;
    }
    StoreResult stored = WriteDocument(document, finalSize, listing, &left);
    return stored == STORE_UNSETTLED ? CONVERSION_END_RUN : CONVERSION_DELIVER;
}
