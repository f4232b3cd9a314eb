// The PWG raster decoder: takes a document's bytes as they arrive, checks each page header
// against what the printer advertises, expands each page's compressed lines into one page of
// pixels (one page in memory at a time, its bytes taken from the printer's page memory budget,
// printer/page_memory.h, for as long as it is decoded and handed over) and hands each finished
// page to a sink. What it takes
// is what the printer's capabilities record lists. Refuses what
// it does not advertise and any run or line repeat that would cross its line or its page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "printer/page_memory.h"

const uint32_t kRasterHeaderBytes = 1796;
const uint32_t kRasterMaxPages = 10000;

enum RasterResult {
    RASTER_OK = 0,
    RASTER_BAD_SYNC = 1,           // not a PWG raster stream
    RASTER_UNSUPPORTED_HEADER = 2, // resolution, colour space, bits, order or BytesPerLine
    RASTER_PAGE_TOO_LARGE = 3,     // wider or taller than every page size
    RASTER_RUN_CROSSES_LINE = 4,
    RASTER_REPEAT_CROSSES_PAGE = 5,
    RASTER_TOO_MANY_PAGES = 6,
    RASTER_CUT_SHORT = 7,   // the document ended inside a header or a page
    RASTER_SINK_FAILED = 8, // the page could not be kept
};

struct RasterType;

// A finished page: pixels top line first, 1 (grey) or 3 (RGB) bytes per pixel.
struct RasterPage {
    uint32_t width = 0, height = 0, resolution = 0, components = 0;
    const unsigned char *pixels = nullptr;
    const RasterType *type = nullptr; // its raster type, one of the printer's capabilities
};

// Called with each finished page, in order; returns non-zero when the page is kept.
typedef int (*RasterPageSink)(void *context, const RasterPage &page);

// The decoder's state between two pieces of a document.
struct RasterDecoder {
    RasterPageSink sink = nullptr;
    void *context = nullptr;
    int state = 0;
    RasterResult result = RASTER_OK;
    unsigned char header[kRasterHeaderBytes];
    uint32_t have = 0; // bytes of the sync word, the header or the pixel gathered so far
    RasterPage page;
    uint32_t bytesPerPixel = 0, bytesPerLine = 0;
    uint32_t line = 0, repeat = 0, x = 0, run = 0;
    unsigned char pixel[3];
    std::vector<unsigned char> pixels; // the page being decoded
    PageMemory memory;                 // its share of the budget
    uint32_t pages = 0;
};

// Makes decoder ready for a new document whose pages go to sink.
void StartRasterDecoder(RasterDecoder *decoder, RasterPageSink sink, void *context);

// Decodes the next count bytes; after a failure every later call returns the same result.
RasterResult FeedRaster(RasterDecoder *decoder, const unsigned char *bytes, size_t count);

// The document has ended: RASTER_OK when it ended between two pages.
RasterResult FinishRaster(RasterDecoder *decoder);

// Why a document was refused, as a short English phrase.
const char *RasterResultText(RasterResult result);
