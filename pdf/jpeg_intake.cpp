// The JPEG page intake: one spooled file read whole, sized from its headers and offered to the
// document as a page. See jpeg_intake.h.
#include "common/win32.h"

#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"

namespace {

// Big-endian 16-bit value at offset; the caller has checked that both bytes lie before count.
uint32_t ReadBigEndian16(const unsigned char *bytes, uint64_t offset) {
    return ((uint32_t)bytes[offset] << 8) | bytes[offset + 1];
}

// Marker of a baseline DCT frame header, the only frame whose size the probe reports.
const unsigned char kBaselineFrame = 0xC0;

} // namespace

// Walks the segments from the JFIF APP0 to the first baseline frame header. Positions are 64-bit
// so that a segment length can never wrap them; every read is checked against count first.
int GetJfifImageSize(const unsigned char *bytes, uint32_t count, uint16_t *width, uint16_t *height,
                     unsigned char *isColour) {
    if (bytes == nullptr || count < 11) {
        return 0;
    }
    if (bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF || bytes[3] != 0xE0 ||
        memcmp(bytes + 6, "JFIF", 4) != 0 || bytes[10] != 0) {
        return 0;
    }
    uint64_t position = 4;
    uint32_t segmentLength = ReadBigEndian16(bytes, 4);
    while (position < count) {
        position += segmentLength;
        if (position >= count || bytes[position] != 0xFF || position + 1 >= count) {
            return 0;
        }
        if (bytes[position + 1] == kBaselineFrame) {
            // Length, precision, lines (height), samples per line (width), component count.
            if (position + 8 >= count || ReadBigEndian16(bytes, position + 5) == 0 ||
                ReadBigEndian16(bytes, position + 7) == 0) {
                return 0; // no size, or an image of no pixels (a height given later in the scan)
            }
            if (width != nullptr) {
                *width = (uint16_t)ReadBigEndian16(bytes, position + 7);
            }
            if (height != nullptr) {
                *height = (uint16_t)ReadBigEndian16(bytes, position + 5);
            }
            // A single component is a greyscale image; a missing count byte changes nothing.
            if (isColour != nullptr && position + 9 < count && bytes[position + 9] == 1) {
                *isColour = 0;
            }
            return 1;
        }
        if (position + 3 >= count) {
            return 0;
        }
        segmentLength = ReadBigEndian16(bytes, position + 2);
        position += 2;
    }
    return 0;
}

// Reads the file whole, reports it and offers it to the document. A file that can never become a
// page is PAGE_UNUSABLE; one that could not be taken now (the builder refused it, there was no
// memory to read it into, or only part of it could be read) is PAGE_REFUSED, so that it stays
// for a later run.
PageIntakeResult AddJpegFileAsPage(const char *path, uint32_t size, PdfDocument *document) {
    if (size > (uint32_t)kPdfMaxFileSize) {
        // Too large for any PDF (and for a 32-bit signed size): refused unread, like any page
        // the builder refuses, so it stays in the spool rather than being deleted.
        printf("Add JPEG into PDF Skipped. Reason: PDF would be larger than %d bytes.\n",
               kPdfMaxFileSize);
        return PAGE_REFUSED;
    }
    unsigned char *block = nullptr;
    uint32_t read = 0;
    int noMemory = 0;
    bool grown = false; // the file has more bytes than the listing said
    if (size > 0) {
        block = (unsigned char *)malloc(size);
        if (block == nullptr) {
            noMemory = 1;
        } else {
            FILE *file = fopen(path, "rb");
            if (file != nullptr) {
                read = (uint32_t)fread(block, 1, size, file);
                unsigned char more;
                grown = read == size && fread(&more, 1, 1, file) == 1;
                fclose(file);
            }
        }
    }
    if (read != size) {
        printf("Warning: File %s should be %d Bytes. But only read in %d Bytes.\n", path, (int)size,
               (int)read);
    }

    if ((read > 0 && read < size) || grown) {
        // The file is not the one the listing saw (only part of it came through, or it has
        // grown since): a page made of it would be cut short and the file deleted with it.
        // Keep it whole in the spool for a later run instead.
        free(block);
        return PAGE_REFUSED;
    }

    PageIntakeResult result;
    uint16_t width = 0;
    uint16_t height = 0;
    unsigned char isColour = 1;
    if (GetJfifImageSize(block, read, &width, &height, &isColour)) {
        printf("Adding %s (%dx%d) into PDF\n", path, (int)width, (int)height);
        result = AddJpegPage(document, width, height, (int32_t)read, block, isColour) == 0
                     ? PAGE_ADDED
                     : PAGE_REFUSED;
    } else {
        printf("Warning: Can't obtain image dimension from %s. Skipped.\n", path);
        result = noMemory ? PAGE_REFUSED : PAGE_UNUSABLE;
    }
    if (block != nullptr) {
        free(block);
    }
    return result;
}
