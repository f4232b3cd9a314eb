// The PWG raster decoder.
#include "printer/raster.h"

#include <cstring>

#include "printer/capabilities.h"

namespace {

enum State { SYNC, HEADER, LINE_REPEAT, CONTROL, REPEAT_PIXEL, LITERAL, FAILED };

// Offsets of the header fields read, in bytes (each a big-endian 32-bit number).
const uint32_t kResolutionX = 276, kResolutionY = 280, kWidth = 372, kHeight = 376,
               kBitsPerColor = 384, kBitsPerPixel = 388, kBytesPerLine = 392, kColorOrder = 396,
               kColorSpace = 400, kNumColors = 420;
const uint32_t kChunkyOrder = 0; // cupsColorOrder: the colours of a pixel side by side

// A header field: a big-endian 32-bit number.
uint32_t Field(const unsigned char *header, uint32_t offset) {
    const unsigned char *p = header + offset;
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// Frees the page's pixels and hands back their share of the budget.
void LetGoOfPage(RasterDecoder *d) {
    d->pixels.clear();
    d->pixels.shrink_to_fit();
    ReleasePageMemory(&d->memory);
}

// Refuses the rest of the document and lets go of the page.
RasterResult Fail(RasterDecoder *d, RasterResult result) {
    d->state = FAILED;
    d->result = result;
    LetGoOfPage(d);
    return result;
}

// Checks the header just gathered and makes room for its page.
RasterResult BeginPage(RasterDecoder *d) {
    const unsigned char *h = d->header;
    const Capabilities &can = PrinterCapabilities();
    uint32_t resolution = Field(h, kResolutionX), space = Field(h, kColorSpace);
    uint32_t bits = Field(h, kBitsPerColor), pixelBits = Field(h, kBitsPerPixel);
    uint32_t colours = Field(h, kNumColors), width = Field(h, kWidth), height = Field(h, kHeight);
    const RasterType *type = FindRasterType(can, space, pixelBits, colours);
    if (!SupportsResolution(can, resolution) || Field(h, kResolutionY) != resolution || !type ||
        bits * colours != pixelBits || bits != 8 || Field(h, kColorOrder) != kChunkyOrder ||
        width == 0 || height == 0)
        return Fail(d, RASTER_UNSUPPORTED_HEADER);
    if (width > MaxPageWidth(can, resolution) || height > MaxPageHeight(can, resolution))
        return Fail(d, RASTER_PAGE_TOO_LARGE);
    d->bytesPerPixel = pixelBits / 8;
    d->bytesPerLine = width * d->bytesPerPixel;
    if (Field(h, kBytesPerLine) != d->bytesPerLine)
        return Fail(d, RASTER_UNSUPPORTED_HEADER);
    if (d->pages >= kRasterMaxPages)
        return Fail(d, RASTER_TOO_MANY_PAGES);
    d->page.width = width;
    d->page.height = height;
    d->page.resolution = resolution;
    d->page.components = d->bytesPerPixel;
    d->page.type = type;
    // Bounded by the checks above: at most the largest page at 300 dpi, 3 bytes a pixel. It
    // may wait here for other documents' pages.
    TakePageMemory(&d->memory, (size_t)d->bytesPerLine * height);
    d->pixels.resize((size_t)d->bytesPerLine * height);
    d->line = 0;
    d->state = LINE_REPEAT;
    return RASTER_OK;
}

// The current line is complete: copies it into the lines its repeat covers, and hands over the
// page when that was its last line.
RasterResult EndLine(RasterDecoder *d) {
    unsigned char *first = d->pixels.data() + (size_t)d->line * d->bytesPerLine;
    for (uint32_t k = 1; k < d->repeat; ++k)
        memcpy(first + (size_t)k * d->bytesPerLine, first, d->bytesPerLine);
    d->line += d->repeat;
    d->state = LINE_REPEAT;
    if (d->line < d->page.height)
        return RASTER_OK;
    d->page.pixels = d->pixels.data();
    ++d->pages;
    int kept = d->sink(d->context, d->page);
    LetGoOfPage(d);
    if (!kept)
        return Fail(d, RASTER_SINK_FAILED);
    d->state = HEADER;
    d->have = 0;
    return RASTER_OK;
}

// Where the next pixel of the current line goes.
unsigned char *LineAt(RasterDecoder *d) {
    return d->pixels.data() + (size_t)d->line * d->bytesPerLine + (size_t)d->x * d->bytesPerPixel;
}

} // namespace

void StartRasterDecoder(RasterDecoder *decoder, RasterPageSink sink, void *context) {
    decoder->sink = sink;
    decoder->context = context;
    decoder->state = SYNC;
    decoder->result = RASTER_OK;
    decoder->have = 0;
    decoder->pages = 0;
    LetGoOfPage(decoder);
}

RasterResult FeedRaster(RasterDecoder *d, const unsigned char *bytes, size_t count) {
    size_t at = 0;
    while (at < count) {
        switch (d->state) {
        case FAILED:
            return d->result;
        case SYNC:
            if (bytes[at++] != (unsigned char)"RaS2"[d->have++])
                return Fail(d, RASTER_BAD_SYNC);
            if (d->have == 4)
                d->state = HEADER, d->have = 0;
            break;
        case HEADER: {
            size_t take = count - at < kRasterHeaderBytes - d->have ? count - at
                                                                    : kRasterHeaderBytes - d->have;
            memcpy(d->header + d->have, bytes + at, take);
            d->have += (uint32_t)take;
            at += take;
            if (d->have == kRasterHeaderBytes && BeginPage(d) != RASTER_OK)
                return d->result;
            break;
        }
        case LINE_REPEAT:
            d->repeat = bytes[at++] + 1u;
            if (d->repeat > d->page.height - d->line)
                return Fail(d, RASTER_REPEAT_CROSSES_PAGE);
            d->x = 0;
            d->state = CONTROL;
            break;
        case CONTROL: {
            unsigned char control = bytes[at++];
            if (control == 128) {
                // The rest of the line is blank: white in both colour spaces.
                memset(LineAt(d), 0xFF, (size_t)(d->page.width - d->x) * d->bytesPerPixel);
                d->x = d->page.width;
            } else {
                uint32_t pixels = control < 128 ? control + 1u : 257u - control;
                if (pixels > d->page.width - d->x)
                    return Fail(d, RASTER_RUN_CROSSES_LINE);
                // A repeat gathers one pixel and counts pixels; a literal run counts bytes.
                d->have = 0;
                d->run = control < 128 ? pixels : pixels * d->bytesPerPixel;
                d->state = control < 128 ? REPEAT_PIXEL : LITERAL;
            }
            break;
        }
        case REPEAT_PIXEL:
            d->pixel[d->have++] = bytes[at++];
            if (d->have == d->bytesPerPixel) {
                // The pixel, then what is filled copied behind itself, doubling each time: a
                // copy per pixel cost more than the page's JPEG encoding.
                unsigned char *out = LineAt(d);
                const size_t total = (size_t)d->run * d->bytesPerPixel;
                size_t filled = d->bytesPerPixel;
                memcpy(out, d->pixel, filled);
                while (filled < total) {
                    const size_t more = filled < total - filled ? filled : total - filled;
                    memcpy(out + filled, out, more);
                    filled += more;
                }
                d->x += d->run;
                d->state = CONTROL;
            }
            break;
        case LITERAL: {
            size_t take = count - at < d->run - d->have ? count - at : d->run - d->have;
            memcpy(LineAt(d) + d->have, bytes + at, take);
            d->have += (uint32_t)take;
            at += take;
            if (d->have == d->run) {
                d->x += d->run / d->bytesPerPixel;
                d->state = CONTROL;
            }
            break;
        }
        }
        if (d->state == CONTROL && d->x == d->page.width && EndLine(d) != RASTER_OK)
            return d->result;
    }
    return d->state == FAILED ? d->result : RASTER_OK;
}

RasterResult FinishRaster(RasterDecoder *d) {
    if (d->state == FAILED)
        return d->result;
    if (d->state != HEADER || d->have != 0)
        return Fail(d, RASTER_CUT_SHORT);
    LetGoOfPage(d);
    return RASTER_OK;
}

const char *RasterResultText(RasterResult result) {
    switch (result) {
    case RASTER_OK:
        return "ok";
    case RASTER_BAD_SYNC:
        return "not PWG raster";
    case RASTER_UNSUPPORTED_HEADER:
        return "a page header that this printer does not support (resolution, colour space, "
               "bits, colour order or bytes per line)";
    case RASTER_PAGE_TOO_LARGE:
        return "a page larger than Letter and A4";
    case RASTER_RUN_CROSSES_LINE:
        return "a run of pixels that crosses the end of its line";
    case RASTER_REPEAT_CROSSES_PAGE:
        return "a line repeat that crosses the end of the page";
    case RASTER_TOO_MANY_PAGES:
        return "more than 10000 pages";
    case RASTER_CUT_SHORT:
        return "the document ends inside a page";
    case RASTER_SINK_FAILED:
        return "a page could not be kept";
    }
    return "?";
}
