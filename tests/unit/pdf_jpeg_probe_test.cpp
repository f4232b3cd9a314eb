// The JPEG size probe; each input sits in a heap block of exactly its size, so that the sanitizer
// build sees any read at or past the count.
#include "pdf/jpeg_intake.h"
#include "common/spool_contract.h"
#include "tests/support/machine.h"

#include <tuple>

namespace {

using namespace std::string_literals;

const std::string kColour = "1 1275x1650 colour", kGrey = "1 1275x1650 grey";
const std::string kCmyk = "1 1275x1650 cmyk", kInverted = "1 1275x1650 cmyk inverted";
const std::string kNothing = "0 48879x48879 colour"; // 0xBEEF: nothing stored
const char *const kModels[] = {" grey", " colour", " cmyk", " cmyk inverted"};

// Probes the first count bytes of input, copied into a heap block of exactly count bytes.
std::string Probe(const std::string &input, size_t count, unsigned char isColour = 1) {
    std::vector<unsigned char> block(input.begin(), input.begin() + count);
    uint16_t width = 0xBEEF, height = 0xBEEF;
    int found = GetJfifImageSize(block.data(), (uint32_t)count, &width, &height, &isColour);
    return std::to_string(found) + " " + std::to_string(width) + "x" + std::to_string(height) +
           (isColour < 4 ? kModels[isColour] : " other");
}

TEST(JpegProbe, HeaderLayoutsAndEveryCutOfAFile) {
    const std::string colour = SyntheticJpeg(1275, 1650, 3), grey = SyntheticJpeg(1275, 1650, 1);
    const size_t frame = colour.find("\xFF\xC0"), dqt = 20; // after SOI and APP0
    const std::string adobe = "\xFF\xEE\0\x0E"
                              "Adobe\0\x64\0\0\0\0\x02"s; // APP14
    const std::string inverted = std::string(SyntheticJpeg(1275, 1650, 4)).insert(dqt, adobe);
    const std::tuple<const char *, std::string, std::string> cases[] = {
        {"baseline colour", colour, kColour},
        {"greyscale", grey, kGrey},
        {"four components", SyntheticJpeg(1275, 1650, 4), kCmyk},
        {"four after Adobe's APP14", inverted, kInverted},
        {"Adobe's APP14 before three", std::string(colour).insert(dqt, adobe), kColour},
        {"APP14 of another maker", std::string(inverted).replace(dqt + 4, 5, "Adobf"), kCmyk},
        {"APP14 too short for its text",
         std::string(inverted).replace(dqt + 2, 2, "\0\x06"s).erase(dqt + 8, 8), kCmyk},
        {"component count cut off", grey.substr(0, frame + 9), kColour},
        {"largest sizes", SyntheticJpeg(65535, 65535), "1 65535x65535 colour"},
        {"no lines (given later in the scan)", SyntheticJpeg(1275, 0), kNothing},
        {"APP0 extension", std::string(colour).insert(dqt, "\xFF\xE0\0\x08JFXX\0\x10"s), kColour},
        {"APP1 before the frame", std::string(grey).insert(dqt, "\xFF\xE1\0\x04zz"s), kGrey},
        {"progressive", std::string(colour).replace(frame, 2, "\xFF\xC2"), kColour},
        {"extended sequential", std::string(colour).replace(frame, 2, "\xFF\xC1"), kColour},
        {"Exif first", std::string(colour).replace(3, 1, "\xE1"), kColour},
        {"no header at all", std::string(grey).erase(2, dqt - 2), kGrey},
        {"Adobe first", std::string(SyntheticJpeg(1275, 1650, 4)).replace(2, dqt - 2, adobe),
         kInverted},
        {"a comment first", std::string(grey).replace(3, 1, "\xFE"), kGrey},
        {"12-bit samples", std::string(colour).replace(frame + 4, 1, "\x0C"), kNothing},
        {"lossless", std::string(colour).replace(frame, 2, "\xFF\xC3"), kNothing},
        {"arithmetic coded", std::string(colour).replace(frame, 2, "\xFF\xC9"), kNothing},
        {"arithmetic progressive", std::string(colour).replace(frame, 2, "\xFF\xCA"), kNothing},
        {"hierarchical", std::string(colour).insert(dqt, "\xFF\xDE\0\x08\x08\x06\x72\x04\xFB\x03"s),
         kNothing},
        {"two components", SyntheticJpeg(1275, 1650, 2), kNothing},
        {"a scan before any frame", std::string(colour).replace(dqt, 2, "\xFF\xDA"), kNothing},
        {"end of image before the frame", colour.substr(0, dqt) + "\xFF\xD9", kNothing},
        {"no start of image", std::string(colour).replace(1, 1, "\xD9"), kNothing},
        {"APP0 length 0", std::string(colour).replace(4, 2, "\0\0"s), kNothing},
        {"segment length 0", std::string(colour).replace(dqt + 2, 2, "\0\0"s), kNothing},
        {"segment length 1", std::string(colour).replace(dqt + 2, 2, "\0\1"s), kNothing},
        {"fill byte before the frame", std::string(colour).insert(frame, "\xFF"), kColour},
        {"fill bytes before a segment", std::string(grey).insert(dqt, "\xFF\xFF\xFF"), kGrey},
        {"only fill bytes to the end", colour.substr(0, frame) + "\xFF\xFF\xFF", kNothing},
        {"not a JPEG", std::string(200, 'A'), kNothing},
    };
    for (const auto &[name, bytes, expected] : cases)
        EXPECT_EQ(Probe(bytes, bytes.size()), expected) << name;
    EXPECT_EQ(Probe(colour, colour.size(), 0), kGrey); // a clear flag stays clear
    for (size_t n = 0; n <= grey.size(); n++)          // every cut, from no bytes at all
        EXPECT_EQ(Probe(grey, n), n < frame + 9 ? kNothing : n == frame + 9 ? kColour : kGrey) << n;
    const size_t invertedFrame = frame + adobe.size();
    for (size_t n = 0; n <= inverted.size(); n++)
        EXPECT_EQ(Probe(inverted, n), n < invertedFrame + 9    ? kNothing
                                      : n == invertedFrame + 9 ? kColour
                                                               : kInverted)
            << n;
}

} // namespace

