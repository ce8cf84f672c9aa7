#include "ssh/wire/bufaux.h"

#include <cstring>

#include <openssl/crypto.h>

#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

void buffer_put_char(Buffer* buffer, int value) {
    unsigned char byte = static_cast<unsigned char>(value);
    buffer_append(buffer, &byte, 1);
}

int buffer_get_char(Buffer* buffer) {
    unsigned char byte;
    buffer_get(buffer, &byte, 1);
    return byte;
}

void buffer_put_int(Buffer* buffer, uint32_t value) {
    put_u32(buffer_append_space(buffer, 4), value);
}

uint32_t buffer_get_int(Buffer* buffer) {
    unsigned char bytes[4];
    buffer_get(buffer, bytes, 4);
    return get_u32(bytes);
}

void buffer_put_string(Buffer* buffer, const void* bytes, uint32_t n) {
    buffer_put_int(buffer, n);
    buffer_append(buffer, bytes, n);
}

void buffer_put_cstring(Buffer* buffer, const char* text) {
    buffer_put_string(buffer, text, static_cast<uint32_t>(std::strlen(text)));
}

void* buffer_get_string(Buffer* buffer, uint32_t* length_out) {
    uint32_t n = buffer_get_int(buffer);
    if (n > kMaxStringLength) fatal("Received packet with bad string length %u", n);
    XmallocPtr<unsigned char> block(static_cast<unsigned char*>(xmalloc(n + 1)));
    buffer_get(buffer, block.get(), n);
    block.get()[n] = 0;
    if (length_out != nullptr) *length_out = n;
    return block.release();
}

namespace {

// Magnitude of number into a new block of (bits + 7) / 8 bytes, placed after
// `lead` zero bytes.
unsigned char* magnitude_bytes(const BIGNUM* number, uint32_t lead, uint32_t* size_out) {
    uint32_t size = (static_cast<uint32_t>(BN_num_bits(number)) + 7) / 8;
    auto* bytes = static_cast<unsigned char*>(xmalloc(size + lead));
    std::memset(bytes, 0, lead);
    int converted = BN_bn2bin(number, bytes + lead);
    if (converted < 0 || static_cast<uint32_t>(converted) != size) {
        OPENSSL_cleanse(bytes, size + lead);
        xfree(bytes);
        fatal("buffer_put_bignum: BN_bn2bin() failed: oi %d != bin_size %u", converted, size);
    }
    *size_out = size;
    return bytes;
}

}  // namespace

void buffer_put_bignum(Buffer* buffer, const BIGNUM* number) {
    int bits = BN_num_bits(number);
    if (bits > 0xffff) fatal("buffer_put_bignum: number of %d bits too large", bits);
    uint32_t size;
    unsigned char* bytes = magnitude_bytes(number, 0, &size);
    unsigned char count[2] = {static_cast<unsigned char>(bits >> 8),
                              static_cast<unsigned char>(bits)};
    buffer_append(buffer, count, 2);
    buffer_append(buffer, bytes, size);
    OPENSSL_cleanse(bytes, size);
    xfree(bytes);
}

int buffer_get_bignum(Buffer* buffer, BIGNUM* number) {
    unsigned char count[2];
    buffer_get(buffer, count, 2);
    uint32_t bits = (uint32_t{count[0]} << 8) | count[1];
    uint32_t size = (bits + 7) / 8;
    if (buffer_len(buffer) < size) fatal("buffer_get_bignum: input buffer too small");
    if (BN_bin2bn(buffer_ptr(buffer), static_cast<int>(size), number) == nullptr)
        fatal("buffer_get_bignum: BN_bin2bn failed");
    buffer_consume(buffer, size);
    return static_cast<int>(size) + 2;
}

void buffer_put_bignum2(Buffer* buffer, const BIGNUM* number) {
    uint32_t size;
    unsigned char* bytes = magnitude_bytes(number, 1, &size);
    bool high_bit = size > 0 && (bytes[1] & 0x80) != 0;
    if (BN_is_negative(number)) {
        log("negativ!");
        for (uint32_t i = 0; i <= size; i++) bytes[i] = static_cast<unsigned char>(~bytes[i]);
        for (uint32_t i = size + 1; i-- > 0;)
            if (++bytes[i] != 0) break;
    }
    buffer_put_string(buffer, high_bit ? bytes : bytes + 1, high_bit ? size + 1 : size);
    OPENSSL_cleanse(bytes, size + 1);
    xfree(bytes);
}

int buffer_get_bignum2(Buffer* buffer, BIGNUM* number) {
    uint32_t length;
    XmallocPtr<unsigned char> bytes(
        static_cast<unsigned char*>(buffer_get_string(buffer, &length)));
    BIGNUM* converted = BN_bin2bn(bytes.get(), static_cast<int>(length), number);
    OPENSSL_cleanse(bytes.get(), length);
    if (converted == nullptr) fatal("buffer_get_bignum2: BN_bin2bn failed");
    return static_cast<int>(length);
}
