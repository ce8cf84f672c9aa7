// bcrypt_pbkdf against published vectors; they use every word of Blowfish's
// initial state, which is computed from pi, so they check it too.
#include "ssh/keys/bcrypt_pbkdf.h"

#include <gtest/gtest.h>

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

}  // namespace
