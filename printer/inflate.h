// Documents sent compressed (compression gzip or deflate), inflated through zlib as their bytes
// arrive, a window of output at a time handed to a sink, so that nothing but that window is
// held however far the data expands. gzip may be several members one after the other; deflate
// is RFC 1951's raw form, or RFC 1950's zlib form when it begins with a zlib header.
#pragma once

#include <cstddef>
#include <vector>

#include <zlib.h>

enum InflateKind { INFLATE_GZIP = 1, INFLATE_DEFLATE = 2 };

enum InflateResult {
    INFLATE_OK = 0,
    INFLATE_BAD_DATA = 1,     // not valid data of its kind (a bad header, block or check)
    INFLATE_CUT_SHORT = 2,    // the data ended before the end of its stream
    INFLATE_SINK_REFUSED = 3, // the sink refused what it was given
    INFLATE_NO_MEMORY = 4,
};

// Takes count inflated bytes; returns non-zero to go on.
typedef int (*InflateSink)(void *context, const unsigned char *bytes, size_t count);

// One compressed document's state; released when it goes.
struct Inflater {
    InflateKind kind = INFLATE_GZIP;
    bool active = false; // the zlib stream is initialised
    bool ended = false;  // the stream (or gzip member) has ended
    unsigned char head[2];
    size_t headBytes = 0; // deflate: the first bytes, gathered to tell raw from zlib
    z_stream stream;
    std::vector<unsigned char> window;

    Inflater() = default;
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;
    ~Inflater();
};

// Makes inflater ready for a new document of that kind.
void StartInflater(Inflater *inflater, InflateKind kind);

// Inflates the next count bytes into sink; after a failure the document is over.
InflateResult FeedInflater(Inflater *inflater, const unsigned char *bytes, size_t count,
                           InflateSink sink, void *context);

// The data has ended: INFLATE_OK when its last stream ended too.
InflateResult FinishInflater(Inflater *inflater);
