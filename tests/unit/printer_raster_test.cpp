// The PWG raster decoder and the page encoder: documents made by a small encoder here come back
// pixel for pixel however they are cut into pieces; every header, run and repeat that the
// printer does not take is refused.
#include "pdf/jpeg_intake.h"
#include "pdf/pdf_document.h"
#include "printer/jpeg_writer.h"
#include "printer/raster.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <jpeglib.h>

namespace {

struct Page {
    uint32_t width, height, resolution, components;
    std::vector<unsigned char> pixels;
};

void Put(std::string *header, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*header)[offset + i] = (char)(value >> (24 - 8 * i));
}

// A page header as a client would send it; fields by their offsets.
std::string Header(const Page &page) {
    std::string header(kRasterHeaderBytes, '\0');
    bool grey = page.components == 1;
    Put(&header, 276, page.resolution);
    Put(&header, 280, page.resolution);
    Put(&header, 372, page.width);
    Put(&header, 376, page.height);
    Put(&header, 384, 8);
    Put(&header, 388, grey ? 8 : 24);
    Put(&header, 392, page.width * page.components);
    Put(&header, 396, 0);
    Put(&header, 400, grey ? 18 : 19);
    Put(&header, 420, page.components);
    return header;
}

bool SamePixel(const Page &page, size_t a, size_t b) {
    return std::equal(page.pixels.begin() + a * page.components,
                      page.pixels.begin() + (a + 1) * page.components,
                      page.pixels.begin() + b * page.components);
}

// Encodes a page's lines: identical lines as one with a repeat count, runs of a pixel as a
// repeat, the rest as literal runs.
std::string Encode(const Page &page) {
    std::string out = Header(page);
    size_t width = page.width, bpp = page.components;
    for (size_t y = 0; y < page.height;) {
        size_t repeat = 1;
        while (y + repeat < page.height && repeat < 256 &&
               std::equal(page.pixels.begin() + y * width * bpp,
                          page.pixels.begin() + (y + 1) * width * bpp,
                          page.pixels.begin() + (y + repeat) * width * bpp))
            ++repeat;
        out += (char)(repeat - 1);
        size_t row = y * width;
        for (size_t x = 0; x < width;) {
            size_t run = 1;
            while (x + run < width && run < 128 && SamePixel(page, row + x, row + x + run))
                ++run;
            size_t literal = 1;
            while (run == 1 && x + literal < width && literal < 128 &&
                   !(x + literal + 1 < width &&
                     SamePixel(page, row + x + literal, row + x + literal + 1)))
                ++literal;
            size_t count = run > 1 ? run : literal;
            out += (char)(run > 1 || literal == 1 ? count - 1 : 257 - count);
            out.append((const char *)page.pixels.data() + (row + x) * bpp,
                       (run > 1 ? 1 : count) * bpp);
            x += count;
        }
        y += repeat;
    }
    return out;
}

// A page with flat bands (line repeats), long runs and noise (literal runs).
Page Make(uint32_t width, uint32_t height, uint32_t resolution, uint32_t components, int seed) {
    Page page{width, height, resolution, components, {}};
    page.pixels.resize((size_t)width * height * components);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < components; ++c)
                page.pixels[((size_t)y * width + x) * components + c] =
                    (unsigned char)(y % 5 == 0      ? 200
                                    : x < width / 3 ? seed + c
                                                    : (x * 7 + y * 13 + seed * c) % 251);
    return page;
}

std::string Document(const std::vector<Page> &pages) {
    std::string out = "RaS2";
    for (const Page &page : pages)
        out += Encode(page);
    return out;
}

// What the decoder handed to its sink.
struct Received {
    std::vector<Page> pages;
    int keep = 1000000; // pages the sink accepts
};

int Keep(void *context, const RasterPage &page) {
    Received *received = static_cast<Received *>(context);
    if ((int)received->pages.size() >= received->keep)
        return 0;
    received->pages.push_back(
        {page.width, page.height, page.resolution, page.components,
         std::vector<unsigned char>(page.pixels, page.pixels + (size_t)page.width * page.height *
                                                                   page.components)});
    return 1;
}

