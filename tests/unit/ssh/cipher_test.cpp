#include "ssh/transport/cipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sstream>
#include <string>
#include <vector>

#include "ssh_test_support.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes Pattern(size_t n, unsigned seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<unsigned char>(seed >> 16);
    }
    return bytes;
}

Bytes Encrypt(CipherContext* context, const Bytes& in) {
    Bytes out(in.size());
    cipher_encrypt(context, out.data(), in.data(), static_cast<uint32_t>(in.size()));
    return out;
}

Bytes Decrypt(CipherContext* context, const Bytes& in) {
    Bytes out(in.size());
    cipher_decrypt(context, out.data(), in.data(), static_cast<uint32_t>(in.size()));
    return out;
}

Bytes FromHex(const std::string& hex) {
    const std::string bytes = HexBytes(hex);
    return Bytes(bytes.begin(), bytes.end());
}

}  // namespace

using CipherTest = SshTest;

TEST_F(CipherTest, NamesNumbersAndMasks) {
    // "des" is named but not supported; names are case-sensitive.
    for (auto [name, number] : {std::pair<const char*, int>{"3des", 3},
                                {"blowfish", 6},
                                {"arcfour", 10},
                                {"cast128-cbc", 11},
                                {"des", -1},
                                {"3DES", -1},
                                {"none", -1},
                                {nullptr, -1}})
        EXPECT_EQ(cipher_number(name), number) << (name != nullptr ? name : "null");
    EXPECT_STREQ(cipher_name(9), "3des-cbc");
    EXPECT_STREQ(cipher_name(0), "none");
    EXPECT_EQ(FatalMessage([] { cipher_name(12); }), "cipher_name: bad cipher name: 12");
    EXPECT_EQ(FatalMessage([] { cipher_name(-1); }), "cipher_name: bad cipher name: -1");
    EXPECT_EQ(cipher_mask1(), 0x48u);
    EXPECT_EQ(cipher_mask2(), 0xF00u);
    EXPECT_EQ(cipher_mask(), 0xF48u);

    // "none" copies.
    CipherContext none{};
    Bytes data = Pattern(24, 4);
    EXPECT_EQ(Encrypt(&none, data), data);
    EXPECT_EQ(Decrypt(&none, data), data);
}

TEST_F(CipherTest, LengthsMustBeMultiplesOf8ForEveryCipher) {
    Bytes key = Pattern(32, 1), iv = Pattern(8, 2), data(16);
    for (int number : {0, 3, 6, 8, 9, 10, 11}) {
        CipherContext context{};
        if (number == 3 || number == 6) {
            cipher_set_key(&context, number, key.data(), 32);
        } else {
            cipher_set_key_iv(&context, number, key.data(), 24, iv.data(), 8);
        }
        EXPECT_EQ(FatalMessage([&] { cipher_encrypt(&context, data.data(), data.data(), 7); }),
                  "cipher_encrypt: bad plaintext length 7")
            << number;
        EXPECT_EQ(FatalMessage([&] { cipher_decrypt(&context, data.data(), data.data(), 9); }),
                  "cipher_decrypt: bad ciphertext length 9")
            << number;
        cipher_cleanup(&context);
    }
}

TEST_F(CipherTest, IllegalAndUnknownCiphers) {
    CipherContext context{};
    Bytes key = Pattern(32, 3), data(8);
    EXPECT_EQ(FatalMessage([&] { cipher_set_key(&context, 8, key.data(), 32); }),
              "cipher_set_key: illegal cipher: blowfish-cbc");
    EXPECT_EQ(FatalMessage([&] { cipher_set_key(&context, 2, key.data(), 32); }),
              "cipher_set_key: unknown cipher: des");
    EXPECT_EQ(FatalMessage([&] { cipher_set_key_iv(&context, 3, key.data(), 32, key.data(), 8); }),
              "cipher_set_key_iv: illegal cipher: 3des");
    EXPECT_EQ(FatalMessage([&] { cipher_set_key_iv(&context, 5, key.data(), 32, key.data(), 8); }),
              "cipher_set_key: unknown cipher: rc4");
    EXPECT_EQ(context.type, 0);  // refused keying leaves the context as it was
    context.type = 1;
    EXPECT_EQ(FatalMessage([&] { cipher_encrypt(&context, data.data(), data.data(), 8); }),
              "cipher_encrypt: unknown cipher: idea");
    EXPECT_EQ(FatalMessage([&] { cipher_decrypt(&context, data.data(), data.data(), 8); }),
              "cipher_decrypt: unknown cipher: idea");
}

