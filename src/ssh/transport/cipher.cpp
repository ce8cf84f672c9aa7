#include "ssh/transport/cipher.h"

#include <algorithm>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "ssh/wire/log.h"

namespace {

constexpr const char* kCipherNames[] = {
    "none",     "idea",     "des",          "3des",     "tss",     "rc4",
    "blowfish", "reserved", "blowfish-cbc", "3des-cbc", "arcfour", "cast128-cbc",
};
constexpr int kCipherCount = sizeof kCipherNames / sizeof kCipherNames[0];

constexpr uint32_t kMask1 = (1u << SSH_CIPHER_3DES) | (1u << SSH_CIPHER_BLOWFISH);
constexpr uint32_t kMask2 = (1u << SSH_CIPHER_BLOWFISH_CBC) | (1u << SSH_CIPHER_3DES_CBC) |
                            (1u << SSH_CIPHER_ARCFOUR) | (1u << SSH_CIPHER_CAST128_CBC);

// Zeroed scratch that holds a key or IV, so that short material reads as
// zeros instead of running past the caller's block.
template <size_t N>
struct Scratch {
    unsigned char bytes[N] = {};
    Scratch(const unsigned char* source, int length) {
        if (source != nullptr && length > 0)
            std::memcpy(bytes, source, std::min<size_t>(N, static_cast<size_t>(length)));
    }
    ~Scratch() { OPENSSL_cleanse(bytes, N); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// Variable-length key schedules of the library read at least one byte.
int usable_length(const unsigned char* key, int length) {
    return key != nullptr && length > 0 ? length : 0;
}

void swap_words(unsigned char* destination, const unsigned char* source, uint32_t length) {
    for (uint32_t i = 0; i < length; i += 4) {
        unsigned char b0 = source[i], b1 = source[i + 1], b2 = source[i + 2], b3 = source[i + 3];
        destination[i] = b3;
        destination[i + 1] = b2;
        destination[i + 2] = b1;
        destination[i + 3] = b0;
    }
}

// SSH-1 "3des": three single-DES CBC passes, each with its own chaining state
// carried between calls (inner CBC). DES_cbc_encrypt leaves its IV untouched,
// so the chaining blocks are carried by hand.
void des3_ssh1_encrypt(CipherContext* context, unsigned char* destination,
                       const unsigned char* source, uint32_t length) {
    auto& s = context->u.des3;
    DES_cblock t;
    std::memcpy(t, s.iv2, 8);
    DES_cbc_encrypt(source, destination, length, &s.key1, &t, DES_ENCRYPT);
    std::memcpy(t, destination + length - 8, 8);
    DES_cbc_encrypt(destination, destination, length, &s.key2, &s.iv2, DES_DECRYPT);
    std::memcpy(s.iv2, t, 8);
    DES_cbc_encrypt(destination, destination, length, &s.key3, &s.iv3, DES_ENCRYPT);
    std::memcpy(s.iv3, destination + length - 8, 8);
    OPENSSL_cleanse(t, sizeof t);
}

void des3_ssh1_decrypt(CipherContext* context, unsigned char* destination,
                       const unsigned char* source, uint32_t length) {
    auto& s = context->u.des3;
    DES_cblock t, last_source;
    std::memcpy(t, s.iv2, 8);
    // Taken before the first pass so that decrypting in place works too.
    std::memcpy(last_source, source + length - 8, 8);
    DES_cbc_encrypt(source, destination, length, &s.key3, &s.iv3, DES_DECRYPT);
    std::memcpy(s.iv3, last_source, 8);
    DES_cbc_encrypt(destination, destination, length, &s.key2, &s.iv2, DES_ENCRYPT);
    std::memcpy(s.iv2, destination + length - 8, 8);
    DES_cbc_encrypt(destination, destination, length, &s.key1, &t, DES_DECRYPT);
    OPENSSL_cleanse(t, sizeof t);
}

void blowfish_ssh1(CipherContext* context, unsigned char* destination, const unsigned char* source,
                   uint32_t length, int mode) {
    swap_words(destination, source, length);
    BF_cbc_encrypt(destination, destination, length, &context->u.bf.key, context->u.bf.iv, mode);
    swap_words(destination, destination, length);
}

void run_cipher(CipherContext* context, unsigned char* destination, const unsigned char* source,
                uint32_t length, bool encrypt) {
    if (length % 8 != 0) {
        if (encrypt) fatal("cipher_encrypt: bad plaintext length %u", length);
        fatal("cipher_decrypt: bad ciphertext length %u", length);
    }
    const int mode = encrypt ? 1 : 0;  // BF_ENCRYPT, CAST_ENCRYPT, DES_ENCRYPT are all 1
    switch (context->type) {
        case SSH_CIPHER_NONE:
            if (length > 0 && destination != source) std::memmove(destination, source, length);
            return;
        case SSH_CIPHER_3DES:
            if (length == 0) return;
            if (encrypt) {
                des3_ssh1_encrypt(context, destination, source, length);
            } else {
                des3_ssh1_decrypt(context, destination, source, length);
            }
            return;
        case SSH_CIPHER_BLOWFISH:
            blowfish_ssh1(context, destination, source, length, mode);
            return;
        case SSH_CIPHER_BLOWFISH_CBC:
            BF_cbc_encrypt(source, destination, length, &context->u.bf.key, context->u.bf.iv, mode);
            return;
        case SSH_CIPHER_3DES_CBC: {
            auto& s = context->u.des3;
            DES_ede3_cbc_encrypt(source, destination, length, &s.key1, &s.key2, &s.key3, &s.iv3,
                                 mode);
            return;
        }
        case SSH_CIPHER_ARCFOUR:
            RC4(&context->u.rc4, length, source, destination);
            return;
        case SSH_CIPHER_CAST128_CBC:
            CAST_cbc_encrypt(source, destination, length, &context->u.cast.key, context->u.cast.iv,
                             mode);
            return;
        default:
            if (encrypt) fatal("cipher_encrypt: unknown cipher: %s", cipher_name(context->type));
            fatal("cipher_decrypt: unknown cipher: %s", cipher_name(context->type));
    }
}

}  // namespace

const char* cipher_name(int number) {
    if (number < 0 || number >= kCipherCount || kCipherNames[number] == nullptr)
        fatal("cipher_name: bad cipher name: %d", number);
    return kCipherNames[number];
}

int cipher_number(const char* name) {
    if (name == nullptr) return -1;
    for (int number = 0; number < kCipherCount; number++)
        if (std::strcmp(kCipherNames[number], name) == 0 && (cipher_mask() & (1u << number)) != 0)
            return number;
    return -1;
}

uint32_t cipher_mask1() {
    return kMask1;
}
uint32_t cipher_mask2() {
    return kMask2;
}
uint32_t cipher_mask() {
    return kMask1 | kMask2;
}

void cipher_set_key(CipherContext* context, int number, const unsigned char* key, int key_length) {
    Scratch<32> padded(key, key_length);
    switch (number) {
        case SSH_CIPHER_NONE:
            break;
        case SSH_CIPHER_3DES: {
            if (key_length < 16) error("Key length %d is insufficient for 3DES.", key_length);
            auto& s = context->u.des3;
            DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(padded.bytes), &s.key1);
            DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(padded.bytes + 8), &s.key2);
            unsigned char* third = key_length <= 16 ? padded.bytes : padded.bytes + 16;
            DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(third), &s.key3);
            std::memset(s.iv2, 0, 8);
            std::memset(s.iv3, 0, 8);
            break;
        }
        case SSH_CIPHER_BLOWFISH: {
            if (key_length < 16) error("Key length %d is insufficient for blowfish.", key_length);
            // The scratch area holds 32 bytes; the key schedule reads no more.
            int length = std::clamp(key_length, 1, 32);
            BF_set_key(&context->u.bf.key, length, padded.bytes);
            std::memset(context->u.bf.iv, 0, 8);
            break;
        }
        case SSH_CIPHER_BLOWFISH_CBC:
        case SSH_CIPHER_3DES_CBC:
        case SSH_CIPHER_ARCFOUR:
        case SSH_CIPHER_CAST128_CBC:
            fatal("cipher_set_key: illegal cipher: %s", cipher_name(number));
        default:
            fatal("cipher_set_key: unknown cipher: %s", cipher_name(number));
    }
    // Only a keyed context takes the new number: a refused one stays as it was.
    context->type = number;
}

