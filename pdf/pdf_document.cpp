// The PDF document builder: renders every object text as its page is added, counts the bytes,
// and serialises by concatenation. See pdf_document.h.
#include "common/win32.h"

#include "pdf/pdf_document.h"

namespace {

// The banner of the header's comment line: plain ASCII, at most 48 characters.
const char kBanner[] = "VellumTransit";

// Room for the Kids list of 256 pages ("%d 0 R " each: at most 2,082 characters).
const size_t kKidsAreaSize = 2560;
// Room for the content text of one page.
const size_t kContentAreaSize = 256;

// Appends formatted text at *used within area (size bytes, NUL included). Returns 0 and advances
// *used when the whole text fitted; 1 when it did not (the area then keeps its old text).
int AppendText(char *area, size_t size, size_t *used, const char *format, ...) {
    if (*used >= size) {
        return 1;
    }
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(area + *used, size - *used, format, arguments);
    va_end(arguments);
    if (length < 0 || (size_t)length >= size - *used) {
        area[*used] = '\0';
        return 1;
    }
    *used += (size_t)length;
    return 0;
}

// Length of the Kids text for pages 1 to pageCount, whose Page objects are 5k - 2: each entry
// is "%d 0 R ", and the last blank is dropped. Counts the digits by decade, not page by page.
uint64_t KidsTextLength(uint64_t pageCount) {
    if (pageCount == 0) {
        return 0;
    }
    // Every entry has at least one digit and five other characters; each further digit is
    // owned by the pages whose number 5k - 2 reaches 10^d, that is k > (10^d + 1) / 5.
    uint64_t length = pageCount * 6;
    for (uint64_t power = 10; power <= 5 * pageCount; power *= 10) {
        uint64_t below = (power + 1) / 5;
        if (pageCount > below) {
            length += pageCount - below;
        }
    }
    return length - 1;
}

// The tail's texts, shared by FinalizePdfDocument and the size check of AddJpegPage.
const char kCatalogFormat[] = "%d 0 obj\r\n<</Type/Catalog/Pages 1 0 R>>\r\nendobj\r\n";
const char kPagesFormat[] = "1 0 obj\r\n<</Type /Pages /Kids [%s] /Count %d>>\r\nendobj\r\n";
const char kXrefFormat[] = "xref\r\n0 %d\r\n";
const char kTrailerFormat[] = "trailer\r\n<</Root %d 0 R /Size %d>>\r\n";
const char kStartxrefFormat[] = "startxref\r\n%d\r\n%%%%EOF\r\n";
const uint64_t kXrefLineLength = 20;

// Length of a formatted text, without writing it.
uint64_t TextLength(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    return length < 0 ? 0 : (uint64_t)length;
}

// Exact size of the finished file when the tail for pageCount pages follows contentEnd bytes of
// header and pages.
uint64_t FinishedFileSize(uint64_t contentEnd, uint32_t pageCount) {
    const int catalog = (int)(5 * pageCount + 2);
    uint64_t xrefOffset = contentEnd + TextLength(kCatalogFormat, catalog) +
                          TextLength(kPagesFormat, "", (int)pageCount) + KidsTextLength(pageCount);
    if (xrefOffset > (uint64_t)kPdfMaxFileSize) {
        return xrefOffset; // already too large; its digits no longer matter
    }
    return xrefOffset + TextLength(kXrefFormat, catalog + 1) +
           kXrefLineLength * (uint64_t)(catalog + 1) +
           TextLength(kTrailerFormat, catalog, catalog + 1) +
           TextLength(kStartxrefFormat, (int)xrefOffset);
}

} // namespace

// Renders one cross-reference line into a slot; an index outside the table is ignored.
void SetXrefSlot(PdfDocument *document, int index, char type, uint32_t value) {
    if (document == nullptr) {
        return;
    }
    int64_t slot = index == kPdfNextSlot ? (int64_t)document->nextObjectNumber : (int64_t)index;
    if (slot < 0 || slot >= kPdfXrefSlotCount) {
        return;
    }
    char *text = document->xrefSlots[slot].text;
    const size_t size = sizeof document->xrefSlots[slot].text;
    // %010u keeps every 32-bit value at ten digits, so the line is always 20 characters.
    int length = -1;
    if (type == 'f') {
        length = snprintf(text, size, "%010u 65535 f\r\n", value);
    } else if (type == 'n') {
        length = snprintf(text, size, "%010u 00000 %c\r\n", value, 'n');
    }
    if (length != (int)kXrefLineLength) {
        text[0] = '\0'; // never a cut line; the tail refuses an empty slot
    }
}

