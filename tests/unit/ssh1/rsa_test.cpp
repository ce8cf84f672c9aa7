// The refusals of the PKCS #1 v1.5 operations on protocol-1 numbers; their
// results are checked against libcrypto by the logins of ssh1_connection.
#include "ssh/keys/rsa.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh1_test_support.h"

namespace {

TEST_F(SshTest, RsaRefusalsAreFatal) {
    RSA* key = DataKey("k768");
    BignumPtr value = BnFromBytes("\x12\x34");
    BignumPtr out(BN_new());
    // Exponents below 3 or even are refused; 3 is the smallest taken.
    for (unsigned long e : {0ul, 1ul, 2ul, 3ul, 4ul, 65536ul}) {
        RsaHandle copy(RSA_new());
        BIGNUM* exponent = BN_new();
        BN_set_word(exponent, e);
        RSA_set0_key(copy.get(), BN_dup(RSA_get0_n(key)), exponent, nullptr);
        std::string message;
        try {
            rsa_public_encrypt(out.get(), value.get(), copy.get());
        } catch (const TException& error) {
            message = error.Message();
        }
        EXPECT_EQ(message, e == 3 ? "" : "rsa_public_encrypt() exponent too small or not odd") << e;
    }
    // PKCS #1 needs 11 bytes of the modulus for itself: 86 of 96 bytes is too long.
    BignumPtr too_long = BnFromBytes(std::string(86, '\x5a'));
    EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), too_long.get(), key); }),
              "rsa_public_encrypt() failed");
    BignumPtr fits = BnFromBytes(std::string(85, '\x5a'));
    rsa_public_encrypt(out.get(), fits.get(), key);
    EXPECT_EQ(LibraryRsaDecrypt(
                  key, std::string(96 - BN_num_bytes(out.get()), '\0') + BnBytes(out.get())),
              std::string(85, '\x5a'));

    // A number that does not decrypt to a type-2 block, and one above the modulus.
    BignumPtr garbage = BnFromBytes("\x01\x23\x45\x67\x89");
    EXPECT_EQ(FatalMessage([&] { rsa_private_decrypt(out.get(), garbage.get(), key); }),
              "rsa_private_decrypt() failed");
    BignumPtr above(BN_dup(RSA_get0_n(key)));
    BN_lshift(above.get(), above.get(), 8);
    EXPECT_EQ(FatalMessage([&] { rsa_private_decrypt(out.get(), above.get(), key); }),
              "rsa_private_decrypt() failed");
}

}  // namespace
