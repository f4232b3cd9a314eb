// Test support for the printer's compressed documents: bytes deflated by zlib.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

// Compresses bytes with zlib's deflate: windowBits 31 is gzip, -15 raw deflate, 15 zlib.
inline std::string Compress(const std::string &bytes, int windowBits) {
    z_stream stream = {};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, bytes.size()) + 32, '\0');
    stream.next_in = (Bytef *)bytes.data();
    stream.avail_in = (uInt)bytes.size();
    stream.next_out = (Bytef *)&out[0];
    stream.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}