// Decodes bytes in pieces of the given size; returns the feed's result, then the finish's.
std::pair<RasterResult, RasterResult> Decode(const std::string &bytes, size_t piece,
                                             Received *received) {
    RasterDecoder decoder;
    StartRasterDecoder(&decoder, Keep, received);
    RasterResult fed = RASTER_OK;
    for (size_t at = 0; at < bytes.size() && fed == RASTER_OK; at += piece) {
        std::vector<unsigned char> block(bytes.begin() + at,
                                         bytes.begin() + std::min(bytes.size(), at + piece));
        fed = FeedRaster(&decoder, block.data(), block.size());
    }
    return {fed, FinishRaster(&decoder)};
}

TEST(RasterDecoder, PagesComeBackWholeHoweverTheDocumentIsCut) {
    std::vector<Page> pages = {Make(300, 40, 150, 1, 1), Make(257, 9, 300, 3, 2),
                               Make(1, 1, 150, 1, 3), Make(130, 300, 150, 1, 4)};
    std::string document = Document(pages);
    for (size_t piece : {document.size(), (size_t)1, (size_t)7, (size_t)1796, (size_t)4097}) {
        Received received;
        auto result = Decode(document, piece, &received);
        EXPECT_EQ(result.first, RASTER_OK) << piece;
        EXPECT_EQ(result.second, RASTER_OK) << piece;
        ASSERT_EQ(received.pages.size(), pages.size()) << piece;
        for (size_t k = 0; k < pages.size(); ++k) {
            EXPECT_EQ(received.pages[k].width, pages[k].width);
            EXPECT_EQ(received.pages[k].resolution, pages[k].resolution);
            EXPECT_EQ(received.pages[k].components, pages[k].components);
            EXPECT_TRUE(received.pages[k].pixels == pages[k].pixels) << "page " << k + 1;
        }
    }
}

TEST(RasterDecoder, ABlankRestOfLineIsWhite) {
    Page page = Make(10, 2, 150, 3, 5);
    std::string bytes = "RaS2" + Header(page) + "\x01\x02\x10\x20\x30\x80"; // 3 pixels, then blank
    Received received;
    EXPECT_EQ(Decode(bytes, bytes.size(), &received), std::make_pair(RASTER_OK, RASTER_OK));
    ASSERT_EQ(received.pages.size(), 1u);
    std::vector<unsigned char> line = {0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x10, 0x20, 0x30};
    line.resize(30, 0xFF);
    line.insert(line.end(), line.begin(), line.end());
    EXPECT_TRUE(received.pages[0].pixels == line);
}

// A document may end before its first page or between two, never inside a header or a page.
TEST(RasterDecoder, EveryCutInsideAPageIsCutShort) {
    std::vector<Page> pages = {Make(20, 6, 150, 1, 1), Make(9, 4, 300, 3, 2)};
    std::string document = Document(pages);
    size_t firstEnds = 4 + Encode(pages[0]).size();
    for (size_t count = 1; count < document.size(); ++count) {
        Received received;
        auto result = Decode(document.substr(0, count), 1, &received);
        bool between = count == 4 || count == firstEnds;
        EXPECT_EQ(result.first, RASTER_OK) << count;
        EXPECT_EQ(result.second, between ? RASTER_OK : RASTER_CUT_SHORT) << count;
        EXPECT_EQ(received.pages.size(), count >= firstEnds ? 1u : 0u) << count;
    }
}

