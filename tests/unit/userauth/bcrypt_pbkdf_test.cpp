// bcrypt_pbkdf against published vectors, and Blowfish's initial state
// (computed from pi) against libcrypto's key schedule, which starts from it.
#include "ssh/keys/bcrypt_pbkdf.h"

#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include <cstring>
#include <string>
#include <vector>

#include "../ssh/data_rows.h"

namespace {

TEST(BcryptPbkdf, PublishedVectors) {
    const auto rows = DataRows("userauth/bcrypt_pbkdf");
    EXPECT_EQ(5u, rows.size());
    for (const auto& row : rows) {
        SCOPED_TRACE(row[3]);
        const std::string password = HexBytes(row[0]), salt = HexBytes(row[1]);
        const std::string expected = HexBytes(row[3]);
        std::string key(expected.size(), '\0');
        ASSERT_TRUE(bcrypt_pbkdf(reinterpret_cast<const uint8_t*>(password.data()), password.size(),
                                 reinterpret_cast<const uint8_t*>(salt.data()), salt.size(),
                                 reinterpret_cast<uint8_t*>(key.data()), key.size(),
                                 static_cast<uint32_t>(std::stoul(row[2]))));
        EXPECT_EQ(expected, key);
    }
}

TEST(BcryptPbkdf, RefusesDegenerateArguments) {
    const uint8_t salt[4] = {1, 2, 3, 4};
    uint8_t key[48];
    EXPECT_FALSE(bcrypt_pbkdf(salt, 4, salt, 4, key, sizeof key, 0));
    EXPECT_FALSE(bcrypt_pbkdf(salt, 4, salt, 0, key, sizeof key, 1));
    EXPECT_FALSE(bcrypt_pbkdf(salt, 4, salt, 4, key, 0, 1));
    std::vector<uint8_t> big(1025);
    EXPECT_FALSE(bcrypt_pbkdf(salt, 4, salt, 4, big.data(), big.size(), 1));
    // A 48-byte key (aes256-ctr key and IV) spreads over two blocks: its
    // first 24 bytes are not the 24-byte key's.
    uint8_t short_key[24];
    ASSERT_TRUE(bcrypt_pbkdf(salt, 4, salt, 4, key, sizeof key, 2));
    ASSERT_TRUE(bcrypt_pbkdf(salt, 4, salt, 4, short_key, sizeof short_key, 2));
    EXPECT_NE(0, std::memcmp(key, short_key, sizeof short_key));
}

TEST(BcryptPbkdf, PiStateMatchesLibcryptoKeySchedule) {
    const uint32_t* pi = blowfish_pi_words();
    EXPECT_EQ(0x243F6A88u, pi[0]);
    for (const std::string key :
         {"abc", "a longer Blowfish key of 56 bytes at the very most!!!!"}) {
        SCOPED_TRACE(key);
        BF_KEY expected;
        BF_set_key(&expected, static_cast<int>(key.size()),
                   reinterpret_cast<const unsigned char*>(key.data()));
        // Blowfish's schedule: the key cycled into the subkeys, then the
        // chained encryption of zeros replacing subkeys and S-boxes.
        BF_KEY state;
        for (int i = 0; i < BF_ROUNDS + 2; ++i) state.P[i] = pi[i];
        for (int i = 0; i < 4 * 256; ++i) state.S[i] = pi[BF_ROUNDS + 2 + i];
        std::size_t j = 0;
        for (int i = 0; i < BF_ROUNDS + 2; ++i) {
            BF_LONG word = 0;
            for (int b = 0; b < 4; ++b, j = (j + 1) % key.size())
                word = (word << 8) | static_cast<uint8_t>(key[j]);
            state.P[i] ^= word;
        }
        BF_LONG block[2] = {0, 0};
        for (int i = 0; i < BF_ROUNDS + 2; i += 2) {
            BF_encrypt(block, &state);
            state.P[i] = block[0];
            state.P[i + 1] = block[1];
        }
        for (int i = 0; i < 4 * 256; i += 2) {
            BF_encrypt(block, &state);
            state.S[i] = block[0];
            state.S[i + 1] = block[1];
        }
        EXPECT_EQ(0, std::memcmp(expected.P, state.P, sizeof state.P));
        EXPECT_EQ(0, std::memcmp(expected.S, state.S, sizeof state.S));
    }
}

}  // namespace
