// KexResult: the outcome of the SSH-2 algorithm negotiation and key
// derivation. The key exchange allocates it zeroed (xmalloc), fills it and
// hands it to the packet layer with packet_set_kex, which owns it from then on
// and releases it with kex_result_free.
//
// Index 0 of each pair is incoming (server to client), index 1 outgoing.
// Every key, IV and MAC key block holds at least max(need, its own length)
// bytes, need being the key-material length, so that it can be wiped over
// that length before release (the derivation makes blocks of `need` bytes).
#pragma once

#include <cstdint>

#include <openssl/evp.h>

struct CipherRow;

enum KexDirection { MODE_IN = 0, MODE_OUT = 1 };

struct Enc {
    int type;  // cipher number
    int enabled;
    int block_size;
    unsigned char* key;
    unsigned char* iv;
    uint32_t key_len;
    uint32_t iv_len;
    char* name;
    // The negotiated row; null means the Legacy row of `type` (or none).
    const CipherRow* row;
};

struct Mac {
    const EVP_MD* md;
    int enabled;
    int mac_len;
    unsigned char* key;
    uint32_t key_len;
    char* name;
    int etm;  // MAC over the encrypted packet, length in clear
};

enum CompressionType { COMP_NONE = 0, COMP_ZLIB = 1 };

struct Comp {
    int type;
    int enabled;
    char* name;
};

struct KexResult {
    Enc enc[2];
    Mac mac[2];
    Comp comp[2];
    uint32_t need;
    int server;
    char* name;
    char* hostkey_name;
};

// Wipes every key, IV and MAC key and releases everything the record owns, the record included. A
// null record is ignored.
void kex_result_free(KexResult* kex);