TEST(RasterDecoder, HeadersNotAdvertisedAreRefused) {
    Page grey = Make(8, 2, 150, 1, 1);
    const std::tuple<const char *, size_t, uint32_t, RasterResult> cases[] = {
        {"600 dpi", 276, 600, RASTER_UNSUPPORTED_HEADER},
        {"unequal resolutions", 280, 300, RASTER_UNSUPPORTED_HEADER},
        {"16 bits a colour", 384, 16, RASTER_UNSUPPORTED_HEADER},
        {"16 bits a pixel", 388, 16, RASTER_UNSUPPORTED_HEADER},
        {"bytes per line one short", 392, 7, RASTER_UNSUPPORTED_HEADER},
        {"banded colour order", 396, 1, RASTER_UNSUPPORTED_HEADER},
        {"black colour space", 400, 3, RASTER_UNSUPPORTED_HEADER},
        {"sRGB with one colour", 400, 19, RASTER_UNSUPPORTED_HEADER},
        {"two colours", 420, 2, RASTER_UNSUPPORTED_HEADER},
        {"no width", 372, 0, RASTER_UNSUPPORTED_HEADER},
        {"no height", 376, 0, RASTER_UNSUPPORTED_HEADER},
        {"wider than Letter at 150 dpi", 372, 1276, RASTER_PAGE_TOO_LARGE},
        {"taller than A4 at 150 dpi", 376, 1755, RASTER_PAGE_TOO_LARGE},
        {"a width past 32 bits of bytes", 372, 0x80000000u, RASTER_PAGE_TOO_LARGE},
    };
    for (const auto &entry : cases) {
        std::string header = Header(grey);
        Put(&header, std::get<1>(entry), std::get<2>(entry));
        Received received;
        EXPECT_EQ(Decode("RaS2" + header, 100, &received).first, std::get<3>(entry))
            << std::get<0>(entry);
    }
    Received received;
    EXPECT_EQ(Decode("RaS3", 4, &received).first, RASTER_BAD_SYNC);
    // The largest pages pass: Letter's width and A4's height at 300 and at 150 dpi.
    for (Page page : {Page{2550, 3508, 300, 3, {}}, Page{1275, 1754, 150, 1, {}}})
        EXPECT_EQ(Decode("RaS2" + Header(page), 4096, &received).first, RASTER_OK);
    for (Page page : {Page{2551, 10, 300, 3, {}}, Page{10, 3509, 300, 1, {}}})
        EXPECT_EQ(Decode("RaS2" + Header(page), 4096, &received).first, RASTER_PAGE_TOO_LARGE);
}

TEST(RasterDecoder, RunsAndRepeatsThatCrossTheirLineOrPageAreRefused) {
    using namespace std::string_literals;
    std::string grey = "RaS2" + Header(Make(4, 3, 150, 1, 1));
    std::string rgb = "RaS2" + Header(Make(4, 3, 150, 3, 1));
    const std::tuple<const char *, std::string, RasterResult> cases[] = {
        {"a repeat of 5 pixels in a line of 4", grey + "\x00\x04\x11"s, RASTER_RUN_CROSSES_LINE},
        {"a literal run of 5 pixels", grey + "\x00\xFC"s, RASTER_RUN_CROSSES_LINE},
        {"a run after 3 pixels that needs 2", grey + "\x00\x02\x11\x01\x22"s,
         RASTER_RUN_CROSSES_LINE},
        {"an RGB literal run of 5 pixels", rgb + "\x00\xFC"s, RASTER_RUN_CROSSES_LINE},
        {"4 copies of a line on a page of 3", grey + "\x03"s, RASTER_REPEAT_CROSSES_PAGE},
        {"2 copies of the last line", grey + "\x01\x03\x11"s + "\x01", RASTER_REPEAT_CROSSES_PAGE},
        {"a repeat of 256 lines", grey + "\xFF"s, RASTER_REPEAT_CROSSES_PAGE},
    };
    for (const auto &entry : cases) {
        Received received;
        EXPECT_EQ(Decode(std::get<1>(entry), 1, &received).first, std::get<2>(entry))
            << std::get<0>(entry);
        EXPECT_TRUE(received.pages.empty()) << std::get<0>(entry);
    }
    // Exactly to the end of the line and of the page passes.
    Received received;
    EXPECT_EQ(Decode(grey + "\x02\x03\x11"s, 1, &received), std::make_pair(RASTER_OK, RASTER_OK));
    EXPECT_EQ(received.pages.size(), 1u);
}

