// The PDF document builder: an in-memory PDF 1.3 file whose pages are JPEG images, each
// embedded unchanged as a DCT-encoded image object and drawn over the whole page: a page of the
// document's size, or one of a size of its own.
//
// Every object's text is rendered when its page is added, so every offset (and the whole
// cross-reference table) is known before the file exists; serialising only concatenates.
// Calling order: CreatePdfDocument, AddJpegPage any number of times, FinalizePdfDocument once,
// WritePdfDocument once (which releases the document in every case).
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    kPdfMaxPages = 256,
    kPdfObjectsPerPage = 5,
    // Objects 0 to 1,283: the Catalog of 256 pages is 1,282, a titled document's Info 1,283.
    kPdfXrefSlotCount = kPdfObjectsPerPage * kPdfMaxPages + 4,
    kPdfMaxFileSize = 2147483647, // offsets are 32-bit signed
    // A title's PDF string: 257 UTF-16 units as hex with the byte-order mark, or ASCII with
    // every byte escaped, and the brackets.
    kPdfTitleStringSize = 1100,
    // The Info object: its number, the title's string and the producer.
    kPdfInfoTextSize = kPdfTitleStringSize + 96,
};

// What AddJpegPage's isColour byte declares: zero is greyscale, any other value colour, RGB
// unless it names CMYK. Adobe's CMYK files store their samples inverted.
enum { kPdfGrey = 0, kPdfRgb = 1, kPdfCmyk = 2, kPdfCmykInverted = 3 };

// One page: its own copy of the JPEG bytes and the object texts around them.
struct PdfPage {
    PdfPage *next;
    unsigned char *jpegData;
    int32_t jpegSize;
    int32_t pixelWidth;
    int32_t pixelHeight;
    int32_t pageObjectNumber;
    char imageObjectHead[256]; // stands in the file ahead of the JPEG bytes
    char pageObjectsText[512]; // stands in the file behind the JPEG bytes
};

// One 20-character cross-reference line, CR LF included, and a NUL.
struct XrefSlot {
    char text[21];
};

struct PdfDocument {
    PdfPage *firstPage;
    PdfPage *lastPage;
    uint32_t pageCount;
    char headerText[64];
    char tailText[28476];
    XrefSlot xrefSlots[kPdfXrefSlotCount];
    int32_t pageWidth;  // points, of a page added without a size of its own
    int32_t pageHeight; // points
    uint32_t nextObjectNumber;
    uint32_t totalSize; // bytes rendered so far: the offset of the next text
    int32_t imageCount;
    char titleString[kPdfTitleStringSize]; // the title as a PDF string, empty for none
    char infoText[kPdfInfoTextSize];       // the Info object, behind the pages; empty for none
};

// A new, empty document for pages of the given size in inches (kept in whole points); null when
// out of memory or when a size is negative, not a number or too large for 32-bit points.
PdfDocument *CreatePdfDocument(double widthInches, double heightInches);

// Adds one JPEG as a page (the bytes are copied). 0 when added; 1 when refused, the document
// then unchanged: no document, a document already finalised, a negative size or missing bytes,
// the page limit (with a console message), a finished file that would pass kPdfMaxFileSize
// (with a console message), or no memory.
int AddJpegPage(PdfDocument *document, int32_t pixelWidth, int32_t pixelHeight, int32_t jpegSize,
                const unsigned char *bytes, unsigned char isColour);

// The same on a page of widthPoints x heightPoints (its own MediaBox, the image drawn over it);
// refused too for a negative size.
int AddJpegPageOfSize(PdfDocument *document, int32_t widthPoints, int32_t heightPoints,
                      int32_t pixelWidth, int32_t pixelHeight, int32_t jpegSize,
                      const unsigned char *bytes, unsigned char isColour);

// Gives the document a title (UTF-8, at most kPageTitleBytes plus a part's words): an Info
// dictionary with /Title and /Producer (VellumTransit) goes into the file, named by the
// trailer. A document without one has no Info at all. 0 when set; 1 when refused, the document
// then unchanged: no document, one already finalised, a title that does not fit, or one with
// which the finished file would pass kPdfMaxFileSize.
int SetPdfDocumentTitle(PdfDocument *document, const char *title);

// Finds the title of a PDF that this builder wrote, from the last count bytes of the file (its
// tail: the Info object stands right before the Catalog) into title (UTF-8, size bytes). 1 with
// the title, 0 when the file has none (no Info named by its last trailer).
int ReadPdfTitle(const unsigned char *tail, size_t count, char *title, size_t size);

// Renders the tail; returns the size of the whole file, or 0 for no document or no pages.
// A second call renders nothing more and returns the same size.
uint32_t FinalizePdfDocument(PdfDocument *document);

// Copies the file into buffer (at least the finalised size) and stores its length in written;
// 0 when written, 1 for no document, no buffer or a document never finalised (whose size the
// caller cannot know), written then untouched. Releases the document in every case.
int WritePdfDocument(PdfDocument *document, unsigned char *buffer, int32_t *written);

// Renders one cross-reference line: type 'f' (free) or 'n' (in use) with a 32-bit value, into
// slot index, or into the slot of nextObjectNumber when index is kPdfNextSlot.
enum { kPdfNextSlot = -1 };
void SetXrefSlot(PdfDocument *document, int index, char type, uint32_t value);
