// SSH-2 payload compression: one deflate stream for outgoing and one inflate
// stream for incoming packets per connection, each running for the life of
// the connection, with a partial flush after every packet so that each packet
// decompresses as soon as it arrives. The streams live in the PacketContext.
#pragma once

#include "ssh/wire/buffer.h"

struct PacketContext;

// Largest output of one buffer_uncompress call; more is fatal, so a small
// packet cannot inflate into an unbounded amount of memory.
constexpr uint32_t kMaxUncompressedLength = 256 * 1024 + 1024;

// Level 1 to 9; starts both streams.
void buffer_compress_init(PacketContext* context, int level);
// Compresses every unread byte of input and appends the result to output;
// input is not consumed.
void buffer_compress(PacketContext* context, Buffer* input, Buffer* output);
// Decompresses every unread byte of input and appends the result to output;
// input is not consumed.
void buffer_uncompress(PacketContext* context, Buffer* input, Buffer* output);
// Logs the statistics of both streams and ends them.
void buffer_compress_uninit(PacketContext* context);
