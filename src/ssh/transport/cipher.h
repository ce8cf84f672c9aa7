// Symmetric ciphers of SSH protocols 1 and 2, identified by the protocol-1
// cipher numbers, on top of libcrypto's block-cipher primitives.
//
// A CipherContext belongs to one direction of one connection and is used by
// one thread at a time. All bytes zero is cipher "none". Every failure ends in
// `fatal`; keys or IVs shorter than a cipher wants are only reported with
// `error` and keying goes on (missing bytes count as zeros).
#pragma once

#include <cstdint>

#include <openssl/blowfish.h>
#include <openssl/cast.h>
#include <openssl/des.h>
#include <openssl/rc4.h>

enum CipherNumber {
    SSH_CIPHER_NONE = 0,
    SSH_CIPHER_IDEA = 1,
    SSH_CIPHER_DES = 2,
    SSH_CIPHER_3DES = 3,
    SSH_CIPHER_TSS = 4,
    SSH_CIPHER_RC4 = 5,
    SSH_CIPHER_BLOWFISH = 6,
    SSH_CIPHER_RESERVED = 7,
    SSH_CIPHER_BLOWFISH_CBC = 8,
    SSH_CIPHER_3DES_CBC = 9,
    SSH_CIPHER_ARCFOUR = 10,
    SSH_CIPHER_CAST128_CBC = 11,
};

struct CipherContext {
    int type;
    union {
        // SSH-1 "3des" (three inner-CBC passes with their chaining blocks) and
        // "3des-cbc" (key schedules 1-3, the outer-CBC IV in iv3).
        struct {
            DES_key_schedule key1;
            DES_key_schedule key2;
            DES_cblock iv2;
            DES_key_schedule key3;
            DES_cblock iv3;
        } des3;
        struct {
            BF_KEY key;
            unsigned char iv[8];
        } bf;
        RC4_KEY rc4;
        struct {
            CAST_KEY key;
            unsigned char iv[8];
        } cast;
    } u;
};

// Fatal for a number outside the table or one without a name.
const char* cipher_name(int number);
// Exact, case-sensitive match among the supported ciphers; -1 otherwise.
int cipher_number(const char* name);
uint32_t cipher_mask1();  // SSH-1: 3des, blowfish
uint32_t cipher_mask2();  // SSH-2: numbers 8 to 11
uint32_t cipher_mask();

// SSH-1 keying ("none", "3des", "blowfish"); at most 32 key bytes are used.
void cipher_set_key(CipherContext* context, int number, const unsigned char* key, int key_length);
// SSH-2 keying ("none", "blowfish-cbc", "3des-cbc", "arcfour", "cast128-cbc").
void cipher_set_key_iv(CipherContext* context, int number, const unsigned char* key, int key_length,
                       const unsigned char* iv, int iv_length);
// SSH-1 keying with the MD5 digest of a passphrase (private key files).
void cipher_set_key_string(CipherContext* context, int number, const char* passphrase);

// length must be a multiple of 8. Source and destination may be the same
// block; they must not overlap otherwise. CBC state carries over between
// calls, so successive calls form one stream.
void cipher_encrypt(CipherContext* context, unsigned char* destination, const unsigned char* source,
                    uint32_t length);
void cipher_decrypt(CipherContext* context, unsigned char* destination, const unsigned char* source,
                    uint32_t length);

// Wipes keys and state; the context is "none" again.
void cipher_cleanup(CipherContext* context);
