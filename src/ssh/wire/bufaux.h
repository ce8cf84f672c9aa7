// SSH wire encodings on top of Buffer: bytes, 32-bit big-endian integers,
// length-prefixed strings and the SSH-1 and SSH-2 forms of multiple-precision
// integers. Every failure ends in `fatal`.
#pragma once

#include <cstdint>

#include <openssl/bn.h>

#include "ssh/wire/buffer.h"

// Longest string a peer may send in one field.
constexpr uint32_t kMaxStringLength = 256 * 1024;

void buffer_put_char(Buffer* buffer, int value);
int buffer_get_char(Buffer* buffer);
void buffer_put_int(Buffer* buffer, uint32_t value);
uint32_t buffer_get_int(Buffer* buffer);
void buffer_put_string(Buffer* buffer, const void* bytes, uint32_t n);
void buffer_put_cstring(Buffer* buffer, const char* text);
// Returns a new xmalloc block of n + 1 bytes whose byte n is zero; the caller
// releases it with xfree. length_out may be null.
void* buffer_get_string(Buffer* buffer, uint32_t* length_out);

// SSH-1 form: 16-bit bit count, then the magnitude. Non-negative only.
void buffer_put_bignum(Buffer* buffer, const BIGNUM* number);
// Returns the bytes consumed (2 + magnitude length).
int buffer_get_bignum(Buffer* buffer, BIGNUM* number);
// SSH-2 form: a string holding the two's-complement value.
void buffer_put_bignum2(Buffer* buffer, const BIGNUM* number);
// Reads the string as an unsigned magnitude; returns its length.
int buffer_get_bignum2(Buffer* buffer, BIGNUM* number);

// Big-endian helpers for code that frames bytes by hand.
inline uint32_t get_u32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void put_u32(unsigned char* p, uint32_t value) {
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}
