// What the printer can do, in one record: its resolutions, page sizes, raster types, document
// formats and compressions. The attributes it advertises and the checks of what it takes
// (request attributes, raster page headers) both read this record, so that the two agree.
#pragma once

#include <cstddef>
#include <cstdint>

// A page size: its PWG self-describing name and its size in hundredths of a millimetre.
struct MediaSize {
    const char *name;
    int32_t width, height;
};

// A PWG raster type: its keyword, the header's colour space, bits per pixel and colours, and the
// print-color-mode that chooses it.
struct RasterType {
    const char *keyword;
    uint32_t colorSpace, bitsPerPixel, colours;
    const char *colorMode;
};

// The record. The first of each list is the default.
struct Capabilities {
    const int32_t *resolutions; // dots per inch, the same across and down
    size_t resolutionCount;
    const MediaSize *media;
    size_t mediaCount;
    const RasterType *rasterTypes;
    size_t rasterTypeCount;
    const char *const *formats; // document-format-supported
    size_t formatCount;
    const char *formatDefault, *formatPreferred;
    const char *const *compressions; // compression-supported
    size_t compressionCount;
};

// The printer's capabilities.
const Capabilities &PrinterCapabilities();

// Whether the record holds a resolution, a format or a compression.
bool SupportsResolution(const Capabilities &capabilities, uint32_t resolution);
bool SupportsFormat(const Capabilities &capabilities, const char *format);
bool SupportsCompression(const Capabilities &capabilities, const char *compression);

// The raster type of a page header's colour space, bits per pixel and colours, or null.
const RasterType *FindRasterType(const Capabilities &capabilities, uint32_t colorSpace,
                                 uint32_t bitsPerPixel, uint32_t colours);

// The widest and tallest page of any size at a resolution, in pixels (rounded up).
uint32_t MaxPageWidth(const Capabilities &capabilities, uint32_t resolution);
uint32_t MaxPageHeight(const Capabilities &capabilities, uint32_t resolution);
