// The JPEG size probe; each input sits in a heap block of exactly its size, so that the sanitizer
// build sees any read at or past the count.
#include "pdf/jpeg_intake.h"
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