void cipher_set_key_iv(CipherContext* context, int number, const unsigned char* key, int key_length,
                       const unsigned char* iv, int iv_length) {
    static const unsigned char kZeroByte[1] = {0};
    const unsigned char* variable_key = usable_length(key, key_length) > 0 ? key : kZeroByte;
    const int variable_length = std::max(usable_length(key, key_length), 1);
    Scratch<8> padded_iv(iv, iv_length);
    switch (number) {
        case SSH_CIPHER_NONE:
            break;
        case SSH_CIPHER_3DES:
        case SSH_CIPHER_BLOWFISH:
            fatal("cipher_set_key_iv: illegal cipher: %s", cipher_name(number));
        case SSH_CIPHER_BLOWFISH_CBC:
            if (key_length < 16) error("Key length %d is insufficient for blowfish.", key_length);
            if (iv_length < 8) error("IV length %d is insufficient for blowfish.", iv_length);
            BF_set_key(&context->u.bf.key, variable_length, variable_key);
            std::memcpy(context->u.bf.iv, padded_iv.bytes, 8);
            break;
        case SSH_CIPHER_3DES_CBC: {
            if (key_length < 24) error("Key length %d is insufficient for 3des-cbc.", key_length);
            Scratch<24> padded(key, key_length);
            auto& s = context->u.des3;
            DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(padded.bytes), &s.key1);
            DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(padded.bytes + 8), &s.key2);
            DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(padded.bytes + 16), &s.key3);
            if (iv_length < 8) error("IV length %d is insufficient for 3des-cbc.", iv_length);
            std::memcpy(s.iv3, padded_iv.bytes, 8);
            break;
        }
        case SSH_CIPHER_ARCFOUR:
            if (key_length < 16) error("Key length %d is insufficient for arcfour.", key_length);
            RC4_set_key(&context->u.rc4, variable_length, variable_key);
            break;
        case SSH_CIPHER_CAST128_CBC:
            if (key_length < 16) error("Key length %d is insufficient for cast128.", key_length);
            if (iv_length < 8) error("IV length %d is insufficient for cast128.", iv_length);
            CAST_set_key(&context->u.cast.key, variable_length, variable_key);
            std::memcpy(context->u.cast.iv, padded_iv.bytes, 8);
            break;
        default:
            fatal("cipher_set_key: unknown cipher: %s", cipher_name(number));
    }
    // Only a keyed context takes the new number: a refused one stays as it was.
    context->type = number;
}

