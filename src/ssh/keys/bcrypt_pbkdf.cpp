#include "ssh/keys/bcrypt_pbkdf.h"

#include <cstring>
#include <mutex>

#include <openssl/blowfish.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>

namespace {

constexpr int kPiWords = 18 + 4 * 256;

// atan(1/x) * 2^bits, by its Taylor series in fixed point.
bool ArcTanInverse(unsigned long x, int bits, BIGNUM* sum) {
    BIGNUM* term = BN_new();
    BIGNUM* part = BN_new();
    bool ok = term != nullptr && part != nullptr && BN_set_word(term, 1) == 1 &&
              BN_lshift(term, term, bits) == 1 && BN_div_word(term, x) != (BN_ULONG)-1 &&
              BN_copy(sum, term) != nullptr;
    const unsigned long x2 = x * x;
    for (unsigned long k = 1; ok && !BN_is_zero(term); ++k) {
        ok = BN_div_word(term, x2) != (BN_ULONG)-1 && BN_copy(part, term) != nullptr &&
             BN_div_word(part, 2 * k + 1) != (BN_ULONG)-1 &&
             ((k & 1) ? BN_sub(sum, sum, part) : BN_add(sum, sum, part)) == 1;
    }
    BN_free(term);
    BN_free(part);
    return ok;
}

// Machin's formula pi = 16 atan(1/5) - 4 atan(1/239); 64 guard bits absorb
// the truncation of every series term.
bool ComputePiWords(uint32_t* words) {
    const int fraction_bits = 32 * kPiWords;
    const int bits = fraction_bits + 64;
    BIGNUM* a = BN_new();
    BIGNUM* b = BN_new();
    BIGNUM* three = BN_new();
    uint8_t bytes[4 * kPiWords];
    bool ok = a != nullptr && b != nullptr && three != nullptr && ArcTanInverse(5, bits, a) &&
              ArcTanInverse(239, bits, b) && BN_lshift(a, a, 4) == 1 && BN_lshift(b, b, 2) == 1 &&
              BN_sub(a, a, b) == 1 && BN_set_word(three, 3) == 1 &&
              BN_lshift(three, three, bits) == 1 && BN_sub(a, a, three) == 1 &&
              BN_rshift(a, a, 64) == 1 && BN_bn2binpad(a, bytes, sizeof bytes) == sizeof bytes;
    if (ok) {
        for (int i = 0; i < kPiWords; ++i)
            words[i] = (uint32_t{bytes[4 * i]} << 24) | (uint32_t{bytes[4 * i + 1]} << 16) |
                       (uint32_t{bytes[4 * i + 2]} << 8) | uint32_t{bytes[4 * i + 3]};
    }
    BN_free(a);
    BN_free(b);
    BN_free(three);
    return ok;
}

uint32_t StreamWord(const uint8_t* data, std::size_t length, std::size_t* position) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        word = (word << 8) | data[*position];
        *position = (*position + 1) % length;
    }
    return word;
}

void InitState(BF_KEY* state) {
    const uint32_t* pi = blowfish_pi_words();
    for (int i = 0; i < BF_ROUNDS + 2; ++i) state->P[i] = pi[i];
    for (int i = 0; i < 4 * 256; ++i) state->S[i] = pi[BF_ROUNDS + 2 + i];
}

// The key schedule with the salt mixed into the chained blocks; without a
// salt it is Blowfish's own key schedule.
void ExpandState(BF_KEY* state, const uint8_t* salt, std::size_t salt_length, const uint8_t* key,
                 std::size_t key_length) {
    std::size_t j = 0;
    for (int i = 0; i < BF_ROUNDS + 2; ++i) state->P[i] ^= StreamWord(key, key_length, &j);
    j = 0;
    BF_LONG block[2] = {0, 0};
    auto next = [&](BF_LONG* out) {
        if (salt != nullptr) {
            block[0] ^= StreamWord(salt, salt_length, &j);
            block[1] ^= StreamWord(salt, salt_length, &j);
        }
        BF_encrypt(block, state);
        out[0] = block[0];
        out[1] = block[1];
    };
    for (int i = 0; i < BF_ROUNDS + 2; i += 2) next(&state->P[i]);
    for (int i = 0; i < 4 * 256; i += 2) next(&state->S[i]);
}

