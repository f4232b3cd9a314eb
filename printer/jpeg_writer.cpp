// The page encoder, over stb_image_write. It touches no file and no platform call, so it does
// not include the platform header (whose heap routing is for the platform's own calls).
#include "printer/jpeg_writer.h"

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
