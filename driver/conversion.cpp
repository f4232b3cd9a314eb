#include "common/win32.h"

#include "driver/conversion.h"
#include "driver/natural_order.h"
#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"

const char kOutputFileName[] = "VellumTransit.pdf";

namespace {

const char kSpoolFolderName[] = "\\VellumTransit";
const char kListingPattern[] = "VellumTransit*.jpg";
// The PDF is written here first and renamed only once it is whole, so that a
// "VellumTransit.pdf" in the spool directory is always complete.
const char kPartialFileName[] = "VellumTransit.pdf.partial";

// One spooled file: its name and size as the listing gave them, and what became of it.
struct SpoolEntry {
    char name[MAX_PATH];
    uint32_t size;
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
    return CompareNaturally(static_cast<const SpoolEntry *>(a)->name,
                            static_cast<const SpoolEntry *>(b)->name);
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

// Appends one listed file; false when no memory is left for it (the file waits for a later
// run).
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
    snprintf(entry->name, sizeof entry->name, "%s", found.name);
    entry->size = (uint32_t)found.size;
    entry->outcome = PAGE_REFUSED;
    return true;
}

// Lists the spooled files (folders aside) and puts them in page order. False when nothing
// matches.
bool ListSpool(SpoolListing *listing) {
    _finddata_t found;
    size_t capacity = 0;
    intptr_t search = _findfirst(kListingPattern, &found);
    if (search == -1)
        return false;
    do {
        if ((found.attrib & _A_SUBDIR) == 0 && !AddEntry(listing, &capacity, found))
            break;
    } while (_findnext(search, &found) == 0);
    _findclose(search);
    if (listing->count > 1)
        qsort(listing->entries, listing->count, sizeof(SpoolEntry), CompareEntries);
    return listing->count > 0;
}

// Writes the whole file under its partial name, checks the write, the flushes and the close,
// and renames it into place. On any failure nothing of it is left behind.
bool WriteOutputFile(const unsigned char *bytes, int32_t length) {
    FILE *file = fopen(kPartialFileName, "wb");
    if (!file)
        return false;
    bool whole = fwrite(bytes, 1, (size_t)length, file) == (size_t)length;
    whole = fflush(file) == 0 && whole;
    whole = _commit(_fileno(file)) == 0 && whole; // on the disk, not only in its cache
    whole = fclose(file) == 0 && whole;
    // Never replaces a PDF: one that waits (though its check failed) holds pages of its own.
    whole = whole && MoveFileExA(kPartialFileName, kOutputFileName, MOVEFILE_WRITE_THROUGH);
    if (!whole)
        DeleteFileA(kPartialFileName);
    return whole;
}

// Serialises the document (releasing it) and writes the file; true once it is safely on disk.
bool WriteDocument(PdfDocument *document, uint32_t finalSize) {
    int32_t written = 0;
    unsigned char *buffer = static_cast<unsigned char *>(malloc(finalSize));
    if (!buffer) {
        WritePdfDocument(document, nullptr, &written);
        printf("Could not write PDF.\n");
        return false;
    }
    printf("=> Generating PDF File...");
    int result = WritePdfDocument(document, buffer, &written);
    printf("Done\n");
    bool stored = result == 0 && (uint32_t)written == finalSize && WriteOutputFile(buffer, written);
    free(buffer);
    if (!stored) {
        printf("Could not write PDF.\n");
        return false;
    }
    printf("Written PDF %d/%d.\n", (int)finalSize, (int)written);
    return true;
}

} // namespace

// Steps of the stage: spool directory, waiting PDF, listing, pages, file. A spooled file that
// became a page is deleted only once the PDF is on disk; one the intake cannot use is deleted
// at once; one the builder refused stays for a later run.
ConversionOutcome RunConversionStage() {
    EnterSpoolDirectory();

    FILE *waiting = fopen(kOutputFileName, "rb");
    if (waiting) {
        fclose(waiting);
        return CONVERSION_DELIVER;
    }

    SpoolListing listing = {nullptr, 0};
    SpoolListingGuard guard = {&listing};
    if (!ListSpool(&listing)) {
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
        entry->outcome = AddJpegFileAsPage(entry->name, entry->size, document);
        if (entry->outcome == PAGE_UNUSABLE)
            DeleteFileA(entry->name);
    }

    uint32_t finalSize = FinalizePdfDocument(document);
    if (finalSize == 0) {
        int32_t written = 0;
        WritePdfDocument(document, nullptr, &written);
        printf("No pages to write.\n");
        return CONVERSION_END_RUN;
    }
    if (WriteDocument(document, finalSize)) {
        for (size_t i = 0; i < listing.count; ++i)
            if (listing.entries[i].outcome == PAGE_ADDED)
                DeleteFileA(listing.entries[i].name);
    }
    return CONVERSION_DELIVER;
}
