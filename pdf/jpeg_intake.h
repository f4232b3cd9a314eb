// The JPEG page intake: reads one spooled JPEG file, finds its pixel size in its first frame
// header (whatever segments come before it), and adds it as a page of a PdfDocument.
#pragma once

#include <cstdint>

struct PdfDocument;

// What became of one spooled file; the driver decides by it when the file may be deleted.
enum PageIntakeResult {
    PAGE_ADDED = 0,    // the file is a page of the document
    PAGE_UNUSABLE = 1, // empty, not readable at all, or no image size: dropped at once
    PAGE_REFUSED = 2,  // not now: page or size limit, no memory, or not the size listed
};

// Finds the pixel size of a JPEG that a PDF viewer draws (a baseline, extended sequential or
// progressive frame of 8-bit samples, with 1, 3 or 4 components, after any segments); reads only
// the first count bytes. Returns 1 and stores width and height when found, else 0 and stores
// nothing. When isColour is given it
// becomes kPdfGrey for a frame of one component, kPdfCmyk (kPdfCmykInverted after an Adobe
// APP14 segment) for four, and is left as it is otherwise.
int GetJfifImageSize(const unsigned char *bytes, uint32_t count, uint16_t *width, uint16_t *height,
                     unsigned char *isColour);

// Reads the file at path (size bytes, as listed) and offers it to the document as a page,
// reporting the file on the console. A file over kPdfMaxFileSize bytes is refused unread.
PageIntakeResult AddJpegFileAsPage(const char *path, uint32_t size, PdfDocument *document);
