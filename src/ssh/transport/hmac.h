// HMAC (RFC 2104) over an SSH-2 sequence number and packet bytes.
#pragma once

#include <cstdint>

#include <openssl/evp.h>

// Size of the block hmac returns: room for the largest digest of the library.
constexpr int kHmacBlockSize = EVP_MAX_MD_SIZE;

// HMAC with `digest` and `key` over the sequence number (4 bytes, big-endian)
// followed by `data`. Returns a new xmalloc block of kHmacBlockSize bytes with
// the MAC at its start; the caller wipes nothing and releases it with xfree.
// A null key is fatal: "hmac: no key".
unsigned char* hmac(const EVP_MD* digest, uint32_t sequence_number, const unsigned char* data,
                    uint32_t data_length, const unsigned char* key, uint32_t key_length);
