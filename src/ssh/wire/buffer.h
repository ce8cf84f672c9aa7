// Buffer: the growable byte queue all SSH code works on. Bytes are appended at
// the end and taken from the front; every failure ends in `fatal`.
//
// A Buffer is a plain value embedded in its owner and has no lock: one thread
// at a time. All four fields zero is a valid empty buffer (the first append
// allocates). Invariant: read_offset <= end_offset <= capacity; the valid
// bytes are data[read_offset .. end_offset).
#pragma once

#include <cstdint>

struct Buffer {
    unsigned char* data;
    uint32_t capacity;
    uint32_t read_offset;
    uint32_t end_offset;
};

// Storage larger than this is refused (fatal) so that offsets and growth stay
// inside 32 bits; no SSH buffer comes anywhere near it.
constexpr uint32_t kBufferMaxCapacity = 0x10000000;

void buffer_init(Buffer* buffer);
// Wipes the whole storage before releasing it and leaves an all-zero buffer;
// freeing an all-zero buffer does nothing.
void buffer_free(Buffer* buffer);
void buffer_clear(Buffer* buffer);
void buffer_append(Buffer* buffer, const void* bytes, uint32_t n);
// Returns where n new bytes go; they already count as valid.
unsigned char* buffer_append_space(Buffer* buffer, uint32_t n);
uint32_t buffer_len(const Buffer* buffer);
unsigned char* buffer_ptr(const Buffer* buffer);
void buffer_get(Buffer* buffer, void* destination, uint32_t n);
void buffer_consume(Buffer* buffer, uint32_t n);
void buffer_consume_end(Buffer* buffer, uint32_t n);
// Writes the unread bytes to standard error as " %02x" each, then a newline.
void buffer_dump(const Buffer* buffer);
