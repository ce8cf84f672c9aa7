#include "ssh/wire/random.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <set>
#include <vector>

#include "ssh_test_support.h"

using RandomTest = SshTest;

TEST_F(RandomTest, KeystreamIsRc4LowestByteFirst) {
    ASSERT_TRUE(LoadLegacyProviders());
    unsigned char key[32];
    for (int i = 0; i < 32; i++) key[i] = static_cast<unsigned char>(i * 29 + 3);

    RandomState state;
    random_state_key(&state, key, sizeof key);
    std::vector<unsigned char> ours;
    for (int n = 0; n < 256; n++) {
        uint32_t word = random_state_word(&state);
        for (int k = 0; k < 4; k++) ours.push_back(static_cast<unsigned char>(word >> (8 * k)));
    }

    EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
    ASSERT_NE(rc4, nullptr);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_EncryptInit_ex2(context, rc4, nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_set_key_length(context, 32), 1);
    ASSERT_EQ(EVP_EncryptInit_ex2(context, nullptr, key, nullptr, nullptr), 1);
    std::vector<unsigned char> zeros(ours.size()), keystream(ours.size());
    int n = 0;
    ASSERT_EQ(EVP_EncryptUpdate(context, keystream.data(), &n, zeros.data(),
                                static_cast<int>(zeros.size())),
              1);
    EVP_CIPHER_CTX_free(context);
    EVP_CIPHER_free(rc4);
    EXPECT_EQ(ours, keystream);
}

TEST_F(RandomTest, StirringRekeysFromFreshEntropy) {
    std::set<uint32_t> words;
    for (int round = 0; round < 4; round++) {
        random_stir();
        for (int n = 0; n < 64; n++) words.insert(random_word());
    }
    // 256 draws of 32 bits from four independent keys: a repeat is
    // vanishingly unlikely unless stirring reproduced a key.
    EXPECT_GE(words.size(), 255u);
}
