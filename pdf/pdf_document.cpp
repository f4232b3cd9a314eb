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
// A titled document's: its Info object (behind the pages, ahead of the Catalog) and trailer.
const char kInfoFormat[] = "%d 0 obj\r\n<</Title %s/Producer (VellumTransit)>>\r\nendobj\r\n";
const char kTitledTrailerFormat[] = "trailer\r\n<</Root %d 0 R /Size %d /Info %d 0 R>>\r\n";
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
// header and pages, with the Info object of titleString (empty for none).
uint64_t FinishedFileSize(uint64_t contentEnd, uint32_t pageCount, const char *titleString) {
    const int catalog = (int)(5 * pageCount + 2);
    const bool titled = titleString[0] != '\0';
    const int objects = catalog + (titled ? 2 : 1);
    uint64_t xrefOffset = contentEnd + TextLength(kCatalogFormat, catalog) +
                          TextLength(kPagesFormat, "", (int)pageCount) + KidsTextLength(pageCount);
    if (titled) {
        xrefOffset += TextLength(kInfoFormat, catalog + 1, titleString);
    }
    if (xrefOffset > (uint64_t)kPdfMaxFileSize) {
        return xrefOffset; // already too large; its digits no longer matter
    }
    return xrefOffset + TextLength(kXrefFormat, objects) + kXrefLineLength * (uint64_t)objects +
           (titled ? TextLength(kTitledTrailerFormat, catalog, objects, catalog + 1)
                   : TextLength(kTrailerFormat, catalog, objects)) +
           TextLength(kStartxrefFormat, (int)xrefOffset);
}

// Appends code point as UTF-16BE in hex.
void AppendUtf16Hex(char *area, size_t size, size_t *used, int *failed, uint32_t code) {
    if (code >= 0x10000) {
        code -= 0x10000;
        *failed |= AppendText(area, size, used, "%04X%04X", 0xD800 + (code >> 10),
                              0xDC00 + (code & 0x3FF));
    } else {
        *failed |= AppendText(area, size, used, "%04X", code);
    }
}

