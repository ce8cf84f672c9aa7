// The SSH-2 cipher rows and the keyed state of one direction.
//
// Every cipher of the SSH-2 proposal is one row: its name, sizes and
// libcrypto primitive. The row's engine decides how the packet layer frames
// a packet: the block engines (the four old ciphers through CipherContext,
// the AES modes through EVP) encrypt the whole packet and leave integrity to
// the MAC; the AEAD engines keep the length readable without the body and
// append their own tag, so no MAC is negotiated for them (RFC 5647 section 5.1
// as OpenSSH uses it).
//
// A CipherState belongs to one direction of one connection and one thread at
// a time. Every failure of libcrypto is fatal.
#pragma once

#include <cstddef>
#include <cstdint>

enum class CipherEngine {
    Legacy,      // CipherContext by protocol-1 number (3des-cbc, blowfish-cbc, ...)
    Evp,         // a streaming EVP cipher without padding (CTR, CBC)
    Gcm,         // AES-GCM: length as additional data, 64-bit invocation counter
    ChachaPoly,  // chacha20-poly1305@openssh.com: length key, Poly1305 key from block 0
};

struct CipherRow {
    const char* name;
    CipherEngine engine;
    int legacy_number;     // Legacy rows: the CipherContext number
    const char* evp_name;  // the libcrypto algorithm, null for Legacy rows
    uint32_t block_size;   // padding unit of the packet
    uint32_t key_len;
    uint32_t iv_len;
    uint32_t tag_len;  // AEAD tag after the packet; 0 for block engines
};

inline bool cipher_row_is_aead(const CipherRow* row) {
    return row->engine == CipherEngine::Gcm || row->engine == CipherEngine::ChachaPoly;
}

// Every supported row, modern first: the default proposal's order.
const CipherRow* cipher_rows(size_t* count);
// Exact name, or null.
const CipherRow* cipher_row_find(const char* name);
// The Legacy row of a protocol-1 cipher number used by SSH-2, or null.
const CipherRow* cipher_row_by_number(int number);

struct CipherState;

// Keys a new state. Legacy rows take the lengths given (short material is
// reported and padded, as CipherContext does); the others need at least the
// row's key_len and iv_len bytes (fatal otherwise).
CipherState* cipher_state_new(const CipherRow* row, bool encrypt, const unsigned char* key,
                              uint32_t key_len, const unsigned char* iv, uint32_t iv_len);
// Wipes and releases; null is ignored.
void cipher_state_free(CipherState* state);
const CipherRow* cipher_state_row(const CipherState* state);

// Block engines: length a multiple of the block size; state carries over.
void cipher_state_crypt(CipherState* state, unsigned char* destination, const unsigned char* source,
                        uint32_t length);

// AEAD engines. The packet is its 4 length bytes followed by `length - 4`
// body bytes.
// The packet length from the first 4 wire bytes (decrypted by ChachaPoly,
// clear for Gcm); the state is left unchanged.
uint32_t cipher_state_aead_length(CipherState* state, uint32_t seqnr, const unsigned char wire[4]);
// Encrypts `length` packet bytes from source to destination and writes the
// tag (tag_len bytes) right after them.
void cipher_state_aead_seal(CipherState* state, uint32_t seqnr, unsigned char* destination,
                            const unsigned char* source, uint32_t length);
// Checks the tag that follows the `length` wire bytes at source, then
// decrypts them to destination. False (and nothing decrypted) when the tag is
// wrong.
bool cipher_state_aead_open(CipherState* state, uint32_t seqnr, unsigned char* destination,
                            const unsigned char* source, uint32_t length);