TEST(RasterDecoder, TenThousandPagesPassAndOneMoreDoesNot) {
    std::string page = Encode(Make(1, 1, 150, 1, 1));
    std::string document = "RaS2";
    document.reserve(4 + page.size() * (kRasterMaxPages + 1));
    for (uint32_t k = 0; k < kRasterMaxPages; ++k)
        document += page;
    Received received;
    EXPECT_EQ(Decode(document, 1 << 16, &received), std::make_pair(RASTER_OK, RASTER_OK));
    EXPECT_EQ(received.pages.size(), kRasterMaxPages);
    received.pages.clear();
    EXPECT_EQ(Decode(document + page, 1 << 16, &received).first, RASTER_TOO_MANY_PAGES);
}

TEST(RasterDecoder, APageTheSinkCannotKeepEndsTheDocument) {
    std::string document = Document({Make(5, 5, 150, 1, 1), Make(5, 5, 150, 1, 2)});
    Received received;
    received.keep = 1;
    EXPECT_EQ(Decode(document, 3, &received).first, RASTER_SINK_FAILED);
    EXPECT_EQ(received.pages.size(), 1u);
}

// A page holds its share of the printer's page memory while it is decoded and handed over,
// and not a moment longer, however its document ends; one that does not fit waits for it.
int KeepAndCountMemory(void *context, const RasterPage &page) {
    *static_cast<size_t *>(context) = PageMemoryInUse();
    return page.width > 0;
}