void cipher_set_key_string(CipherContext* context, int number, const char* passphrase) {
    unsigned char digest[16];
    unsigned int digest_length = 0;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool ok = md != nullptr && EVP_DigestInit_ex(md, EVP_md5(), nullptr) == 1 &&
              EVP_DigestUpdate(md, passphrase, std::strlen(passphrase)) == 1 &&
              EVP_DigestFinal_ex(md, digest, &digest_length) == 1 && digest_length == 16;
    EVP_MD_CTX_free(md);  // wipes the digest state
    if (!ok) {
        OPENSSL_cleanse(digest, sizeof digest);
        fatal("cipher_set_key_string: MD5 failed");
    }
    try {
        cipher_set_key(context, number, digest, 16);
    } catch (...) {
        OPENSSL_cleanse(digest, sizeof digest);
        throw;
    }
    OPENSSL_cleanse(digest, sizeof digest);
}

void cipher_encrypt(CipherContext* context, unsigned char* destination, const unsigned char* source,
                    uint32_t length) {
    run_cipher(context, destination, source, length, true);
}

void cipher_decrypt(CipherContext* context, unsigned char* destination, const unsigned char* source,
                    uint32_t length) {
    run_cipher(context, destination, source, length, false);
}

void cipher_cleanup(CipherContext* context) {
    OPENSSL_cleanse(context, sizeof *context);
}