// Creates an empty document; null when out of memory or when the page size is not a
// non-negative number of points that fits in 32 bits.
PdfDocument *CreatePdfDocument(double widthInches, double heightInches) {
    double width = widthInches * 72.0;
    double height = heightInches * 72.0;
    // The comparisons are false for NaN, which is refused with the rest.
    if (!(width >= 0.0 && width < 2147483648.0 && height >= 0.0 && height < 2147483648.0)) {
        return nullptr;
    }
    PdfDocument *document = (PdfDocument *)calloc(1, sizeof(PdfDocument));
    if (document == nullptr) {
        return nullptr;
    }
    document->pageWidth = (int32_t)width;
    document->pageHeight = (int32_t)height;
    SetXrefSlot(document, 0, 'f', 0);
    size_t used = 0;
    if (AppendText(document->headerText, sizeof document->headerText, &used,
                   "%%PDF-1.3\r\n%%\xFF%s\xFF\r\n", kBanner) != 0) {
        free(document);
        return nullptr;
    }
    document->totalSize = (uint32_t)used;
    document->imageCount = 0;
    document->nextObjectNumber = 2;
    document->pageCount = 0;
    document->firstPage = nullptr;
    document->lastPage = nullptr;
    return document;
}

// Adds one page. Renders everything into a scratch page first and checks the finished size,
// so that a refusal leaves the document exactly as it was.
int AddJpegPage(PdfDocument *document, int32_t pixelWidth, int32_t pixelHeight, int32_t jpegSize,
                const unsigned char *bytes, unsigned char isColour) {
    if (document == nullptr) {
        return 1;
    }
    return AddJpegPageOfSize(document, document->pageWidth, document->pageHeight, pixelWidth,
                             pixelHeight, jpegSize, bytes, isColour);
}