namespace {

// A JFIF APP0 of units and densities, in place of SyntheticJpeg's (units 0, 72 x 72).
std::string WithDensity(std::string jpeg, unsigned char units, uint16_t x, uint16_t y) {
    const char density[5] = {(char)units, (char)(x >> 8), (char)x, (char)(y >> 8), (char)y};
    return jpeg.replace(13, 5, density, 5);
}

// "units x y" or "none" as the probe stores it.
std::string DensityOf(const std::string &jpeg) {
    std::vector<unsigned char> block(jpeg.begin(), jpeg.end());
    JpegDensity density = {9, 9, 9};
    uint16_t width, height;
    if (!GetJfifImageSize(block.data(), (uint32_t)block.size(), &width, &height, nullptr, &density))
        return "no frame";
    return density.units == 9 ? "none"
                              : std::to_string(density.units) + " " + std::to_string(density.x) +
                                    " " + std::to_string(density.y);
}

TEST(JpegProbe, DensityOfTheJfifSegment) {
    using namespace std::string_literals;
    const std::string grey = SyntheticJpeg(2480, 3508, 1);
    const std::string a4 = WithDensity(grey, 1, 300, 300);
    const std::string jfxx = "\xFF\xE0\0\x08JFXX\0\x10"s;
    const std::pair<std::string, std::string> cases[] = {
        {SyntheticJpeg(1275, 1650), "0 72 72"},
        {a4, "1 300 300"},
        {WithDensity(grey, 2, 118, 59), "2 118 59"},
        {std::string(a4).erase(2, 18), "none"},                            // no APP0 at all
        {std::string(a4).replace(6, 4, "JFXX"), "none"},                   // another APP0
        {std::string(a4).insert(20, jfxx), "1 300 300"},                   // the first one counts
        {std::string(a4).replace(4, 2, "\0\x0F"s).erase(19, 1), "none"},   // too short for both
        {std::string(a4).replace(2, 0, "\xFF\xE1\0\x04zz"s), "1 300 300"}, // after Exif
    };
    for (const auto &[jpeg, expected] : cases)
        EXPECT_EQ(DensityOf(jpeg), expected) << expected;
    // A JFIF segment after the frame is no density of it.
    const std::string after =
        std::string(grey).erase(2, 18).insert(grey.find("\xFF\xDA") - 18, a4.substr(2, 18));
    EXPECT_EQ(DensityOf(after), "none");
}

// A comment segment of text, as the printer writes a title.
std::string Comment(const std::string &text) {
    size_t length = text.size() + 2;
    return "\xFF\xFE"s + (char)(length >> 8) + (char)(length & 0xFF) + text;
}

// The title the probe finds in jpeg ("no frame" when it finds no size).
std::string TitleOf(const std::string &jpeg) {
    std::vector<unsigned char> block(jpeg.begin(), jpeg.end());
    uint16_t width = 0, height = 0;
    char title[kPageTitleBytes + 1] = "unset";
    if (!GetJfifImageSize(block.data(), (uint32_t)block.size(), &width, &height, nullptr, nullptr,
                          title, sizeof title))
        return std::string("no frame") + (title[0] ? " (title left)" : "");
    return title;
}

// The title is the text of the first comment of ours before the frame, made valid UTF-8 and cut
// at 255 bytes between characters; other comments, and ours after the frame, are no title.
TEST(JpegProbe, TitleOfTheCommentSegment) {
    const std::string page = SyntheticJpeg(1275, 1650, 1);
    const std::string ours = "VellumTransit title: ";
    std::string long3; // 86 characters of three bytes: cut after 85 (255 bytes)
    for (int i = 0; i < 86; ++i)
        long3 += "\xE8\xB3\x87";
    const std::pair<std::string, std::string> cases[] = {
        {page, ""},
        {std::string(page).insert(2, Comment(ours + "GNU Libtasn1 Manual")), "GNU Libtasn1 Manual"},
        {std::string(page).insert(2, Comment(ours + "\xE4\xBC\x9A\xE8\xAD\xB0 2026")),
         "\xE4\xBC\x9A\xE8\xAD\xB0 2026"},
        {std::string(page).insert(2, Comment("Created with GIMP") + Comment(ours + "B")), "B"},
        {std::string(page).insert(2, Comment(ours + "A") + Comment(ours + "B")), "A"},
        {std::string(page).insert(2, Comment("vellumtransit title: X")), ""},
        {std::string(page).insert(2, Comment(ours)), ""},
        {std::string(page).insert(2, Comment(ours + "a\xFF" + "b\xC3" + "\0c\xED\xA0\x80"s)),
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD"
         "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::string(page).insert(2, Comment(ours + long3)), long3.substr(0, 255)},
        {std::string(page).insert(page.find("\xFF\xDA"), Comment(ours + "late")), ""},
        {std::string(page).insert(2, Comment(ours + "cut")).substr(0, 20), "no frame"},
    };
    for (const auto &[jpeg, expected] : cases)
        EXPECT_EQ(TitleOf(jpeg), expected) << expected;
}

// The page each pixel size and density gives: "letter" for the document's page, else its points.
TEST(JpegProbe, PageSizeAtDensityAsATable) {
    const struct {
        uint32_t width, height;
        JpegDensity density;
        const char *page;
    } cases[] = {
        {1275, 1650, {1, 150, 150}, "letter"},     // the printer's Letter at 150 dpi
        {2550, 3300, {1, 300, 300}, "letter"},     // and at 300
        {2551, 3299, {1, 300, 300}, "letter"},     // within a pixel
        {2552, 3300, {1, 300, 300}, "612 x 792"},  // two pixels wide: its own, truncated
        {1275, 1650, {0, 1, 1}, "letter"},         // an aspect ratio only
        {1275, 1650, {0, 150, 150}, "letter"},     // the same, whatever its numbers
        {2480, 3508, {0, 300, 300}, "letter"},     // A4 without units: as today
        {2480, 3508, {3, 300, 300}, "letter"},     // units that JFIF does not define
        {2480, 3508, {1, 300, 300}, "595 x 841"},  // A4 at 300 dpi
        {1240, 1754, {1, 150, 150}, "595 x 841"},  // and at 150
        {2480, 3508, {2, 118, 118}, "595 x 842"},  // at 118 dots a cm (299.72 dpi)
        {2159, 2794, {2, 100, 100}, "letter"},     // Letter at 100 dots a cm
        {3300, 2550, {1, 300, 300}, "792 x 612"},  // landscape Letter keeps its shape
        {2480, 3508, {1, 300, 150}, "595 x 1683"}, // each way at its own density
        {2480, 3508, {1, 0, 300}, "letter"},       // a zero density is none
        {2480, 3508, {1, 300, 0}, "letter"},
        {300, 300, {1, 300, 300}, "72 x 72"},           // one inch: the smallest page
        {299, 300, {1, 300, 300}, "letter"},            // under an inch
        {65535, 65535, {1, 328, 328}, "14385 x 14385"}, // under 200 inches
        {65535, 65535, {1, 327, 327}, "letter"},        // over 200 inches
        {60000, 300, {1, 300, 300}, "14400 x 72"},      // 200 inches exactly
        {60001, 300, {1, 300, 300}, "letter"},
        {65535, 65535, {1, 65535, 65535}, "72 x 72"},
        {65535, 65535, {2, 65535, 65535}, "letter"}, // 0.39 in
        {1, 1, {1, 1, 1}, "72 x 72"},
    };
    for (const auto &c : cases) {
        int32_t width = -1, height = -1;
        std::string page = PageSizeAtDensity(c.width, c.height, c.density, &width, &height)
                               ? std::to_string(width) + " x " + std::to_string(height)
                           : width == -1 && height == -1 ? "letter"
                                                         : "stored without a page";
        EXPECT_EQ(page, c.page) << c.width << "x" << c.height << " at " << (int)c.density.units
                                << " " << c.density.x << "x" << c.density.y;
    }
}

} // namespace
