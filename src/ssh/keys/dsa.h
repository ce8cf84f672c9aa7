// "ssh-dss" keys and signatures of SSH protocol 2 (RFC 4253 section 6.6),
// including the bare 40-byte signature form some old servers use.
//
// Which signature form is written and expected follows SSH_BUG_SIGBLOB of the
// compatibility word of the connection concerned, passed in by the caller;
// dsa_verify adjusts that word to what the server actually sent, and the same
// login later signs with the adjusted word.
#pragma once

#include <cstdint>

#include "ssh/keys/key.h"

// r and s, 20 bytes each, big-endian.
constexpr uint32_t SIGBLOB_LEN = 40;

// A new DSA key from a public-key blob ("ssh-dss", p, q, g, y), or null (with
// an error line) when the blob names another type. A truncated blob is fatal;
// trailing bytes are only reported.
Key* dsa_key_from_blob(const unsigned char* blob, uint32_t length);
// Writes a new xmalloc block with the blob of a DSA key to *blob_out and
// returns its length; returns 0 and writes nothing when `key` is no DSA key.
uint32_t dsa_key_to_blob(const Key* key, unsigned char** blob_out, uint32_t* length_out);

// Signs SHA-1(data). On success returns 0 and a new xmalloc block (bare or
// "ssh-dss" string form by `datafellows`); -1 when `key` is no usable DSA key.
int dsa_sign(const Key* key, unsigned char** signature_out, uint32_t* length_out,
             const unsigned char* data, uint32_t data_length, int datafellows);
// 1 correct, 0 incorrect, -1 error. A signature of exactly 40 bytes sets
// SSH_BUG_SIGBLOB in *datafellows, any other length clears it (logged).
int dsa_verify(const Key* key, const unsigned char* signature, uint32_t signature_length,
               const unsigned char* data, uint32_t data_length, int* datafellows);
