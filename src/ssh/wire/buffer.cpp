#include "ssh/wire/buffer.h"

#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

void buffer_init(Buffer* buffer) {
    buffer->capacity = 4096;
    buffer->data = static_cast<unsigned char*>(xmalloc(buffer->capacity));
    buffer->read_offset = 0;
    buffer->end_offset = 0;
}

void buffer_free(Buffer* buffer) {
    if (buffer->data != nullptr) {
        OPENSSL_cleanse(buffer->data, buffer->capacity);
        xfree(buffer->data);
    }
    *buffer = Buffer{};
}

void buffer_clear(Buffer* buffer) {
    buffer->read_offset = 0;
    buffer->end_offset = 0;
}

void buffer_append(Buffer* buffer, const void* bytes, uint32_t n) {
    unsigned char* place = buffer_append_space(buffer, n);
    if (n > 0) std::memcpy(place, bytes, n);
}

unsigned char* buffer_append_space(Buffer* buffer, uint32_t n) {
    if (n > kBufferMaxCapacity) fatal("buffer_append_space: len %u not supported", n);
    if (buffer->read_offset == buffer->end_offset) {
        buffer->read_offset = 0;
        buffer->end_offset = 0;
    }
    // Keeps at least one spare byte. Unread bytes move to the front only when
    // more than half of the storage has been read, so a queue filled and
    // drained in turns settles at a fixed size.
    while (buffer->capacity <= buffer->end_offset + n) {
        if (buffer->read_offset > buffer->capacity / 2) {
            std::memmove(buffer->data, buffer->data + buffer->read_offset,
                         buffer->end_offset - buffer->read_offset);
            buffer->end_offset -= buffer->read_offset;
            buffer->read_offset = 0;
        } else {
            uint32_t grown = buffer->capacity + n + 32768;
            if (grown > kBufferMaxCapacity)
                fatal("buffer_append_space: alloc %u not supported", grown);
            buffer->data = static_cast<unsigned char*>(xrealloc(buffer->data, grown));
            buffer->capacity = grown;
        }
    }
    unsigned char* place = buffer->data + buffer->end_offset;
    buffer->end_offset += n;
    return place;
}

uint32_t buffer_len(const Buffer* buffer) {
    return buffer->end_offset - buffer->read_offset;
}

unsigned char* buffer_ptr(const Buffer* buffer) {
    return buffer->data + buffer->read_offset;
}

void buffer_get(Buffer* buffer, void* destination, uint32_t n) {
    if (n > buffer_len(buffer)) fatal("buffer_get: trying to get more bytes than in buffer");
    if (n > 0) std::memcpy(destination, buffer_ptr(buffer), n);
    buffer->read_offset += n;
}

void buffer_consume(Buffer* buffer, uint32_t n) {
    if (n > buffer_len(buffer)) fatal("buffer_consume: trying to get more bytes than in buffer");
    buffer->read_offset += n;
}

void buffer_consume_end(Buffer* buffer, uint32_t n) {
    if (n > buffer_len(buffer))
        fatal("buffer_consume_end: trying to get more bytes than in buffer");
    buffer->end_offset -= n;
}

void buffer_dump(const Buffer* buffer) {
    const unsigned char* bytes = buffer_ptr(buffer);
    for (uint32_t i = 0; i < buffer_len(buffer); i++) std::fprintf(stderr, " %02x", bytes[i]);
    std::fprintf(stderr, "\n");
}
