#include "ssh/transport/cipher_table.h"

#include <cstring>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "ssh/transport/cipher.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr CipherRow kRows[] = {
    {"chacha20-poly1305@openssh.com", CipherEngine::ChachaPoly, 0, "ChaCha20", 8, 64, 0, 16},
    {"aes128-gcm@openssh.com", CipherEngine::Gcm, 0, "AES-128-GCM", 16, 16, 12, 16},
    {"aes256-gcm@openssh.com", CipherEngine::Gcm, 0, "AES-256-GCM", 16, 32, 12, 16},
    {"aes128-ctr", CipherEngine::Evp, 0, "AES-128-CTR", 16, 16, 16, 0},
    {"aes192-ctr", CipherEngine::Evp, 0, "AES-192-CTR", 16, 24, 16, 0},
    {"aes256-ctr", CipherEngine::Evp, 0, "AES-256-CTR", 16, 32, 16, 0},
    {"aes128-cbc", CipherEngine::Evp, 0, "AES-128-CBC", 16, 16, 16, 0},
    {"aes192-cbc", CipherEngine::Evp, 0, "AES-192-CBC", 16, 24, 16, 0},
    {"aes256-cbc", CipherEngine::Evp, 0, "AES-256-CBC", 16, 32, 16, 0},
    {"3des-cbc", CipherEngine::Legacy, SSH_CIPHER_3DES_CBC, nullptr, 8, 24, 8, 0},
    {"blowfish-cbc", CipherEngine::Legacy, SSH_CIPHER_BLOWFISH_CBC, nullptr, 8, 16, 8, 0},
    {"arcfour", CipherEngine::Legacy, SSH_CIPHER_ARCFOUR, nullptr, 8, 16, 0, 0},
    {"cast128-cbc", CipherEngine::Legacy, SSH_CIPHER_CAST128_CBC, nullptr, 8, 16, 8, 0},
};

constexpr uint32_t kChachaKey = 32;
constexpr uint32_t kPolyKey = 32;
constexpr uint32_t kGcmIv = 12;

struct CipherFree {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};

EVP_CIPHER_CTX* keyed_context(const char* evp_name, bool encrypt, const unsigned char* key,
                              const unsigned char* iv) {
    std::unique_ptr<EVP_CIPHER, CipherFree> cipher(EVP_CIPHER_fetch(nullptr, evp_name, nullptr));
    if (!cipher) fatal("cipher %s not available", evp_name);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (context == nullptr) fatal("cipher_state_new: out of memory");
    if (EVP_CipherInit_ex2(context, cipher.get(), key, iv, encrypt ? 1 : 0, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context, 0) != 1) {
        EVP_CIPHER_CTX_free(context);
        fatal("cipher_state_new: %s keying failed", evp_name);
    }
    return context;
}

// The 16-byte ChaCha20 IV of libcrypto: a 32-bit little-endian block counter,
// then the nonce words. The original cipher's 64-bit counter and 64-bit nonce
// map onto it as counter, zero high counter word, sequence number (RFC 4253's
// 32 bits as a 64-bit big-endian number).
void chacha_iv(unsigned char iv[16], uint32_t counter, uint32_t seqnr) {
    std::memset(iv, 0, 16);
    iv[0] = static_cast<unsigned char>(counter);
    iv[1] = static_cast<unsigned char>(counter >> 8);
    iv[2] = static_cast<unsigned char>(counter >> 16);
    iv[3] = static_cast<unsigned char>(counter >> 24);
    put_u32(iv + 12, seqnr);
}

}  // namespace

struct CipherState {
    const CipherRow* row;
    bool encrypt;
    CipherContext legacy;
    EVP_CIPHER_CTX* main;    // Evp, Gcm; ChachaPoly: the payload key (K_2)
    EVP_CIPHER_CTX* header;  // ChachaPoly: the length key (K_1)
    EVP_MAC_CTX* poly;       // ChachaPoly
    unsigned char gcm_iv[kGcmIv];
    // ChachaPoly receive side: the length last decrypted, so that opening the
    // same packet does not run the length key again.
    bool length_known;
    uint32_t length_seqnr;
    unsigned char length_wire[4];
    unsigned char length_clear[4];
};

const CipherRow* cipher_rows(size_t* count) {
    *count = sizeof kRows / sizeof kRows[0];
    return kRows;
}

