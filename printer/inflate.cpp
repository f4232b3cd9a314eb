// Streaming gzip and deflate through zlib.
#include "printer/inflate.h"

#include <cstring>

namespace {

// The most each inflate call writes before the sink takes it.
const size_t kWindowBytes = 64 * 1024;

// Whether two bytes are a zlib stream header (RFC 1950 2.2): deflate, a window of at most
// 32 KiB, a check that holds and no preset dictionary.
bool IsZlibHeader(const unsigned char *head) {
    return (head[0] & 0x0F) == 8 && (head[0] >> 4) <= 7 && (head[0] << 8 | head[1]) % 31 == 0 &&
           (head[1] & 0x20) == 0;
}

// Sets up the zlib stream for what inflater expects; false when zlib has no memory.
bool Begin(Inflater *inflater, bool zlibHeader) {
    memset(&inflater->stream, 0, sizeof inflater->stream);
    int bits = inflater->kind == INFLATE_GZIP ? 16 + MAX_WBITS
               : zlibHeader                   ? MAX_WBITS
                                              : -MAX_WBITS;
    if (inflateInit2(&inflater->stream, bits) != Z_OK)
        return false;
    inflater->active = true;
    inflater->window.resize(kWindowBytes);
    return true;
}

// Inflates count bytes, handing what they make to sink.
InflateResult Inflate(Inflater *inflater, const unsigned char *bytes, size_t count,
                      InflateSink sink, void *context) {
    z_stream &stream = inflater->stream;
    for (;;) {
        if (stream.avail_in == 0 && count > 0) {
            // zlib counts input in 32 bits: a larger piece goes in parts.
            uInt piece = count > 0x40000000 ? 0x40000000 : (uInt)count;
            stream.next_in = const_cast<unsigned char *>(bytes);
            stream.avail_in = piece;
            bytes += piece;
            count -= piece;
        }
        if (inflater->ended) {
            if (stream.avail_in == 0)
                return INFLATE_OK;
            // More after the end: the next member of a gzip file, and nothing else.
            if (inflater->kind != INFLATE_GZIP || inflateReset(&stream) != Z_OK)
                return INFLATE_BAD_DATA;
            inflater->ended = false;
        }
        stream.next_out = inflater->window.data();
        stream.avail_out = (uInt)inflater->window.size();
        int result = inflate(&stream, Z_NO_FLUSH);
        size_t made = inflater->window.size() - stream.avail_out;
        if (made > 0 && !sink(context, inflater->window.data(), made))
            return INFLATE_SINK_REFUSED;
        if (result == Z_STREAM_END) {
            inflater->ended = true;
            continue;
        }
        if (result == Z_MEM_ERROR)
            return INFLATE_NO_MEMORY;
        if (result != Z_OK && result != Z_BUF_ERROR)
            return INFLATE_BAD_DATA; // Z_DATA_ERROR, Z_NEED_DICT
        // Everything taken in and everything made given out: the rest needs more data.
        if (stream.avail_in == 0 && count == 0 && (stream.avail_out > 0 || result == Z_BUF_ERROR))
            return INFLATE_OK;
    }
}

} // namespace

Inflater::~Inflater() {
    if (active)
        inflateEnd(&stream);
}

void StartInflater(Inflater *inflater, InflateKind kind) {
    if (inflater->active)
        inflateEnd(&inflater->stream);
    inflater->kind = kind;
    inflater->active = false;
    inflater->ended = false;
    inflater->headBytes = 0;
}

InflateResult FeedInflater(Inflater *inflater, const unsigned char *bytes, size_t count,
                           InflateSink sink, void *context) {
    if (!inflater->active && inflater->kind == INFLATE_DEFLATE) {
        // Whether a deflate document has a zlib header shows in its first two bytes.
        while (count > 0 && inflater->headBytes < 2)
            inflater->head[inflater->headBytes++] = *bytes++, --count;
        if (inflater->headBytes < 2)
            return INFLATE_OK;
        if (!Begin(inflater, IsZlibHeader(inflater->head)))
            return INFLATE_NO_MEMORY;
        InflateResult result = Inflate(inflater, inflater->head, 2, sink, context);
        if (result != INFLATE_OK)
            return result;
    } else if (!inflater->active && !Begin(inflater, false)) {
        return INFLATE_NO_MEMORY;
    }
    return Inflate(inflater, bytes, count, sink, context);
}

InflateResult FinishInflater(Inflater *inflater) {
    return inflater->active && inflater->ended ? INFLATE_OK : INFLATE_CUT_SHORT;
}
