// libFuzzer target for the PWG raster decoder: any input, cut in two at a place the input
// chooses, is decoded without reading or writing out of bounds; every page handed over has the
// size and kind the printer takes, and its pixels are all readable.
#include "printer/raster.h"

#include <cstdlib>
#include <vector>

namespace {

// Checks a page and reads all of its pixels.
int Check(void *context, const RasterPage &page) {
    if (page.width == 0 || page.height == 0 || page.width > 2550 || page.height > 3508 ||
        (page.components != 1 && page.components != 3) ||
        (page.resolution != 150 && page.resolution != 300))
        std::abort();
    unsigned sum = 0;
    for (size_t i = 0, n = (size_t)page.width * page.height * page.components; i < n; ++i)
        sum += page.pixels[i];
    *static_cast<unsigned *>(context) += sum;
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    size_t cut = data[0] % size; // the first byte chooses where the document is cut in two
    std::vector<unsigned char> first(data + 1, data + 1 + (cut > 0 ? cut - 1 : 0));
    std::vector<unsigned char> second(data + first.size() + 1, data + size);
    unsigned sum = 0;
    RasterDecoder decoder;
    StartRasterDecoder(&decoder, Check, &sum);
    RasterResult result = FeedRaster(&decoder, first.data(), first.size());
    if (result == RASTER_OK)
        result = FeedRaster(&decoder, second.data(), second.size());
    if (result == RASTER_OK)
        FinishRaster(&decoder);
    else if (FeedRaster(&decoder, second.data(), second.size()) != result)
        std::abort(); // a refused document stays refused
    return 0;
}
