// PKCS #1 v1.5 encryption and decryption of protocol-1 numbers, checked
// against libcrypto's own RSA operations on keys it generated.
#include "ssh/keys/rsa.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh1_test_support.h"

namespace {

class RsaTest : public Ssh1Test {};

RsaHandle PublicKeyWithExponent(const RSA* base, unsigned long e) {
    RsaHandle copy(RSA_new());
    BIGNUM* exponent = BN_new();
    BN_set_word(exponent, e);
    RSA_set0_key(copy.get(), BN_dup(RSA_get0_n(base)), exponent, nullptr);
    return copy;
}

TEST_F(RsaTest, PublicEncryptionRoundTripsThroughTheLibrary) {
    for (int bits : {768, 1024}) {
        RSA* key = SharedRsa(bits);
        RsaHandle public_key = PublicCopy(key);
        const std::string message = "\x01\x02 thirty-two bytes of session k";
        BnHandle plain = BnFromBytes(message);
        BnHandle cipher(BN_new());
        rsa_public_encrypt(cipher.get(), plain.get(), public_key.get());
        // Padding is random, and the result is a number below the modulus.
        EXPECT_LT(BN_cmp(cipher.get(), RSA_get0_n(key)), 0);
        std::string padded(static_cast<size_t>(RSA_size(key)), '\0');
        BN_bn2binpad(cipher.get(), reinterpret_cast<unsigned char*>(padded.data()), RSA_size(key));
        EXPECT_EQ(LibraryRsaDecrypt(key, padded), message) << bits;
    }
}

TEST_F(RsaTest, PrivateDecryptionUndoesTheLibrarysEncryption) {
    RSA* key = SharedRsa(1024);
    // Leading zero bytes are not part of a number: they vanish on the way.
    const std::string message("\x00\x00\x07 challenge bytes", 19);
    BnHandle cipher = BnFromBytes(LibraryRsaEncrypt(key, message));
    rsa_private_decrypt(cipher.get(), cipher.get(), key);  // in place
    EXPECT_EQ(BnBytes(cipher.get()), message.substr(2));
}

TEST_F(RsaTest, ExponentsBelowThreeOrEvenAreRefused) {
    RSA* key = SharedRsa(768);
    BnHandle value = BnFromHex("1234");
    BnHandle out(BN_new());
    for (unsigned long e : {0ul, 1ul, 2ul, 4ul, 65536ul}) {
        RsaHandle weak = PublicKeyWithExponent(key, e);
        EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), value.get(), weak.get()); }),
                  "rsa_public_encrypt() exponent too small or not odd")
            << e;
    }
    RsaHandle three = PublicKeyWithExponent(key, 3);
    rsa_public_encrypt(out.get(), value.get(), three.get());
    EXPECT_FALSE(BN_is_zero(out.get()));
}

TEST_F(RsaTest, LibraryRefusalsAreFatal) {
    RSA* key = SharedRsa(768);
    BnHandle out(BN_new());
    // PKCS #1 needs 11 bytes of the modulus for itself: 86 of 96 bytes is too long.
    BnHandle too_long = BnFromBytes(std::string(86, '\x5a'));
    EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), too_long.get(), key); }),
              "rsa_public_encrypt() failed");
    BnHandle fits = BnFromBytes(std::string(85, '\x5a'));
    rsa_public_encrypt(out.get(), fits.get(), key);

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
