// The JPEG page intake: one spooled file read whole, sized from its headers and offered to the
// document as a page. See jpeg_intake.h.
#include "common/win32.h"

#include "pdf/jpeg_intake.h"

#include "common/page_title.h"
#include "common/spool_contract.h"
#include "pdf/pdf_document.h"

namespace {

// Big-endian 16-bit value at offset; the caller has checked that both bytes lie before count.
uint32_t ReadBigEndian16(const unsigned char *bytes, uint64_t offset) {
    return ((uint32_t)bytes[offset] << 8) | bytes[offset + 1];
}

// Frame headers that PDF's DCTDecode draws: baseline, extended sequential and progressive, all
// Huffman coded. Every other frame (lossless, hierarchical, arithmetic coded) is not drawn.
bool IsDrawnFrame(unsigned char marker) {
    return marker == 0xC0 || marker == 0xC1 || marker == 0xC2;
}
bool IsOtherFrame(unsigned char marker) {
    return marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that end the search before any frame: a second start of image, the end of image, a
// scan, a restart, the hierarchical progression header, and codes that are no marker.
bool EndsSearch(unsigned char marker) {
    return marker == 0xD8 || marker == 0xD9 || marker == 0xDA ||
           (marker >= 0xD0 && marker <= 0xD7) || marker == 0xDE || marker == 0x00 || marker == 0x01;
}

// Marker of the APP14 segment in which Adobe's files say how they store their colours.
const unsigned char kAdobeSegment = 0xEE;
// Marker of the APP0 segment in which JFIF files state their density.
const unsigned char kJfifSegment = 0xE0;
// Marker of a comment segment, in which the printer writes the page's title.
const unsigned char kCommentSegment = 0xFE;
// A frame's sample precision that DCTDecode draws.
const unsigned char kDrawnPrecision = 8;

} // namespace

// Walks the segments after the start of image, whatever they are (JFIF, Exif, Adobe, comments,
// tables or none), to the first frame header. Positions are 64-bit so that a segment length can
// never wrap them; every read is checked against count first.
int GetJfifImageSize(const unsigned char *bytes, uint32_t count, uint16_t *width, uint16_t *height,
                     unsigned char *isColour, JpegDensity *density, char *title, size_t titleSize) {
    if (title != nullptr && titleSize > 0) {
        title[0] = '\0';
    }
    if (bytes == nullptr || count < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return 0;
    }
    uint64_t position = 2;
    bool adobe = false; // an Adobe APP14 segment came first: CMYK samples are stored inverted
    bool jfif = false;  // a JFIF segment came first: found holds its density
    JpegDensity found = {0, 0, 0};
    bool titled = false; // the first comment of ours came: its text is at titleStart
    uint64_t titleStart = 0, titleLength = 0;
    const size_t prefixLength = sizeof kPageTitlePrefix - 1;
    for (;;) {
        if (position >= count || bytes[position] != 0xFF) {
            return 0;
        }
        while (position + 1 < count && bytes[position + 1] == 0xFF) {
            ++position; // fill bytes, which may stand before any marker
        }
        if (position + 1 >= count) {
            return 0;
        }
        unsigned char marker = bytes[position + 1];
        if (IsDrawnFrame(marker)) {
            // Length, precision, lines (height), samples per line (width), component count.
            if (position + 8 >= count || bytes[position + 4] != kDrawnPrecision ||
                ReadBigEndian16(bytes, position + 5) == 0 ||
                ReadBigEndian16(bytes, position + 7) == 0) {
                return 0; // no size, 12-bit samples, or a height given later in the scan
            }
            // One component is greyscale, three colour, four CMYK; no colour space of a page
            // takes any other count. A missing count byte changes nothing.
            unsigned char components = position + 9 < count ? bytes[position + 9] : 3;
            if (components != 1 && components != 3 && components != 4) {
                return 0;
            }
            if (width != nullptr) {
                *width = (uint16_t)ReadBigEndian16(bytes, position + 7);
            }
            if (height != nullptr) {
                *height = (uint16_t)ReadBigEndian16(bytes, position + 5);
            }
            if (isColour != nullptr && components == 1) {
                *isColour = kPdfGrey;
            } else if (isColour != nullptr && components == 4) {
                *isColour = adobe ? kPdfCmykInverted : kPdfCmyk;
            }
            if (density != nullptr && jfif) {
                *density = found;
            }
            if (titled && title != nullptr && titleSize > 0) {
                CleanTitle((const char *)bytes + titleStart, (size_t)titleLength, title, titleSize);
            }
            return 1;
        }
        if (IsOtherFrame(marker) || EndsSearch(marker) || position + 3 >= count) {
            return 0;
        }
        uint32_t segmentLength = ReadBigEndian16(bytes, position + 2);
        if (segmentLength < 2) {
            return 0; // a length counts its own two bytes
        }
        if (marker == kAdobeSegment && segmentLength >= 7 && position + 8 < count &&
            memcmp(bytes + position + 4, "Adobe", 5) == 0) {
            adobe = true;
        }
        // "JFIF\0", the version, the units and the two densities: 14 bytes after the length.
        if (marker == kJfifSegment && !jfif && segmentLength >= 16 && position + 15 < count &&
            memcmp(bytes + position + 4, "JFIF", 5) == 0) {
            jfif = true;
            found.units = bytes[position + 11];
            found.x = (uint16_t)ReadBigEndian16(bytes, position + 12);
            found.y = (uint16_t)ReadBigEndian16(bytes, position + 14);
        }
        // The comment's text, as far as the bytes read reach (the frame lies beyond it).
        if (marker == kCommentSegment && !titled && segmentLength >= 2 + prefixLength &&
            position + 4 + prefixLength <= count &&
            memcmp(bytes + position + 4, kPageTitlePrefix, prefixLength) == 0) {
            titled = true;
            uint64_t textEnd = position + 2 + segmentLength;
            titleStart = position + 4 + prefixLength;
            titleLength = (textEnd < count ? textEnd : count) - titleStart;
        }
        position += 2 + segmentLength;
    }
}

// In whole numbers throughout, so that a page of exactly 8.5 inches is never a hair short: the
// density in dots per inch is x * scale / 100 (scale 100 for an inch, 254 for a centimetre).
int PageSizeAtDensity(uint32_t width, uint32_t height, const JpegDensity &density,
                      int32_t *widthPoints, int32_t *heightPoints) {
    const int64_t scale = density.units == 1 ? 100 : density.units == 2 ? 254 : 0;
    const int64_t x = density.x * scale, y = density.y * scale; // dots per inch, times 100
    // Hundredths of an inch times the density: inches = across / x.
    const int64_t across = (int64_t)width * 100, down = (int64_t)height * 100;
    if (x == 0 || y == 0 || across < x || down < y || across > 200 * x || down > 200 * y) {
        return 0; // no density a page can be sized by
    }
    // Letter within a pixel: |width - 8.5 * x / 100| <= 1, times 100 (and by 10 for the half).
    const int64_t offAcross = across * 10 - 85 * x, offDown = down * 10 - 110 * y;
    if (offAcross >= -1000 && offAcross <= 1000 && offDown >= -1000 && offDown <= 1000) {
        return 0;
    }
    // Points are 72 an inch, truncated: at most 14,400, as the page is at most 200 inches.
    *widthPoints = (int32_t)(across * 72 / x);
    *heightPoints = (int32_t)(down * 72 / y);
    return 1;
}

// Reads the file whole, reports it and offers it to the document. Only a file read whole that
// has no image size, or one empty both when listed and when opened, is PAGE_UNUSABLE. Anything
// that may pass (no memory, a file that would not open or read, one that changed since it was
// listed, a page the builder refused) is PAGE_REFUSED, so that the file stays for a later run.
PageIntakeResult AddJpegFileAsPage(const char *path, uint32_t size, PdfDocument *document,
                                   char *title, size_t titleSize) {
    if (title != nullptr && titleSize > 0)
        title[0] = '\0';
    if (size > (uint32_t)kPdfMaxFileSize) {
        // Too large for any PDF (and for a 32-bit signed size): refused unread, like any page
        // the builder refuses, so it stays in the spool rather than being deleted.
        printf("Add JPEG into PDF Skipped. Reason: PDF would be larger than %d bytes.\n",
               kPdfMaxFileSize);
        return PAGE_REFUSED;
    }
    unsigned char *block = nullptr;
    uint32_t read = 0;
    bool whole = false;   // every listed byte read, and the end of the file seen right after
    bool changed = false; // the file is not the one listed: cut short or grown since
    if (size > 0)
        block = (unsigned char *)malloc(size);
    if (size == 0 || block != nullptr) {
        // Denying writers, so that a page the front end is still writing is not read cut short:
        // the open fails while the writer has it, and the file waits for a later run.
        FILE *file = _fsopen(path, "rb", _SH_DENYWR);
        if (file != nullptr) {
            read = size > 0 ? (uint32_t)fread(block, 1, size, file) : 0;
            unsigned char more;
            // A file listed as empty may have been written since, or be exactly 4 GiB, which
            // the 32-bit listing also reports as 0 bytes.
            if (read == size && fread(&more, 1, 1, file) == 1)
                changed = true;
            else
                whole = read == size && feof(file);
            changed = changed || (read > 0 && read < size);
            fclose(file);
        }
    }
    if (read != size) {
        printf("Warning: File %s should be %d Bytes. But only read in %d Bytes.\n", path, (int)size,
               (int)read);
    }

    if (changed || (read == size && !whole && size > 0)) {
        // Not the file the listing saw, or its end could not be confirmed: a page made of it
        // might be cut short, and the file deleted with it. Keep it whole for a later run.
        free(block);
        return PAGE_REFUSED;
    }

    PageIntakeResult result;
    uint16_t width = 0;
    uint16_t height = 0;
    unsigned char isColour = 1;
    JpegDensity density = {0, 0, 0};
    if (whole &&
        GetJfifImageSize(block, read, &width, &height, &isColour, &density, title, titleSize)) {
        printf("Adding %s (%dx%d) into PDF\n", path, (int)width, (int)height);
        int32_t widthPoints = 0, heightPoints = 0;
        int added = PageSizeAtDensity(width, height, density, &widthPoints, &heightPoints)
                        ? AddJpegPageOfSize(document, widthPoints, heightPoints, width, height,
                                            (int32_t)read, block, isColour)
                        : AddJpegPage(document, width, height, (int32_t)read, block, isColour);
        result = added == 0 ? PAGE_ADDED : PAGE_REFUSED;
        if (result != PAGE_ADDED && title != nullptr && titleSize > 0)
            title[0] = '\0';
    } else {
        printf("Warning: Can't obtain image dimension from %s. Skipped.\n", path);
        // A failure to allocate, open or read may pass; only a file seen whole is judged.
        result = whole ? PAGE_UNUSABLE : PAGE_REFUSED;
    }
    free(block);
    return result;
}