constexpr std::size_t kHashLength = 32;

void BcryptHash(const uint8_t* sha2pass, const uint8_t* sha2salt, uint8_t* out) {
    static const char kMagic[] = "OxychromaticBlowfishSwatDynamite";
    BF_KEY state;
    InitState(&state);
    ExpandState(&state, sha2salt, 64, sha2pass, 64);
    for (int i = 0; i < 64; ++i) {
        ExpandState(&state, nullptr, 0, sha2salt, 64);
        ExpandState(&state, nullptr, 0, sha2pass, 64);
    }
    BF_LONG words[8];
    std::size_t j = 0;
    for (BF_LONG& w : words)
        w = StreamWord(reinterpret_cast<const uint8_t*>(kMagic), kHashLength, &j);
    for (int i = 0; i < 64; ++i)
        for (int b = 0; b < 8; b += 2) BF_encrypt(&words[b], &state);
    // The words leave little-endian.
    for (int i = 0; i < 8; ++i) {
        out[4 * i] = static_cast<uint8_t>(words[i]);
        out[4 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
        out[4 * i + 2] = static_cast<uint8_t>(words[i] >> 16);
        out[4 * i + 3] = static_cast<uint8_t>(words[i] >> 24);
    }
    OPENSSL_cleanse(&state, sizeof state);
    OPENSSL_cleanse(words, sizeof words);
}

}  // namespace

const uint32_t* blowfish_pi_words() {
    static uint32_t words[kPiWords];
    static std::once_flag once;
    std::call_once(once, [] {
        if (!ComputePiWords(words)) std::memset(words, 0, sizeof words);
    });
    return words;
}

bool bcrypt_pbkdf(const uint8_t* passphrase, std::size_t passphrase_length, const uint8_t* salt,
                  std::size_t salt_length, uint8_t* key, std::size_t key_length, uint32_t rounds) {
    if (rounds == 0 || salt_length == 0 || key_length == 0 || key_length > 1024) return false;
    if (blowfish_pi_words()[0] != 0x243F6A88) return false;
    const std::size_t stride = (key_length + kHashLength - 1) / kHashLength;
    const std::size_t amount = (key_length + stride - 1) / stride;

    uint8_t sha2pass[64];
    SHA512(passphrase, passphrase_length, sha2pass);
    uint8_t sha2salt[64];
    uint8_t block[kHashLength];
    uint8_t output[kHashLength];
    uint8_t* count_salt = static_cast<uint8_t*>(OPENSSL_malloc(salt_length + 4));
    if (count_salt == nullptr) return false;
    std::memcpy(count_salt, salt, salt_length);

    std::size_t left = key_length;
    for (uint32_t count = 1; left > 0; ++count) {
        count_salt[salt_length] = static_cast<uint8_t>(count >> 24);
        count_salt[salt_length + 1] = static_cast<uint8_t>(count >> 16);
        count_salt[salt_length + 2] = static_cast<uint8_t>(count >> 8);
        count_salt[salt_length + 3] = static_cast<uint8_t>(count);
        SHA512(count_salt, salt_length + 4, sha2salt);
        BcryptHash(sha2pass, sha2salt, block);
        std::memcpy(output, block, sizeof output);
        for (uint32_t round = 1; round < rounds; ++round) {
            SHA512(block, sizeof block, sha2salt);
            BcryptHash(sha2pass, sha2salt, block);
            for (std::size_t i = 0; i < sizeof output; ++i) output[i] ^= block[i];
        }
        // Output byte i of this block goes to position i * stride + (count - 1).
        const std::size_t take = amount < left ? amount : left;
        std::size_t i = 0;
        for (; i < take; ++i) {
            const std::size_t destination = i * stride + (count - 1);
            if (destination >= key_length) break;
            key[destination] = output[i];
        }
        left -= i;
    }
    OPENSSL_cleanse(sha2pass, sizeof sha2pass);
    OPENSSL_cleanse(sha2salt, sizeof sha2salt);
    OPENSSL_cleanse(block, sizeof block);
    OPENSSL_cleanse(output, sizeof output);
    OPENSSL_clear_free(count_salt, salt_length + 4);
    return true;
}
