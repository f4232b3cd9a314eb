// Compressed documents: gzip, raw deflate and zlib-wrapped deflate come back byte for byte
// however they are cut into pieces; a cut stream, a bad header, a bad check and trailing bytes
// are refused; a bomb stops at the sink's limit with only one window inflated past it.
#include "printer/inflate.h"

#include "tests/unit/printer_compress.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

// What the sink was given, and how much it takes before it refuses.
struct Sink {
    std::string bytes;
    size_t limit = (size_t)-1;
};

int Take(void *context, const unsigned char *bytes, size_t count) {
    Sink *sink = static_cast<Sink *>(context);
    sink->bytes.append((const char *)bytes, count);
    return sink->bytes.size() <= sink->limit;
}

// Inflates data fed in pieces of piece bytes; returns the first failure or FinishInflater's
// result.
InflateResult Inflate(InflateKind kind, const std::string &data, size_t piece, Sink *sink) {
    Inflater inflater;
    StartInflater(&inflater, kind);
    for (size_t at = 0; at < data.size(); at += piece) {
        InflateResult result = FeedInflater(&inflater, (const unsigned char *)data.data() + at,
                                            std::min(piece, data.size() - at), Take, sink);
        if (result != INFLATE_OK)
            return result;
    }
    return FinishInflater(&inflater);
}

// Bytes that compress a little but not to nothing: a page's worth of varied text.
std::string Text(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i)
        text += "line " + std::to_string(i * 7919 % 100003) + " of the document\n";
    return text.substr(0, size);
}

const std::tuple<const char *, InflateKind, int> kForms[] = {{"gzip", INFLATE_GZIP, 31},
                                                             {"raw deflate", INFLATE_DEFLATE, -15},
                                                             {"zlib deflate", INFLATE_DEFLATE, 15}};

TEST(Inflate, EveryFormComesBackInAnyPieces) {
    std::string original = Text(300000); // several windows of output
    for (const auto &form : kForms) {
        std::string data = Compress(original, std::get<2>(form));
        for (size_t piece : {(size_t)1, (size_t)2, (size_t)7, (size_t)4096, data.size()}) {
            Sink sink;
            EXPECT_EQ(Inflate(std::get<1>(form), data, piece, &sink), INFLATE_OK)
                << std::get<0>(form) << " in pieces of " << piece;
            EXPECT_TRUE(sink.bytes == original) << std::get<0>(form) << " " << piece;
        }
    }
    // gzip members one after the other are one document.
    Sink sink;
    EXPECT_EQ(Inflate(INFLATE_GZIP, Compress("first ", 31) + Compress("second", 31), 3, &sink),
              INFLATE_OK);
    EXPECT_EQ(sink.bytes, "first second");
}

TEST(Inflate, EveryCutIsCutShort) {
    for (const auto &form : kForms) {
        std::string data = Compress(Text(2000), std::get<2>(form));
        for (size_t size = 0; size < data.size(); ++size) {
            Sink sink;
            EXPECT_EQ(Inflate(std::get<1>(form), data.substr(0, size), 64, &sink),
                      INFLATE_CUT_SHORT)
                << std::get<0>(form) << " cut at " << size;
        }
    }
}

TEST(Inflate, BadDataIsRefused) {
    std::string gzip = Compress(Text(2000), 31);
    std::string deflate = Compress(Text(2000), -15);
    std::string zlib = Compress(Text(2000), 15);
    auto changed = [](std::string bytes, size_t at, char value) {
        bytes[at] = value;
        return bytes;
    };
    const std::tuple<const char *, InflateKind, std::string> cases[] = {
        {"gzip: not its magic", INFLATE_GZIP, changed(gzip, 0, 0x1E)},
        {"gzip: a method other than deflate", INFLATE_GZIP, changed(gzip, 2, 7)},
        {"gzip: its CRC-32 does not hold", INFLATE_GZIP, changed(gzip, gzip.size() - 8, 0)},
        {"gzip: its length does not hold", INFLATE_GZIP, changed(gzip, gzip.size() - 1, 9)},
        {"gzip: bytes after it that are no member", INFLATE_GZIP, gzip + "trailing"},
        {"gzip: zlib data", INFLATE_GZIP, zlib},
        {"deflate: a reserved block type", INFLATE_DEFLATE, std::string("\x07\x00\x00\x00", 4)},
        {"deflate: a stored block's length check", INFLATE_DEFLATE,
         std::string("\x01\x05\x00\x00\x00hello", 10)},
        {"deflate: bytes after its end", INFLATE_DEFLATE, deflate + "x"},
        {"zlib: its Adler-32 does not hold", INFLATE_DEFLATE, changed(zlib, zlib.size() - 1, 0)},
    };
    for (const auto &entry : cases) {
        Sink sink;
        EXPECT_EQ(Inflate(std::get<1>(entry), std::get<2>(entry), 100, &sink), INFLATE_BAD_DATA)
            << std::get<0>(entry);
    }
}

// 64 MiB of zeros compress to 64 KiB; a sink that takes 1 MiB stops it within one window.
TEST(Inflate, ABombStopsAtTheSinksLimit) {
    std::string bomb = Compress(std::string(64u << 20, '\0'), 31);
    EXPECT_LT(bomb.size(), 100000u);
    Sink sink;
    sink.limit = 1u << 20;
    EXPECT_EQ(Inflate(INFLATE_GZIP, bomb, bomb.size(), &sink), INFLATE_SINK_REFUSED);
    EXPECT_GT(sink.bytes.size(), sink.limit);
    EXPECT_LE(sink.bytes.size(), sink.limit + 64 * 1024);
}

} // namespace
