// The printer's capabilities: an e-reader's page, printed as an image.
#include "printer/capabilities.h"

#include <cstring>

namespace {

// 300 dpi by default: text stays crisp on the 300 ppi screens of current e-readers (a Letter page
// is then 2550 x 3300 pixels). 150 dpi, the program's page of 1275 x 1650, for small screens.
const int32_t kResolutions[] = {300, 150};
// Pages without margins, named as PWG 5101.1 names them.
const MediaSize kMedia[] = {{"na_letter_8.5x11in", 21590, 27940},
                            {"iso_a4_210x297mm", 21000, 29700}};
// PWG 5102.4 colour spaces: 18 sGray, 19 sRGB.
const RasterType kRasterTypes[] = {{"sgray_8", 18, 8, 1, "monochrome"},
                                   {"srgb_8", 19, 24, 3, "color"}};
// Windows' class driver converts what it prints to a format the printer lists; PWG raster is
// the one of ours it can make, so it is the preferred one.
const char *const kFormats[] = {"application/octet-stream", "image/jpeg", "image/pwg-raster"};
const char *const kCompressions[] = {"deflate", "gzip", "none"};

const Capabilities kCapabilities = {
    kResolutions,  sizeof kResolutions / sizeof *kResolutions,
    kMedia,        sizeof kMedia / sizeof *kMedia,
    kRasterTypes,  sizeof kRasterTypes / sizeof *kRasterTypes,
    kFormats,      sizeof kFormats / sizeof *kFormats,
    kFormats[0],   "image/pwg-raster",
    kCompressions, sizeof kCompressions / sizeof *kCompressions,
};

// Whether text is one of the count names.
bool Listed(const char *const *names, size_t count, const char *text) {
    for (size_t i = 0; i < count; ++i)
        if (strcmp(names[i], text) == 0)
            return true;
    return false;
}

// Hundredths of a millimetre at a resolution, in whole pixels rounded up.
uint32_t Pixels(int32_t hundredths, uint32_t resolution) {
    return (uint32_t)(((uint64_t)hundredths * resolution + 2539) / 2540);
}

} // namespace

const Capabilities &PrinterCapabilities() {
    return kCapabilities;
}

bool SupportsResolution(const Capabilities &capabilities, uint32_t resolution) {
    for (size_t i = 0; i < capabilities.resolutionCount; ++i)
        if ((uint32_t)capabilities.resolutions[i] == resolution)
            return true;
    return false;
}

bool SupportsFormat(const Capabilities &capabilities, const char *format) {
    return Listed(capabilities.formats, capabilities.formatCount, format);
}

bool SupportsCompression(const Capabilities &capabilities, const char *compression) {
    return Listed(capabilities.compressions, capabilities.compressionCount, compression);
}

const RasterType *FindRasterType(const Capabilities &capabilities, uint32_t colorSpace,
                                 uint32_t bitsPerPixel, uint32_t colours) {
    for (size_t i = 0; i < capabilities.rasterTypeCount; ++i) {
        const RasterType &type = capabilities.rasterTypes[i];
        if (type.colorSpace == colorSpace && type.bitsPerPixel == bitsPerPixel &&
            type.colours == colours)
            return &type;
    }
    return nullptr;
}

uint32_t MaxPageWidth(const Capabilities &capabilities, uint32_t resolution) {
    int32_t widest = 0;
    for (size_t i = 0; i < capabilities.mediaCount; ++i)
        widest = capabilities.media[i].width > widest ? capabilities.media[i].width : widest;
    return Pixels(widest, resolution);
}

uint32_t MaxPageHeight(const Capabilities &capabilities, uint32_t resolution) {
    int32_t tallest = 0;
    for (size_t i = 0; i < capabilities.mediaCount; ++i)
        tallest = capabilities.media[i].height > tallest ? capabilities.media[i].height : tallest;
    return Pixels(tallest, resolution);
}
