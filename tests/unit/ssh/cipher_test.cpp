#include "ssh/transport/cipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
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

void LoadProviders() {
    ASSERT_TRUE(LoadLegacyProviders());
}

// One direction of an EVP cipher, fed in pieces like a stream.
class EvpStream {
  public:
    EvpStream(const char* name, const Bytes& key, const Bytes& iv, bool encrypt) {
        LoadProviders();
        cipher_ = EVP_CIPHER_fetch(nullptr, name, nullptr);
        context_ = EVP_CIPHER_CTX_new();
        EXPECT_NE(cipher_, nullptr) << name;
        EXPECT_EQ(EVP_CipherInit_ex2(context_, cipher_, nullptr, nullptr, encrypt, nullptr), 1);
        EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(context_, static_cast<int>(key.size())), 1);
        EXPECT_EQ(EVP_CipherInit_ex2(context_, nullptr, key.data(),
                                     iv.empty() ? nullptr : iv.data(), encrypt, nullptr),
                  1);
        EVP_CIPHER_CTX_set_padding(context_, 0);
    }
    ~EvpStream() {
        EVP_CIPHER_CTX_free(context_);
        EVP_CIPHER_free(cipher_);
    }
    Bytes Update(const Bytes& in) {
        Bytes out(in.size() + 16);
        int n = 0;
        EXPECT_EQ(
            EVP_CipherUpdate(context_, out.data(), &n, in.data(), static_cast<int>(in.size())), 1);
        out.resize(static_cast<size_t>(n));
        return out;
    }

  private:
    EVP_CIPHER* cipher_ = nullptr;
    EVP_CIPHER_CTX* context_ = nullptr;
};

// A single-DES CBC pass built from ECB, keeping its chaining block between
// calls: the building block of the protocol-1 triple DES.
class CbcPass {
  public:
    CbcPass(const unsigned char* key, bool encrypt)
        : ecb_("DES-ECB", Bytes(key, key + 8), {}, encrypt), encrypt_(encrypt) {}
    Bytes Run(const Bytes& in) {
        Bytes out(in.size());
        for (size_t off = 0; off < in.size(); off += 8) {
            Bytes block(in.begin() + off, in.begin() + off + 8);
            if (encrypt_) {
                for (int i = 0; i < 8; i++) block[i] ^= chain_[i];
                Bytes enc = ecb_.Update(block);
                std::memcpy(chain_, enc.data(), 8);
                std::memcpy(&out[off], enc.data(), 8);
            } else {
                Bytes dec = ecb_.Update(block);
                for (int i = 0; i < 8; i++) out[off + i] = dec[i] ^ chain_[i];
                std::memcpy(chain_, block.data(), 8);
            }
        }
        return out;
    }

  private:
    EvpStream ecb_;
    bool encrypt_;
    unsigned char chain_[8] = {};
};

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

Bytes Slice(const Bytes& bytes, size_t from, size_t n) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + n);
}

Bytes SwapWords(Bytes bytes) {
    for (size_t i = 0; i < bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
    return bytes;
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

struct Ssh2Case {
    int number;
    const char* evp_name;
    size_t key_length;
    bool has_iv;
};

class Ssh2CipherTest : public SshTest, public ::testing::WithParamInterface<Ssh2Case> {};

TEST_P(Ssh2CipherTest, MatchesLibcryptoAsOneStreamAcrossCalls) {
    const Ssh2Case& c = GetParam();
    Bytes key = Pattern(c.key_length, 11), iv = Pattern(8, 12), plain = Pattern(96, 13);
    CipherContext encrypt{}, decrypt{};
    cipher_set_key_iv(&encrypt, c.number, key.data(), static_cast<int>(key.size()), iv.data(), 8);
    cipher_set_key_iv(&decrypt, c.number, key.data(), static_cast<int>(key.size()), iv.data(), 8);

    EvpStream reference(c.evp_name, key, c.has_iv ? iv : Bytes{}, true);
    Bytes expected = reference.Update(plain);
    // Pieces of 8, 16 and 72 bytes must chain like one call.
    Bytes cipher = Encrypt(&encrypt, Slice(plain, 0, 8));
    for (auto [from, n] : {std::pair<size_t, size_t>{8, 16}, {24, 72}}) {
        Bytes piece = Encrypt(&encrypt, Slice(plain, from, n));
        cipher.insert(cipher.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(cipher, expected);

    Bytes back = Decrypt(&decrypt, Slice(cipher, 0, 40));
    Bytes rest = Decrypt(&decrypt, Slice(cipher, 40, 56));
    back.insert(back.end(), rest.begin(), rest.end());
    EXPECT_EQ(back, plain);
    cipher_cleanup(&encrypt);
    cipher_cleanup(&decrypt);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, Ssh2CipherTest,
                         ::testing::Values(Ssh2Case{8, "BF-CBC", 16, true},
                                           Ssh2Case{9, "DES-EDE3-CBC", 24, true},
                                           Ssh2Case{10, "RC4", 16, false},
                                           Ssh2Case{11, "CAST5-CBC", 16, true}),
                         [](const auto& info) {
                             std::string name = cipher_name(info.param.number);
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

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

class Ssh1TripleDesTest : public SshTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(Ssh1TripleDesTest, MatchesThreeInnerCbcPasses) {
    const size_t key_length = GetParam();
    Bytes key = Pattern(key_length, 41);
    // A 16-byte key uses its first half for the third pass too.
    const unsigned char* third = key_length <= 16 ? key.data() : key.data() + 16;
    CbcPass e1(key.data(), true), d2(key.data() + 8, false), e3(third, true);
    CbcPass d3(third, false), e2(key.data() + 8, true), d1(key.data(), false);

    CipherContext encrypt{}, decrypt{};
    cipher_set_key(&encrypt, 3, key.data(), static_cast<int>(key_length));
    cipher_set_key(&decrypt, 3, key.data(), static_cast<int>(key_length));
    for (size_t n : {8u, 24u, 16u, 64u}) {
        Bytes plain = Pattern(n, static_cast<unsigned>(n));
        Bytes expected = e3.Run(d2.Run(e1.Run(plain)));
        Bytes cipher = Encrypt(&encrypt, plain);
        EXPECT_EQ(cipher, expected) << n;
        EXPECT_EQ(d1.Run(e2.Run(d3.Run(cipher))), plain);
        // Decrypting in place must work as well.
        Bytes in_place = cipher;
        cipher_decrypt(&decrypt, in_place.data(), in_place.data(), static_cast<uint32_t>(n));
        EXPECT_EQ(in_place, plain) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(KeyLengths, Ssh1TripleDesTest, ::testing::Values(16u, 24u, 32u));

TEST_F(CipherTest, Ssh1BlowfishIsCbcOverByteSwappedWords) {
    Bytes key = Pattern(32, 51);
    CipherContext encrypt{}, decrypt{};
    cipher_set_key(&encrypt, 6, key.data(), 32);
    cipher_set_key(&decrypt, 6, key.data(), 32);
    EvpStream reference("BF-CBC", key, Bytes(8, 0), true);
    for (size_t n : {8u, 40u, 16u}) {
        Bytes plain = Pattern(n, static_cast<unsigned>(n) + 1);
        Bytes cipher = Encrypt(&encrypt, plain);
        EXPECT_EQ(cipher, SwapWords(reference.Update(SwapWords(plain)))) << n;
        EXPECT_EQ(Decrypt(&decrypt, cipher), plain) << n;
    }
}