int AddJpegPageOfSize(PdfDocument *document, int32_t widthPoints, int32_t heightPoints,
                      int32_t pixelWidth, int32_t pixelHeight, int32_t jpegSize,
                      const unsigned char *bytes, unsigned char isColour) {
    if (document == nullptr || document->tailText[0] != '\0') {
        return 1; // no document, or already finalised
    }
    if (jpegSize < 0 || (bytes == nullptr && jpegSize > 0) || widthPoints < 0 || heightPoints < 0) {
        return 1;
    }
    if (document->pageCount >= kPdfMaxPages) {
        printf("Add JPEG into PDF Skipped. Reason: Reached Max Page Number (%d) in single PDF.\n",
               kPdfMaxPages);
        return 1;
    }

    PdfPage scratch;
    memset(&scratch, 0, sizeof scratch);
    const uint32_t imageObject = document->nextObjectNumber;
    const uint32_t pageObject = imageObject + 1;
    const int32_t imageIndex = document->imageCount;
    const char *colourSpace = isColour == kPdfGrey           ? "DeviceGray"
                              : isColour == kPdfCmyk         ? "DeviceCMYK"
                              : isColour == kPdfCmykInverted ? "DeviceCMYK/Decode[1 0 1 0 1 0 1 0]"
                                                             : "DeviceRGB";
    const char *procSet = isColour ? "ImageC" : "ImageB";

    size_t headLength = 0;
    int failed =
        AppendText(scratch.imageObjectHead, sizeof scratch.imageObjectHead, &headLength,
                   "\r\n%d 0 obj\r\n<</Type/XObject/Subtype/Image/Filter/DCTDecode/"
                   "BitsPerComponent 8/ColorSpace/%s/Width %d/Height %d/Length %d>>\r\n"
                   "stream\r\n",
                   (int)imageObject, colourSpace, (int)pixelWidth, (int)pixelHeight, (int)jpegSize);

    char content[kContentAreaSize];
    size_t contentLength = 0;
    failed |= AppendText(content, sizeof content, &contentLength,
                         "q\r\n1 0 0 1 %.2f %.2f cm\r\n%.2f 0 0 %.2f 0 0 cm\r\n/I%d Do\r\nQ\r\n",
                         0.0, 0.0, (double)widthPoints, (double)heightPoints, (int)imageIndex);

    // The five pieces behind the JPEG bytes, each remembered by where it starts.
    char *text = scratch.pageObjectsText;
    const size_t size = sizeof scratch.pageObjectsText;
    size_t used = 0;
    size_t starts[4];
    failed |= AppendText(text, size, &used, "\r\nendstream\r\nendobj\r\n");
    starts[0] = used;
    failed |= AppendText(text, size, &used,
                         "%d 0 obj\r\n<</Type/Page/Parent 1 0 R/MediaBox[0 0 %d %d]/Contents %d 0 "
                         "R/Resources %d 0 R>>\r\nendobj\r\n",
                         (int)pageObject, (int)widthPoints, (int)heightPoints,
                         (int)(pageObject + 1), (int)(pageObject + 3));
    starts[1] = used;
    failed |= AppendText(text, size, &used,
                         "%d 0 obj\r\n<</Length %d 0 R>>stream\r\n%sendstream\r\nendobj\r\n",
                         (int)(pageObject + 1), (int)(pageObject + 2), content);
    starts[2] = used;
    failed |= AppendText(text, size, &used, "%d 0 obj\r\n%ld\r\nendobj\r\n", (int)(pageObject + 2),
                         (long)contentLength);
    starts[3] = used;
    failed |= AppendText(text, size, &used,
                         "%d 0 obj\r\n<</ProcSet[/PDF/%s]/XObject<</I%d %d 0 R>>>>\r\nendobj\r\n",
                         (int)(pageObject + 3), procSet, (int)imageIndex, (int)imageObject);
    if (failed) {
        return 1; // cannot happen within the page limit; never store a cut text
    }

    // The finished file with this page: everything so far, the page, and the tail for one more
    // page, with the digits of the "startxref" number, which is the offset of "xref".
    const uint64_t pageEnd = (uint64_t)document->totalSize + headLength + (uint64_t)jpegSize + used;
    const uint64_t finished = FinishedFileSize(pageEnd, document->pageCount + 1);
    if (finished > (uint64_t)kPdfMaxFileSize) {
        printf("Add JPEG into PDF Skipped. Reason: PDF would be larger than %d bytes.\n",
               kPdfMaxFileSize);
        return 1;
    }

    PdfPage *page = (PdfPage *)malloc(sizeof(PdfPage));
    if (page == nullptr) {
        return 1;
    }
    unsigned char *copy = nullptr;
    if (jpegSize > 0) {
        copy = (unsigned char *)malloc((size_t)jpegSize);
        if (copy == nullptr) {
            free(page);
            return 1;
        }
        memcpy(copy, bytes, (size_t)jpegSize);
    }
    memcpy(page, &scratch, sizeof scratch);
    page->next = nullptr;
    page->jpegData = copy;
    page->jpegSize = jpegSize;
    page->pixelWidth = pixelWidth;
    page->pixelHeight = pixelHeight;
    page->pageObjectNumber = (int32_t)pageObject;

    // Object offsets: the image object's line follows the CR LF that opens its head.
    const uint32_t objectsStart = (uint32_t)(document->totalSize + headLength + (uint64_t)jpegSize);
    SetXrefSlot(document, (int)imageObject, 'n', (uint32_t)document->totalSize + 2);
    for (int piece = 0; piece < 4; piece++) {
        SetXrefSlot(document, (int)(pageObject + piece), 'n',
                    objectsStart + (uint32_t)starts[piece]);
    }
    document->nextObjectNumber = pageObject + 4;
    document->totalSize = (uint32_t)pageEnd;
    document->imageCount++;
    document->pageCount++;
    if (document->lastPage == nullptr) {
        document->firstPage = page;
    } else {
        document->lastPage->next = page;
    }
    document->lastPage = page;
    return 0;
}

