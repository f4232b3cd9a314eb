// The page encoder, over libjpeg-turbo; the icon over stb_image_write. It touches no file and no
// platform call, so it does not include the platform header (whose heap routing is for the
// platform's own calls).
#include "printer/jpeg_writer.h"

#include "common/spool_contract.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

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

// libjpeg reports a fault by calling error_exit, which must not return: it jumps back to the
// encoder, which gives the page up. Its warnings and messages are not printed. The JPEG grows
// in a buffer of ours (libjpeg's own memory destination frees its first buffer when it grows,
// which a caller cannot tell after a fault), doubled as it fills.
struct Encoder {
    jpeg_compress_struct compress;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    jmp_buf fault;
    unsigned char *bytes;
    size_t capacity, size;
};

Encoder *EncoderOf(j_compress_ptr compress) {
    return static_cast<Encoder *>(compress->client_data);
}

void GiveUp(j_common_ptr common) {
    longjmp(static_cast<Encoder *>(common->client_data)->fault, 1);
}

void Quiet(j_common_ptr) {}

const size_t kFirstBuffer = 256 * 1024;

void StartBuffer(j_compress_ptr compress) {
    Encoder *encoder = EncoderOf(compress);
    encoder->bytes = static_cast<unsigned char *>(malloc(kFirstBuffer));
    if (encoder->bytes == nullptr)
        longjmp(encoder->fault, 1);
    encoder->capacity = kFirstBuffer;
    encoder->destination.next_output_byte = encoder->bytes;
    encoder->destination.free_in_buffer = kFirstBuffer;
}

// Called when the buffer is full, whatever free_in_buffer says.
boolean GrowBuffer(j_compress_ptr compress) {
    Encoder *encoder = EncoderOf(compress);
    unsigned char *grown =
        static_cast<unsigned char *>(realloc(encoder->bytes, encoder->capacity * 2));
    if (grown == nullptr)
        longjmp(encoder->fault, 1); // the old buffer is still ours, and freed
    encoder->bytes = grown;
    encoder->destination.next_output_byte = grown + encoder->capacity;
    encoder->destination.free_in_buffer = encoder->capacity;
    encoder->capacity *= 2;
    return TRUE;
}

void EndBuffer(j_compress_ptr compress) {
    Encoder *encoder = EncoderOf(compress);
    encoder->size = encoder->capacity - encoder->destination.free_in_buffer;
}

// Everything between setjmp and the jump back lives in *encoder, never in a local variable.
int Encode(Encoder *encoder, const RasterPage &page) {
    jpeg_compress_struct *compress = &encoder->compress;
    if (setjmp(encoder->fault))
        return 0;
    jpeg_create_compress(compress);
    encoder->destination.init_destination = StartBuffer;
    encoder->destination.empty_output_buffer = GrowBuffer;
    encoder->destination.term_destination = EndBuffer;
    compress->dest = &encoder->destination;
    compress->image_width = page.width;
    compress->image_height = page.height;
    compress->input_components = (int)page.components;
    compress->in_color_space = page.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    // Grey stays one component; RGB becomes YCbCr with its colour at half resolution each way.
    jpeg_set_defaults(compress);
    jpeg_set_quality(compress, kJpegQuality, TRUE);
    compress->dct_method = JDCT_ISLOW;
    compress->write_JFIF_header = TRUE;
    compress->density_unit = 1; // dots per inch
    compress->X_density = compress->Y_density = (UINT16)page.resolution;
    jpeg_start_compress(compress, TRUE);
    const size_t stride = (size_t)page.width * page.components;
    while (compress->next_scanline < compress->image_height) {
        JSAMPROW line = const_cast<JSAMPROW>(page.pixels + compress->next_scanline * stride);
        jpeg_write_scanlines(compress, &line, 1);
    }
    jpeg_finish_compress(compress);
    return 1;
}

} // namespace

void InsertTitleSegment(std::string *jpeg, const std::string &title) {
    if (title.empty() || jpeg->size() < 2 || (unsigned char)(*jpeg)[0] != 0xFF ||
        (unsigned char)(*jpeg)[1] != 0xD8)
        return;
    // The title is at most kPageTitleBytes, so the segment's length always fits its 16 bits.
    std::string text = std::string(kPageTitlePrefix) + title.substr(0, kPageTitleBytes);
    size_t length = text.size() + 2;
    std::string segment = {(char)0xFF, (char)0xFE, (char)(length >> 8), (char)(length & 0xFF)};
    // A JFIF file keeps its APP0 segment first, right after the start of image.
    size_t at = 2;
    if (jpeg->size() >= 6 && (unsigned char)(*jpeg)[2] == 0xFF &&
        (unsigned char)(*jpeg)[3] == 0xE0) {
        size_t app0 = (size_t)(unsigned char)(*jpeg)[4] << 8 | (unsigned char)(*jpeg)[5];
        if (app0 >= 2 && 4 + app0 <= jpeg->size())
            at = 4 + app0;
    }
    jpeg->insert(at, segment + text);
}

int EncodeJpegPage(const RasterPage &page, std::string *jpeg, const std::string &title) {
    jpeg->clear();
    if ((page.components != 1 && page.components != 3) || page.width == 0 || page.height == 0 ||
        page.resolution == 0 || page.resolution > 65535)
        return 0;
    Encoder *encoder = static_cast<Encoder *>(calloc(1, sizeof(Encoder)));
    if (encoder == nullptr)
        return 0;
    encoder->compress.err = jpeg_std_error(&encoder->errors);
    encoder->errors.error_exit = GiveUp;
    encoder->errors.output_message = Quiet;
    encoder->compress.client_data = encoder;
    int encoded = Encode(encoder, page);
    jpeg_destroy_compress(&encoder->compress);
    if (encoded) {
        jpeg->assign(reinterpret_cast<const char *>(encoder->bytes), encoder->size);
        InsertTitleSegment(jpeg, title);
    }
    free(encoder->bytes);
    free(encoder);
    return encoded && !jpeg->empty();
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