const CipherRow* cipher_row_find(const char* name) {
    if (name == nullptr) return nullptr;
    for (const CipherRow& row : kRows)
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

const CipherRow* cipher_row_by_number(int number) {
    for (const CipherRow& row : kRows)
        if (row.engine == CipherEngine::Legacy && row.legacy_number == number) return &row;
    return nullptr;
}

CipherState* cipher_state_new(const CipherRow* row, bool encrypt, const unsigned char* key,
                              uint32_t key_len, const unsigned char* iv, uint32_t iv_len) {
    if (row->engine != CipherEngine::Legacy &&
        (key == nullptr || key_len < row->key_len || (row->iv_len > 0 && iv == nullptr) ||
         iv_len < row->iv_len))
        fatal("cipher_state_new: short key material for %s", row->name);
    auto* state = new CipherState{};
    state->row = row;
    state->encrypt = encrypt;
    try {
        switch (row->engine) {
            case CipherEngine::Legacy:
                cipher_set_key_iv(&state->legacy, row->legacy_number, key,
                                  static_cast<int>(key_len), iv, static_cast<int>(iv_len));
                break;
            case CipherEngine::Evp:
                state->main = keyed_context(row->evp_name, encrypt, key, iv);
                break;
            case CipherEngine::Gcm:
                std::memcpy(state->gcm_iv, iv, kGcmIv);
                state->main = keyed_context(row->evp_name, encrypt, key, nullptr);
                break;
            case CipherEngine::ChachaPoly: {
                unsigned char zero_iv[16] = {};
                state->main = keyed_context(row->evp_name, true, key, zero_iv);
                state->header = keyed_context(row->evp_name, true, key + kChachaKey, zero_iv);
                EVP_MAC* mac = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
                if (mac == nullptr) fatal("Poly1305 not available");
                state->poly = EVP_MAC_CTX_new(mac);
                EVP_MAC_free(mac);
                if (state->poly == nullptr) fatal("cipher_state_new: out of memory");
                break;
            }
        }
    } catch (...) {
        cipher_state_free(state);
        throw;
    }
    return state;
}

void cipher_state_free(CipherState* state) {
    if (state == nullptr) return;
    cipher_cleanup(&state->legacy);
    EVP_CIPHER_CTX_free(state->main);
    EVP_CIPHER_CTX_free(state->header);
    EVP_MAC_CTX_free(state->poly);
    OPENSSL_cleanse(state->gcm_iv, sizeof state->gcm_iv);
    delete state;
}

const CipherRow* cipher_state_row(const CipherState* state) {
    return state->row;
}

void cipher_state_crypt(CipherState* state, unsigned char* destination, const unsigned char* source,
                        uint32_t length) {
    if (state->row->engine == CipherEngine::Legacy) {
        if (state->encrypt) {
            cipher_encrypt(&state->legacy, destination, source, length);
        } else {
            cipher_decrypt(&state->legacy, destination, source, length);
        }
        return;
    }
    if (state->row->engine != CipherEngine::Evp) fatal("cipher_state_crypt: AEAD cipher");
    if (length % state->row->block_size != 0)
        fatal("cipher_state_crypt: bad length %u for %s", length, state->row->name);
    int produced = 0;
    if (length > 0 && (EVP_CipherUpdate(state->main, destination, &produced, source,
                                        static_cast<int>(length)) != 1 ||
                       produced != static_cast<int>(length)))
        fatal("cipher_state_crypt: %s failed", state->row->name);
}

namespace {

void chacha_run(EVP_CIPHER_CTX* context, uint32_t counter, uint32_t seqnr,
                unsigned char* destination, const unsigned char* source, uint32_t length) {
    unsigned char iv[16];
    chacha_iv(iv, counter, seqnr);
    int produced = 0;
    if (EVP_CipherInit_ex2(context, nullptr, nullptr, iv, 1, nullptr) != 1 ||
        (length > 0 &&
         EVP_CipherUpdate(context, destination, &produced, source, static_cast<int>(length)) != 1))
        fatal("chacha20-poly1305: ChaCha20 failed");
}

// Poly1305 over the wire bytes (encrypted length and body) with the one-time
// key from block 0 of the payload key.
void chacha_tag(CipherState* state, uint32_t seqnr, const unsigned char* wire, uint32_t length,
                unsigned char tag[16]) {
    unsigned char poly_key[kPolyKey] = {};
    chacha_run(state->main, 0, seqnr, poly_key, poly_key, kPolyKey);
    size_t produced = 0;
    bool ok = EVP_MAC_init(state->poly, poly_key, kPolyKey, nullptr) == 1 &&
              EVP_MAC_update(state->poly, wire, length) == 1 &&
              EVP_MAC_final(state->poly, tag, &produced, 16) == 1 && produced == 16;
    OPENSSL_cleanse(poly_key, sizeof poly_key);
    if (!ok) fatal("chacha20-poly1305: Poly1305 failed");
}

void gcm_start(CipherState* state, bool encrypt, const unsigned char aad[4]) {
    int produced = 0;
    if (EVP_CipherInit_ex2(state->main, nullptr, nullptr, state->gcm_iv, encrypt ? 1 : 0,
                           nullptr) != 1 ||
        EVP_CipherUpdate(state->main, nullptr, &produced, aad, 4) != 1)
        fatal("%s: start failed", state->row->name);
}

// RFC 5647 section 7.1: the low 64 bits of the nonce count invocations.
void gcm_next(CipherState* state) {
    for (int i = kGcmIv - 1; i >= 4; i--)
        if (++state->gcm_iv[i] != 0) break;
}

}  // namespace

uint32_t cipher_state_aead_length(CipherState* state, uint32_t seqnr, const unsigned char wire[4]) {
    if (state->row->engine == CipherEngine::Gcm) return get_u32(wire);
    chacha_run(state->header, 0, seqnr, state->length_clear, wire, 4);
    std::memcpy(state->length_wire, wire, 4);
    state->length_seqnr = seqnr;
    state->length_known = true;
    return get_u32(state->length_clear);
}

void cipher_state_aead_seal(CipherState* state, uint32_t seqnr, unsigned char* destination,
                            const unsigned char* source, uint32_t length) {
    const uint32_t body = length - 4;
    if (state->row->engine == CipherEngine::Gcm) {
        std::memmove(destination, source, 4);
        gcm_start(state, true, destination);
        int produced = 0;
        if ((body > 0 && EVP_CipherUpdate(state->main, destination + 4, &produced, source + 4,
                                          static_cast<int>(body)) != 1) ||
            EVP_CipherFinal_ex(state->main, destination + length, &produced) != 1 ||
            EVP_CIPHER_CTX_ctrl(state->main, EVP_CTRL_AEAD_GET_TAG, 16, destination + length) != 1)
            fatal("%s: encryption failed", state->row->name);
        gcm_next(state);
        return;
    }
    chacha_run(state->header, 0, seqnr, destination, source, 4);
    chacha_run(state->main, 1, seqnr, destination + 4, source + 4, body);
    chacha_tag(state, seqnr, destination, length, destination + length);
}

bool cipher_state_aead_open(CipherState* state, uint32_t seqnr, unsigned char* destination,
                            const unsigned char* source, uint32_t length) {
    const uint32_t body = length - 4;
    if (state->row->engine == CipherEngine::Gcm) {
        unsigned char tag[16];
        std::memcpy(tag, source + length, 16);
        unsigned char aad[4];
        std::memcpy(aad, source, 4);
        gcm_start(state, false, aad);
        int produced = 0;
        if (body > 0 && EVP_CipherUpdate(state->main, destination + 4, &produced, source + 4,
                                         static_cast<int>(body)) != 1)
            fatal("%s: decryption failed", state->row->name);
        if (EVP_CIPHER_CTX_ctrl(state->main, EVP_CTRL_AEAD_SET_TAG, 16, tag) != 1)
            fatal("%s: decryption failed", state->row->name);
        bool good = EVP_CipherFinal_ex(state->main, destination + length, &produced) == 1;
        gcm_next(state);
        if (!good) {
            OPENSSL_cleanse(destination + 4, body);
            return false;
        }
        std::memcpy(destination, aad, 4);
        return true;
    }
    unsigned char tag[16];
    chacha_tag(state, seqnr, source, length, tag);
    if (CRYPTO_memcmp(tag, source + length, 16) != 0) return false;
    if (state->length_known && state->length_seqnr == seqnr &&
        std::memcmp(state->length_wire, source, 4) == 0) {
        std::memcpy(destination, state->length_clear, 4);
    } else {
        chacha_run(state->header, 0, seqnr, destination, source, 4);
    }
    state->length_known = false;
    chacha_run(state->main, 1, seqnr, destination + 4, source + 4, body);
    return true;
}