// Renders the tail behind the last page and returns the size of the whole file; 0 for no
// document or no page. A second call renders nothing more and returns the same size.
uint32_t FinalizePdfDocument(PdfDocument *document) {
    if (document == nullptr) {
        return 0;
    }
    if (document->tailText[0] == '\0') {
        const uint32_t catalog = document->nextObjectNumber;
        char *tail = document->tailText;
        const size_t size = sizeof document->tailText;
        size_t used = 0;
        int failed = AppendText(tail, size, &used, kCatalogFormat, (int)catalog);
        const size_t pagesStart = used;

        char kids[kKidsAreaSize];
        size_t kidsLength = 0;
        kids[0] = '\0';
        for (const PdfPage *page = document->firstPage; page != nullptr; page = page->next) {
            failed |=
                AppendText(kids, sizeof kids, &kidsLength, "%d 0 R ", (int)page->pageObjectNumber);
        }
        if (kidsLength > 1 && kids[kidsLength - 1] == ' ') {
            kids[--kidsLength] = '\0';
        }
        failed |= AppendText(tail, size, &used, kPagesFormat, kids, (int)document->pageCount);
        const size_t xrefStart = used;
        failed |= AppendText(tail, size, &used, kXrefFormat, (int)(catalog + 1));

        // The slots are recorded before they are copied into the table.
        SetXrefSlot(document, (int)catalog, 'n', document->totalSize);
        SetXrefSlot(document, 1, 'n', document->totalSize + (uint32_t)pagesStart);
        for (uint32_t slot = 0; slot <= catalog && slot < kPdfXrefSlotCount; slot++) {
            const char *line = document->xrefSlots[slot].text;
            failed |= strlen(line) != kXrefLineLength;
            failed |= AppendText(tail, size, &used, "%s", line);
        }
        failed |= AppendText(tail, size, &used, kTrailerFormat, (int)catalog, (int)(catalog + 1));
        failed |= AppendText(tail, size, &used, kStartxrefFormat,
                             (int)(document->totalSize + (uint32_t)xrefStart));
        if (failed || catalog >= kPdfXrefSlotCount) {
            // Cannot happen within the page limit; a cut tail must never be written.
            document->tailText[0] = '\0';
            return 0;
        }
        document->totalSize += (uint32_t)used;
    }
    const size_t headerLength = strlen(document->headerText);
    const size_t tailLength = strlen(document->tailText);
    if (headerLength > 0 && tailLength > 0 && document->totalSize > headerLength + tailLength) {
        return document->totalSize;
    }
    return 0;
}

// Copies the finished file into buffer, then releases the document. A document that was never
// finalised has no known size and is not written.
int WritePdfDocument(PdfDocument *document, unsigned char *buffer, int32_t *written) {
    if (document == nullptr) {
        return 1;
    }
    int result = 1;
    if (buffer != nullptr && document->tailText[0] != '\0') {
        size_t at = 0;
        size_t length = strlen(document->headerText);
        memcpy(buffer + at, document->headerText, length);
        at += length;
        for (const PdfPage *page = document->firstPage; page != nullptr; page = page->next) {
            length = strlen(page->imageObjectHead);
            memcpy(buffer + at, page->imageObjectHead, length);
            at += length;
            if (page->jpegSize > 0) {
                memcpy(buffer + at, page->jpegData, (size_t)page->jpegSize);
                at += (size_t)page->jpegSize;
            }
            length = strlen(page->pageObjectsText);
            memcpy(buffer + at, page->pageObjectsText, length);
            at += length;
        }
        length = strlen(document->tailText);
        memcpy(buffer + at, document->tailText, length);
        at += length;
        if (written != nullptr) {
            *written = (int32_t)at;
        }
        result = 0;
    }
    PdfPage *page = document->firstPage;
    while (page != nullptr) {
        PdfPage *next = page->next;
        if (page->jpegData != nullptr) {
            free(page->jpegData);
        }
        free(page);
        page = next;
    }
    free(document);
    return result;
}
