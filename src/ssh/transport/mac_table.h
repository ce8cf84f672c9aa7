// The SSH-2 MAC rows and the keyed MAC of one direction.
//
// A row names the HMAC digest, the MAC and key lengths and whether the MAC
// covers the encrypted packet (the -etm@openssh.com forms: the length stays
// in clear and the MAC is over sequence number, length and ciphertext) or
// the plaintext (RFC 4253 section 6.4).
#pragma once

#include <cstddef>
#include <cstdint>

#include <openssl/evp.h>

struct MacRow {
    const char* name;
    const char* digest;  // libcrypto digest name
    uint32_t mac_len;
    uint32_t key_len;
    bool etm;
};

// Every supported row, modern first: the default proposal's order.
const MacRow* mac_rows(size_t* count);
// Exact name, or null.
const MacRow* mac_row_find(const char* name);

struct MacState;

// HMAC with `digest` keyed once with key_len bytes of `key`.
MacState* mac_state_new(const EVP_MD* digest, const unsigned char* key, uint32_t key_len);
void mac_state_free(MacState* state);
// HMAC over the 4-byte sequence number and `length` bytes into `out` (room
// for EVP_MAX_MD_SIZE bytes).
void mac_state_compute(MacState* state, uint32_t seqnr, const unsigned char* data, uint32_t length,
                       unsigned char* out);
