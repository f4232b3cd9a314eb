// libFuzzer target for the JPEG size probe: the input is copied into a heap block of exactly its
// own size, so that reading one byte past the count is a sanitizer error.
#include "pdf/jpeg_intake.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// One probe of one input; a found size must come with both values stored.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > UINT32_MAX) {
        return 0;
    }
    unsigned char *block = (unsigned char *)std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        return 0;
    }
    if (size > 0) {
        std::memcpy(block, data, size);
    }
    // An empty input gets a block of one byte but a count of 0, so it still may not be read.
    uint16_t width = 0xBEEF;
    uint16_t height = 0xBEEF;
    unsigned char isColour = 1;
    JpegDensity density = {9, 9, 9};
    int found = GetJfifImageSize(block, (uint32_t)size, &width, &height, &isColour, &density);
    if (found != 0 && found != 1) {
        std::abort();
    }
    if (!found && (width != 0xBEEF || height != 0xBEEF || isColour != 1 || density.units != 9)) {
        std::abort(); // nothing may be stored without a size
    }
    int32_t widthPoints = -1, heightPoints = -1;
    if (found && PageSizeAtDensity(width, height, density, &widthPoints, &heightPoints) &&
        (widthPoints < 72 || heightPoints < 72 || widthPoints > 14400 || heightPoints > 14400)) {
        std::abort(); // a page of its own is 1 to 200 inches each way
    }
    std::free(block);
    return 0;
}