TEST(RasterDecoder, APageHoldsItsShareOfThePageMemoryOnlyWhileItIsDecoded) {
    Page page = Make(40, 30, 150, 3, 1);
    std::string document = Document({page});
    size_t bytes = (size_t)40 * 30 * 3, inSink = 0;
    {
        RasterDecoder decoder;
        StartRasterDecoder(&decoder, KeepAndCountMemory, &inSink);
        const unsigned char *data = (const unsigned char *)document.data();
        ASSERT_EQ(FeedRaster(&decoder, data, document.size() - 5), RASTER_OK);
        EXPECT_EQ(PageMemoryInUse(), bytes) << "inside the page";
        ASSERT_EQ(FeedRaster(&decoder, data + document.size() - 5, 5), RASTER_OK);
        EXPECT_EQ(inSink, bytes) << "while the sink has it";
        EXPECT_EQ(PageMemoryInUse(), 0u) << "once the sink is done";
        FeedRaster(&decoder, data + 4, document.size() - 5); // a second page, cut
        EXPECT_EQ(PageMemoryInUse(), bytes);
        EXPECT_EQ(FinishRaster(&decoder), RASTER_CUT_SHORT);
        EXPECT_EQ(PageMemoryInUse(), 0u) << "a document cut inside a page";
        FeedRaster(&decoder, data + 4, document.size() - 5);
        StartRasterDecoder(&decoder, KeepAndCountMemory, &inSink);
        EXPECT_EQ(PageMemoryInUse(), 0u) << "a decoder started again";
        StartRasterDecoder(&decoder, KeepAndCountMemory, &inSink);
        FeedRaster(&decoder, data, document.size() - 5);
    }
    EXPECT_EQ(PageMemoryInUse(), 0u) << "a decoder let go of inside a page";

    PageMemory all;
    TakePageMemory(&all, kPageMemoryBytes);
    std::atomic<bool> begun(false);
    std::thread other([&] {
        RasterDecoder decoder;
        StartRasterDecoder(&decoder, KeepAndCountMemory, &inSink);
        FeedRaster(&decoder, (const unsigned char *)document.data(), 4 + kRasterHeaderBytes);
        begun = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(begun) << "a page that does not fit waits";
    ReleasePageMemory(&all);
    other.join();
    EXPECT_TRUE(begun);
    EXPECT_EQ(PageMemoryInUse(), 0u);
}

// What a decoder reads of a JPEG: "components colour-space density-unit x y", and the pixel at
// (x, y) in *pixel (as many bytes as components).
std::string ReadBack(const std::string &jpeg, uint32_t x, uint32_t y, std::vector<int> *pixel) {
    jpeg_decompress_struct decompress;
    jpeg_error_mgr errors;
    decompress.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&decompress);
    jpeg_mem_src(&decompress, (const unsigned char *)jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&decompress, TRUE);
    const std::string seen = std::to_string(decompress.num_components) +
                             (decompress.jpeg_color_space == JCS_GRAYSCALE ? " grey "
                              : decompress.jpeg_color_space == JCS_YCbCr   ? " YCbCr "
                                                                           : " other ") +
                             std::to_string(decompress.density_unit) + " " +
                             std::to_string(decompress.X_density) + " " +
                             std::to_string(decompress.Y_density);
    jpeg_start_decompress(&decompress);
    std::vector<unsigned char> line((size_t)decompress.output_width * decompress.output_components);
    while (decompress.output_scanline < decompress.output_height) {
        unsigned char *row = line.data();
        const uint32_t at = decompress.output_scanline;
        jpeg_read_scanlines(&decompress, &row, 1);
        if (at == y)
            for (int c = 0; c < decompress.output_components; ++c)
                pixel->push_back(line[(size_t)x * decompress.output_components + c]);
    }
    jpeg_finish_decompress(&decompress);
    jpeg_destroy_decompress(&decompress);
    return seen;
}

// The encoder writes what the program takes: a baseline JFIF JPEG of the page's size, grey as
// one component, colour as YCbCr, at the page's resolution, whose pixels come back close.
TEST(PageEncoder, PagesBecomeBaselineJfifJpegsOfTheirSizeAndResolution) {
    const std::tuple<Page, std::string, unsigned char> cases[] = {
        {Make(1275, 1650, 150, 1, 1), "1 grey 1 150 150", kPdfGrey},
        {Make(2550, 3300, 300, 1, 90), "1 grey 1 300 300", kPdfGrey},
        {Make(37, 19, 300, 3, 60), "3 YCbCr 1 300 300", kPdfRgb},
        {Make(2480, 3508, 300, 3, 120), "3 YCbCr 1 300 300", kPdfRgb},
    };
    for (const auto &[page, seen, colour] : cases) {
        SCOPED_TRACE(seen + " " + std::to_string(page.width));
        RasterPage raster = {page.width, page.height, page.resolution, page.components,
                             page.pixels.data()};
        std::string jpeg;
        ASSERT_TRUE(EncodeJpegPage(raster, &jpeg));
        EXPECT_EQ(jpeg.compare(6, 5, std::string("JFIF\0", 5)), 0);
        uint16_t width = 0, height = 0;
        unsigned char isColour = kPdfRgb;
        EXPECT_EQ(GetJfifImageSize((const unsigned char *)jpeg.data(), (uint32_t)jpeg.size(),
                                   &width, &height, &isColour),
                  1);
        EXPECT_EQ(std::make_tuple(width, height, isColour),
                  std::make_tuple(page.width, page.height, colour));
        EXPECT_EQ(jpeg.find("\xFF\xC2"), std::string::npos); // no progressive frame
        // Inside the flat left third, away from the lines of 200: each value within 3.
        std::vector<int> pixel;
        EXPECT_EQ(ReadBack(jpeg, page.width / 6, 17, &pixel), seen);
        ASSERT_EQ(pixel.size(), page.components);
        for (uint32_t c = 0; c < page.components; ++c)
            EXPECT_NEAR(
                pixel[c],
                page.pixels[((size_t)17 * page.width + page.width / 6) * page.components + c], 3);
    }
    // What no page header the decoder passes can be: refused, nothing written.
    const Page grey = Make(8, 8, 300, 1, 1);
    for (RasterPage raster :
         {RasterPage{8, 8, 300, 2, grey.pixels.data()}, RasterPage{8, 8, 0, 1, grey.pixels.data()},
          RasterPage{0, 8, 300, 1, grey.pixels.data()}}) {
        std::string jpeg = "old";
        EXPECT_FALSE(EncodeJpegPage(raster, &jpeg));
        EXPECT_EQ(jpeg, "");
    }
}

} // namespace
