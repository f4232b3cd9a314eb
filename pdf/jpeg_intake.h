// The JPEG page intake: reads one spooled JPEG file, finds its pixel size in its first frame
// header (whatever segments come before it) and the density its JFIF segment states, and adds it
// as a page of a PdfDocument: on the document's Letter page, or on a page of its own size.
#pragma once

#include <cstddef>
#include <cstdint>

struct PdfDocument;

// What became of one spooled file; the driver decides by it when the file may be deleted.
enum PageIntakeResult {
    PAGE_ADDED = 0,    // the file is a page of the document
    PAGE_UNUSABLE = 1, // empty, not readable at all, or no image size: dropped at once
    PAGE_REFUSED = 2,  // not now: page or size limit, no memory, or not the size listed
};

// The density of a JFIF APP0 segment: units 0 (an aspect ratio only), 1 (dots per inch) or 2
// (dots per centimetre), and the dots across and down per unit.
struct JpegDensity {
    unsigned char units;
    uint16_t x, y;
};

// Finds the pixel size of a JPEG that a PDF viewer draws (a baseline, extended sequential or
// progressive frame of 8-bit samples, with 1, 3 or 4 components, after any segments); reads only
// the first count bytes. Returns 1 and stores width and height when found, else 0 and stores
// nothing. When isColour is given it
// becomes kPdfGrey for a frame of one component, kPdfCmyk (kPdfCmykInverted after an Adobe
// APP14 segment) for four, and is left as it is otherwise. When density is given it becomes
// that of the first JFIF APP0 segment before the frame, and is left as it is without one.
// When title is given it becomes the page's title (valid UTF-8, see common/page_title.h): the
// text of the first comment segment before the frame that begins with kPageTitlePrefix, or
// empty without one.
int GetJfifImageSize(const unsigned char *bytes, uint32_t count, uint16_t *width, uint16_t *height,
                     unsigned char *isColour, JpegDensity *density = nullptr, char *title = nullptr,
                     size_t titleSize = 0);

// The page that a JPEG of width x height pixels at density is drawn on. 0: the document's own
// (US Letter), for a page that is Letter at its density within a pixel, or that states no
// usable density (no units, a zero, or a page that would be under 1 or over 200 inches).
// 1: a page of its own size, its pixels at the density in whole points (truncated), stored.
int PageSizeAtDensity(uint32_t width, uint32_t height, const JpegDensity &density,
                      int32_t *widthPoints, int32_t *heightPoints);

// Reads the file at path (size bytes, as listed) and offers it to the document as a page,
// reporting the file on the console. A file over kPdfMaxFileSize bytes is refused unread. When
// title is given it gets the page's title (empty when it has none, or was not added).
PageIntakeResult AddJpegFileAsPage(const char *path, uint32_t size, PdfDocument *document,
                                   char *title = nullptr, size_t titleSize = 0);