// Every cipher against the known answers in ssh/cipher_vectors: the calls
// of one direction chain like one stream, decryption works into another
// buffer and in place.
TEST_F(CipherTest, KnownAnswersAcrossCalls) {
    ASSERT_TRUE(LoadLegacyProviders());
    const auto rows = DataRows("ssh/cipher_vectors");
    EXPECT_EQ(rows.size(), 8u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 7u);
        SCOPED_TRACE(row[0] + " " + row[1]);
        const int number = std::stoi(row[0]);
        const Bytes key = FromHex(row[1]), iv = FromHex(row[2]);
        const Bytes plain = FromHex(row[3]), cipher = FromHex(row[4]);
        CipherContext contexts[3] = {};
        for (CipherContext& context : contexts) {
            if (row[2] == "-") {
                cipher_set_key(&context, number, key.data(), static_cast<int>(key.size()));
            } else {
                cipher_set_key_iv(&context, number, key.data(), static_cast<int>(key.size()),
                                  iv.data(), static_cast<int>(iv.size()));
            }
        }
        for (int pass = 0; pass < 3; pass++) {
            Bytes out = pass == 0 ? Bytes(plain.size()) : cipher;
            std::istringstream pieces(row[pass == 0 ? 5 : 6]);
            size_t at = 0;
            for (std::string piece; std::getline(pieces, piece, ',');) {
                const auto n = static_cast<uint32_t>(std::stoul(piece));
                if (pass == 0) {
                    cipher_encrypt(&contexts[0], &out[at], &plain[at], n);
                } else {
                    // Pass 1 decrypts into another buffer, pass 2 in place.
                    Bytes in(out.begin() + at, out.begin() + at + n);
                    cipher_decrypt(&contexts[pass], &out[at], pass == 1 ? in.data() : &out[at], n);
                }
                at += n;
            }
            EXPECT_EQ(at, plain.size());
            EXPECT_EQ(out, pass == 0 ? cipher : plain) << pass;
        }
        for (CipherContext& context : contexts) cipher_cleanup(&context);
    }
}

TEST_F(CipherTest, ShortKeysAreReportedAndPaddedWithZeros) {
    Bytes key = Pattern(8, 31), iv = Pattern(4, 32);
    CipherContext short_key{}, padded{};
    CaptureStderr();
    cipher_set_key_iv(&short_key, 9, key.data(), 8, iv.data(), 4);
    EXPECT_EQ(GetCapturedStderr(),
              "Key length 8 is insufficient for 3des-cbc.\r\n"
              "IV length 4 is insufficient for 3des-cbc.\r\n");
    Bytes key24 = key, iv8 = iv;
    key24.resize(24);
    iv8.resize(8);
    cipher_set_key_iv(&padded, 9, key24.data(), 24, iv8.data(), 8);
    Bytes plain = Pattern(32, 33);
    EXPECT_EQ(Encrypt(&short_key, plain), Encrypt(&padded, plain));

    CaptureStderr();
    CipherContext ssh1{};
    cipher_set_key(&ssh1, 3, key.data(), 8);
    cipher_set_key(&ssh1, 6, key.data(), 8);
    EXPECT_EQ(GetCapturedStderr(),
              "Key length 8 is insufficient for 3DES.\r\n"
              "Key length 8 is insufficient for blowfish.\r\n");

    // Keys and IVs of the full length are taken without a word.
    Bytes key16 = Pattern(16, 34);
    CaptureStderr();
    for (int number : {8, 10, 11}) {
        CipherContext full{};
        cipher_set_key_iv(&full, number, key16.data(), 16, iv8.data(), 8);
        cipher_cleanup(&full);
    }
    CipherContext full3des{};
    cipher_set_key_iv(&full3des, 9, key24.data(), 24, iv8.data(), 8);
    cipher_cleanup(&full3des);
    EXPECT_EQ(GetCapturedStderr(), "");
}
