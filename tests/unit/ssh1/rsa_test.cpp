// The refusals of the PKCS #1 v1.5 operations on protocol-1 numbers; their
// results are checked against libcrypto by the key exchange and the RSA
// challenge in sshconnect1_test.
#include "ssh/keys/rsa.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh1_test_support.h"

namespace {

class RsaTest : public Ssh1Test {};

TEST_F(RsaTest, RefusalsAreFatal) {
    RSA* key = SharedRsa(768);
    BnHandle value = BnFromHex("1234");
    BnHandle out(BN_new());
    for (unsigned long e : {0ul, 1ul, 2ul, 3ul, 4ul, 65536ul}) {
        RsaHandle copy(RSA_new());
        BIGNUM* exponent = BN_new();
        BN_set_word(exponent, e);
        RSA_set0_key(copy.get(), BN_dup(RSA_get0_n(key)), exponent, nullptr);
        if (e == 3) {
            rsa_public_encrypt(out.get(), value.get(), copy.get());
            EXPECT_FALSE(BN_is_zero(out.get()));
            continue;
        }
        EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), value.get(), copy.get()); }),
                  "rsa_public_encrypt() exponent too small or not odd")
            << e;
    }
    // PKCS #1 needs 11 bytes of the modulus for itself: 86 of 96 bytes is too long.
    BnHandle too_long = BnFromBytes(std::string(86, '\x5a'));
    EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), too_long.get(), key); }),
              "rsa_public_encrypt() failed");
    BnHandle fits = BnFromBytes(std::string(85, '\x5a'));
    rsa_public_encrypt(out.get(), fits.get(), key);
    EXPECT_EQ(LibraryRsaDecrypt(
                  key, std::string(96 - BN_num_bytes(out.get()), '\0') + BnBytes(out.get())),
              std::string(85, '\x5a'));

    // A number that does not decrypt to a type-2 block, and one above the modulus.
    BnHandle garbage = BnFromHex("0123456789");
    EXPECT_EQ(FatalMessage([&] { rsa_private_decrypt(out.get(), garbage.get(), key); }),
              "rsa_private_decrypt() failed");
    BnHandle above(BN_dup(RSA_get0_n(key)));
    BN_lshift(above.get(), above.get(), 8);
    EXPECT_EQ(FatalMessage([&] { rsa_private_decrypt(out.get(), above.get(), key); }),
              "rsa_private_decrypt() failed");
}

}  // namespace
