// The page encoder, over stb_image_write. It touches no file and no platform call, so it does
// not include the platform header (whose heap routing is for the platform's own calls).
#include "printer/jpeg_writer.h"

#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include "stb/stb_image_write.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

// stb's output callback: appends each piece to the string.
void Append(void *context, void *data, int size) {
    static_cast<std::string *>(context)->append(static_cast<const char *>(data), (size_t)size);
}

} // namespace

int EncodeJpegPage(const RasterPage &page, std::string *jpeg) {
    jpeg->clear();
    // stb writes SOI, a JFIF APP0, the tables and one baseline (SOF0) frame.
    return stbi_write_jpg_to_func(Append, jpeg, (int)page.width, (int)page.height,
                                  (int)page.components, page.pixels, kJpegQuality) != 0 &&
           !jpeg->empty();
}

std::string PrinterIconPng() {
    const int size = 128;
    std::vector<unsigned char> pixels((size_t)size * size, 255);
    auto fill = [&](int left, int top, int right, int bottom, unsigned char grey) {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                pixels[(size_t)y * size + x] = grey;
    };
    fill(24, 8, 104, 120, 40);  // the case
    fill(32, 16, 96, 104, 235); // the screen
    for (int line = 0; line < 8; ++line)
        fill(38, 24 + line * 10, line == 7 ? 70 : 90, 28 + line * 10, 120); // the text
    std::string png;
    stbi_write_png_to_func(Append, &png, size, size, 1, pixels.data(), size);
    return png;
}