// Renders a title as a PDF text string into area: a literal, its brackets and backslashes
// escaped, when every byte is printable ASCII; else UTF-16BE with its byte-order mark, as a
// hex string (the document's texts end at a NUL, which UTF-16 is full of). 0 when it fitted.
int RenderTitleString(const char *title, char *area, size_t size) {
    size_t used = 0;
    int failed = 0;
    bool ascii = true;
    for (const char *c = title; *c; ++c) {
        ascii = ascii && *c >= 0x20 && *c < 0x7F;
    }
    if (ascii) {
        failed |= AppendText(area, size, &used, "(");
        for (const char *c = title; *c; ++c) {
            failed |= AppendText(area, size, &used,
                                 (*c == '(' || *c == ')' || *c == '\\') ? "\\%c" : "%c", *c);
        }
        return failed | AppendText(area, size, &used, ")");
    }
    failed |= AppendText(area, size, &used, "<FEFF");
    const unsigned char *bytes = (const unsigned char *)title;
    for (size_t at = 0; bytes[at] != '\0';) {
        // The title is valid UTF-8 (the intake made it so); a stray byte becomes U+FFFD.
        unsigned char lead = bytes[at];
        size_t length = lead < 0x80    ? 1
                        : lead >= 0xF0 ? 4
                        : lead >= 0xE0 ? 3
                        : lead >= 0xC0 ? 2
                                       : 0;
        uint32_t code = length == 1   ? lead
                        : length == 2 ? (lead & 0x1Fu)
                        : length == 3 ? (lead & 0x0Fu)
                                      : (lead & 0x07u);
        for (size_t i = 1; i < length; ++i) {
            if ((bytes[at + i] & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            code = (code << 6) | (bytes[at + i] & 0x3Fu);
        }
        if (length == 0 || code > 0x10FFFF) {
            code = 0xFFFD;
            length = 1;
        }
        AppendUtf16Hex(area, size, &used, &failed, code);
        at += length;
    }
    return failed | AppendText(area, size, &used, ">");
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
    const uint64_t finished =
        FinishedFileSize(pageEnd, document->pageCount + 1, document->titleString);
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
        const bool titled = document->titleString[0] != '\0';
        const uint32_t objects = catalog + (titled ? 2 : 1);
        uint32_t infoLength = 0;
        if (titled) {
            size_t infoUsed = 0;
            if (AppendText(document->infoText, sizeof document->infoText, &infoUsed, kInfoFormat,
                           (int)(catalog + 1), document->titleString) != 0 ||
                catalog + 1 >= kPdfXrefSlotCount) {
                document->infoText[0] = '\0';
                return 0;
            }
            SetXrefSlot(document, (int)(catalog + 1), 'n', document->totalSize);
            infoLength = (uint32_t)infoUsed;
            document->totalSize += infoLength;
        }
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
        failed |= AppendText(tail, size, &used, kXrefFormat, (int)objects);

        // The slots are recorded before they are copied into the table.
        SetXrefSlot(document, (int)catalog, 'n', document->totalSize);
        SetXrefSlot(document, 1, 'n', document->totalSize + (uint32_t)pagesStart);
        for (uint32_t slot = 0; slot < objects && slot < kPdfXrefSlotCount; slot++) {
            const char *line = document->xrefSlots[slot].text;
            failed |= strlen(line) != kXrefLineLength;
            failed |= AppendText(tail, size, &used, "%s", line);
        }
        failed |= titled
                      ? AppendText(tail, size, &used, kTitledTrailerFormat, (int)catalog,
                                   (int)objects, (int)(catalog + 1))
                      : AppendText(tail, size, &used, kTrailerFormat, (int)catalog, (int)objects);
        failed |= AppendText(tail, size, &used, kStartxrefFormat,
                             (int)(document->totalSize + (uint32_t)xrefStart));
        if (failed || objects > kPdfXrefSlotCount) {
            // Cannot happen within the page limit; a cut tail must never be written.
            document->tailText[0] = '\0';
            document->infoText[0] = '\0';
            document->totalSize -= infoLength;
            return 0;
        }
        document->totalSize += (uint32_t)used;
    }
    const size_t headerLength = strlen(document->headerText);
    const size_t tailLength = strlen(document->tailText) + strlen(document->infoText);
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
        length = strlen(document->infoText);
        memcpy(buffer + at, document->infoText, length);
        at += length;
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

// Renders the title's string now, so that the size check of every later page counts it.
int SetPdfDocumentTitle(PdfDocument *document, const char *title) {
    if (document == nullptr || title == nullptr || title[0] == '\0' ||
        document->tailText[0] != '\0') {
        return 1;
    }
    char rendered[kPdfTitleStringSize];
    if (RenderTitleString(title, rendered, sizeof rendered) != 0 ||
        FinishedFileSize(document->totalSize, document->pageCount, rendered) >
            (uint64_t)kPdfMaxFileSize) {
        return 1;
    }
    memcpy(document->titleString, rendered, strlen(rendered) + 1);
    return 0;
}

namespace {

// The value of a hex digit, or -1.
int HexValue(unsigned char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// Appends code point as UTF-8 when it fits (size bytes in all, NUL included).
void AppendUtf8(char *title, size_t size, size_t *used, uint32_t code) {
    char bytes[4];
    size_t length = code < 0x80      ? (bytes[0] = (char)code, 1)
                    : code < 0x800   ? (bytes[0] = (char)(0xC0 | (code >> 6)), 2)
                    : code < 0x10000 ? (bytes[0] = (char)(0xE0 | (code >> 12)), 3)
                                     : (bytes[0] = (char)(0xF0 | (code >> 18)), 4);
    for (size_t i = 1; i < length; ++i) {
        bytes[i] = (char)(0x80 | ((code >> (6 * (length - 1 - i))) & 0x3F));
    }
    if (*used + length < size) {
        memcpy(title + *used, bytes, length);
        *used += length;
    }
}

// Reads the PDF string at text (up to end) as this builder writes it into title: a literal
// with its escapes, or UTF-16BE in hex after its byte-order mark. 1 when it was whole.
int ReadTitleString(const char *text, const char *end, char *title, size_t size) {
    size_t used = 0;
    if (text < end && *text == '(') {
        for (++text; text < end && *text != ')'; ++text) {
            if (*text == '\\' && text + 1 < end) {
                ++text;
            }
            if (used + 1 < size) {
                title[used++] = *text;
            }
        }
        title[used] = '\0';
        return text < end;
    }
    if (end - text < 5 || memcmp(text, "<FEFF", 5) != 0) {
        return 0;
    }
    uint32_t high = 0; // a high surrogate waiting for its partner
    for (text += 5; end - text >= 4; text += 4) {
        int digits[4];
        for (int i = 0; i < 4; ++i) {
            digits[i] = HexValue((unsigned char)text[i]);
        }
        if (digits[0] < 0 || digits[1] < 0 || digits[2] < 0 || digits[3] < 0) {
            break;
        }
        uint32_t unit = (uint32_t)(digits[0] << 12 | digits[1] << 8 | digits[2] << 4 | digits[3]);
        if (unit >= 0xD800 && unit < 0xDC00) {
            if (high) {
                AppendUtf8(title, size, &used, 0xFFFD);
            }
            high = unit;
            continue;
        }
        uint32_t code = unit >= 0xDC00 && unit < 0xE000
                            ? (high ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD)
                            : unit;
        if (high && !(unit >= 0xDC00 && unit < 0xE000)) {
            AppendUtf8(title, size, &used, 0xFFFD);
        }
        high = 0;
        AppendUtf8(title, size, &used, code);
    }
    title[used] = '\0';
    return text < end && *text == '>';
}

// The last place of needle (length bytes) in the count bytes at haystack, or null.
const unsigned char *FindLast(const unsigned char *haystack, size_t count, const char *needle,
                              size_t length) {
    for (size_t at = count >= length ? count - length + 1 : 0; at-- > 0;) {
        if (memcmp(haystack + at, needle, length) == 0) {
            return haystack + at;
        }
    }
    return nullptr;
}

} // namespace

int ReadPdfTitle(const unsigned char *tail, size_t count, char *title, size_t size) {
    if (title == nullptr || size == 0) {
        return 0;
    }
    title[0] = '\0';
    const char trailer[] = "trailer\r\n<<";
    const unsigned char *found =
        tail ? FindLast(tail, count, trailer, sizeof trailer - 1) : nullptr;
    if (found == nullptr) {
        return 0;
    }
    const unsigned char *end = tail + count;
    const unsigned char *close = FindLast(found, (size_t)(end - found), ">>", 2);
    const unsigned char *info =
        close ? FindLast(found, (size_t)(close - found), "/Info ", 6) : nullptr;
    int number = 0;
    for (const unsigned char *digit = info ? info + 6 : end;
         digit < close && *digit >= '0' && *digit <= '9' && number < 100000; ++digit) {
        number = number * 10 + (*digit - '0');
    }
    if (number == 0) {
        return 0;
    }
    char head[64];
    int headLength = snprintf(head, sizeof head, "\n%d 0 obj\r\n<</Title ", number);
    const unsigned char *object = FindLast(tail, (size_t)(found - tail), head, (size_t)headLength);
    if (object == nullptr) {
        return 0;
    }
    const char *text = (const char *)object + headLength;
    return ReadTitleString(text, (const char *)found, title, size) && title[0] != '\0';
}
