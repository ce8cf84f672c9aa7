#include "ssh/transport/compress.h"

#include "ssh/transport/packet.h"
#include "ssh/wire/log.h"

namespace {

constexpr uInt kStep = 4096;

}  // namespace

void buffer_compress_init(PacketContext* context, int level) {
    debug("Enabling compression at level %d.", level);
    if (level < 1 || level > 9) fatal("Bad compression level %d.", level);
    context->incoming_stream = z_stream{};
    context->outgoing_stream = z_stream{};
    int result = inflateInit(&context->incoming_stream);
    if (result != Z_OK) fatal("buffer_compress_init: inflateInit returned %d", result);
    result = deflateInit(&context->outgoing_stream, level);
    if (result != Z_OK) {
        inflateEnd(&context->incoming_stream);
        fatal("buffer_compress_init: deflateInit returned %d", result);
    }
}

void buffer_compress(PacketContext* context, Buffer* input, Buffer* output) {
    if (buffer_len(input) == 0) return;
    z_stream* stream = &context->outgoing_stream;
    stream->next_in = buffer_ptr(input);
    stream->avail_in = buffer_len(input);
    unsigned char area[kStep];
    do {
        stream->next_out = area;
        stream->avail_out = kStep;
        int result = deflate(stream, Z_PARTIAL_FLUSH);
        if (result != Z_OK) fatal("buffer_compress: deflate returned %d", result);
        buffer_append(output, area, kStep - stream->avail_out);
    } while (stream->avail_out == 0);
    stream->next_in = nullptr;
}

void buffer_uncompress(PacketContext* context, Buffer* input, Buffer* output) {
    z_stream* stream = &context->incoming_stream;
    stream->next_in = buffer_ptr(input);
    stream->avail_in = buffer_len(input);
    unsigned char area[kStep];
    uint32_t produced = 0;
    for (;;) {
        stream->next_out = area;
        stream->avail_out = kStep;
        int result = inflate(stream, Z_PARTIAL_FLUSH);
        if (result == Z_BUF_ERROR) break;
        if (result != Z_OK) fatal("buffer_uncompress: inflate returned %d", result);
        uint32_t step = kStep - stream->avail_out;
        produced += step;
        if (produced > kMaxUncompressedLength)
            fatal("buffer_uncompress: uncompressed packet longer than %u bytes",
                  kMaxUncompressedLength);
        buffer_append(output, area, step);
    }
    stream->next_in = nullptr;
}

void buffer_compress_uninit(PacketContext* context) {
    const z_stream& out = context->outgoing_stream;
    const z_stream& in = context->incoming_stream;
    debug("compress outgoing: raw data %lu, compressed %lu, factor %.2f", out.total_in,
          out.total_out, out.total_in == 0 ? 0.0 : double(out.total_out) / double(out.total_in));
    debug("compress incoming: raw data %lu, compressed %lu, factor %.2f", in.total_out, in.total_in,
          in.total_out == 0 ? 0.0 : double(in.total_in) / double(in.total_out));
    inflateEnd(&context->incoming_stream);
    deflateEnd(&context->outgoing_stream);
}
