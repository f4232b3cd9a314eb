// The JPEG size probe: which header layouts give a size, the colour flag from the component
// count, and that no byte at or past the count is ever read (each input sits in a heap block of
// exactly its own size, so the sanitizer build sees any over-read).
#include "pdf/jpeg_intake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

// One marker segment: 0xFF, the marker, the big-endian length (body + 2), the body.
Bytes Segment(unsigned char marker, const Bytes &body) {
    Bytes out = {0xFF, marker, (unsigned char)((body.size() + 2) >> 8),
                 (unsigned char)((body.size() + 2) & 0xFF)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Jfif() {
    return Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
}
Bytes Dqt() {
    Bytes body(65, 0x10);
    body[0] = 0;
    return Segment(0xDB, body);
}
// A frame header: precision, lines, samples per line, then each component's three bytes.
Bytes Frame(unsigned char marker, unsigned lines, unsigned samples, unsigned char components) {
    Bytes body = {8,
                  (unsigned char)(lines >> 8),
                  (unsigned char)lines,
                  (unsigned char)(samples >> 8),
                  (unsigned char)samples,
                  components};
    for (unsigned char c = 1; c <= components; c++) {
        body.insert(body.end(), {c, 0x11, 0});
    }
    return Segment(marker, body);
}
// Huffman table, scan header and a little entropy-coded data that does not start with 0xFF.
Bytes ScanAndEnd() {
    Bytes out = Segment(0xC4, Bytes(29, 0x01));
    Bytes scan = Segment(0xDA, {1, 1, 0, 0, 0x3F, 0});
    out.insert(out.end(), scan.begin(), scan.end());
    out.insert(out.end(), {0x12, 0x34, 0x56, 0xFF, 0x00, 0x78, 0xFF, 0xD9});
    return out;
}
Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out = {0xFF, 0xD8};
    for (const Bytes &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
Bytes Baseline(unsigned char components = 3) {
    return Join({Jfif(), Dqt(), Frame(0xC0, 1650, 1275, components), ScanAndEnd()});
}
// Offset of the baseline frame marker in Baseline(): SOI, APP0 and DQT come first.
size_t BaselineFramePosition() {
    return 2 + Jfif().size() + Dqt().size();
}

struct ProbeResult {
    int found;
    uint16_t width;
    uint16_t height;
    unsigned char isColour;
};

// Runs the probe on the first count bytes of input, copied into a block of exactly count bytes;
// the outputs start as sentinels so that "nothing stored" can be seen.
ProbeResult Probe(const Bytes &input, size_t count, unsigned char isColour = 1) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[count]);
    if (count > 0) {
        std::memcpy(block.get(), input.data(), count);
    }
    ProbeResult result = {-1, 0xBEEF, 0xBEEF, isColour};
    result.found = GetJfifImageSize(block.get(), (uint32_t)count, &result.width, &result.height,
                                    &result.isColour);
    return result;
}

struct ProbeCase {
    const char *name;
    Bytes bytes;
    int found;
    uint16_t width; // expected when found
    uint16_t height;
    unsigned char isColourIn;
    unsigned char isColourOut;
};

TEST(JpegProbe, HeaderLayouts) {
    Bytes lengthZero = Baseline();
    lengthZero[2 + Jfif().size() + 3] = 0; // the DQT's length: 0, then 1
    Bytes lengthOne = lengthZero;
    lengthOne[2 + Jfif().size() + 3] = 1;
    Bytes app0LengthZero = Baseline();
    app0LengthZero[5] = 0;
    Bytes fill = Join({Jfif(), Bytes{0xFF}, Frame(0xC0, 10, 20, 3), ScanAndEnd()});
    Bytes frameFirst = Baseline();
    frameFirst.resize(BaselineFramePosition() + 9); // sizes complete, component count cut off

    const ProbeCase cases[] = {
        {"baseline colour", Baseline(3), 1, 1275, 1650, 1, 1},
        {"baseline greyscale", Baseline(1), 1, 1275, 1650, 1, 0},
        {"four components stay colour", Baseline(4), 1, 1275, 1650, 1, 1},
        {"colour flag already clear stays clear", Baseline(3), 1, 1275, 1650, 0, 0},
        {"component count beyond the bytes", frameFirst, 1, 1275, 1650, 1, 1},
        {"APP0 extension before the frame",
         Join({Jfif(), Segment(0xE0, {'J', 'F', 'X', 'X', 0, 0x10}), Dqt(),
               Frame(0xC0, 1650, 1275, 3), ScanAndEnd()}),
         1, 1275, 1650, 1, 1},
        {"APP1 before the frame",
         Join({Jfif(), Segment(0xE1, Bytes(40, 'x')), Dqt(), Frame(0xC0, 1650, 1275, 1),
               ScanAndEnd()}),
         1, 1275, 1650, 1, 0},
        {"largest sizes", Join({Jfif(), Frame(0xC0, 65535, 65535, 3)}), 1, 65535, 65535, 1, 1},
        {"progressive frame", Join({Jfif(), Dqt(), Frame(0xC2, 1650, 1275, 3), ScanAndEnd()}), 0, 0,
         0, 1, 1},
        {"APP1 first",
         Join({Segment(0xE1, {'J', 'F', 'I', 'F', 0, 0, 0, 0}), Dqt(), Frame(0xC0, 9, 9, 3)}), 0, 0,
         0, 1, 1},
        {"segment length 0", lengthZero, 0, 0, 0, 1, 1},
        {"segment length 1", lengthOne, 0, 0, 0, 1, 1},
        {"APP0 length 0", app0LengthZero, 0, 0, 0, 1, 1},
        {"fill byte between segments", fill, 0, 0, 0, 1, 1},
        {"not a JPEG", Bytes(200, 'A'), 0, 0, 0, 1, 1},
    };
    for (const ProbeCase &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeResult r = Probe(c.bytes, c.bytes.size(), c.isColourIn);
        EXPECT_EQ(r.found, c.found);
        EXPECT_EQ(r.isColour, c.isColourOut);
        if (c.found) {
            EXPECT_EQ(r.width, c.width);
            EXPECT_EQ(r.height, c.height);
        } else {
            EXPECT_EQ(r.width, 0xBEEF);
            EXPECT_EQ(r.height, 0xBEEF);
        }
    }
}

// Every cut of a baseline file: a size exactly when the frame's size fields are complete
// (10 bytes and the cuts inside the size fields among them), the greyscale verdict exactly when
// the component count is there too.
TEST(JpegProbe, EveryCutOfAFileReadsOnlyItsOwnBytes) {
    const size_t frame = BaselineFramePosition();
    for (unsigned char components : {1, 3}) {
        Bytes file = Baseline(components);
        for (size_t count = 0; count <= file.size(); count++) {
            SCOPED_TRACE("components " + std::to_string(components) + ", count " +
                         std::to_string(count));
            ProbeResult r = Probe(file, count);
            EXPECT_EQ(r.found, count >= frame + 9 ? 1 : 0);
            EXPECT_EQ(r.isColour, components == 1 && count >= frame + 10 ? 0 : 1);
        }
    }
}

// The probe also works without a colour flag, and with no bytes at all.
TEST(JpegProbe, OptionalOutputsAndNoBytes) {
    Bytes file = Baseline(1);
    uint16_t width = 0;
    uint16_t height = 0;
    EXPECT_EQ(GetJfifImageSize(file.data(), (uint32_t)file.size(), &width, &height, nullptr), 1);
    EXPECT_EQ(width, 1275);
    EXPECT_EQ(height, 1650);
    EXPECT_EQ(GetJfifImageSize(nullptr, 0, &width, &height, nullptr), 0);
}

} // namespace
