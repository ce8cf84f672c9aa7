// Shared by the SSH-1 tests: the keys and key files of tests/data/ssh1, and
// libcrypto's RSA and MD5, apart from the code under test.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "../base/case_file.h"
#include "../ssh/ssh_test_support.h"
#include "ssh/wire/scoped.h"

struct RsaFree {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RsaHandle = std::unique_ptr<RSA, RsaFree>;

inline BignumPtr BnFromBytes(const std::string& bytes) {
    return BignumPtr(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()), nullptr));
}

inline std::string BnBytes(const BIGNUM* number) {
    std::string bytes(static_cast<size_t>(BN_num_bytes(number)), '\0');
    BN_bn2bin(number, reinterpret_cast<unsigned char*>(bytes.data()));
    return bytes;
}

// The key `name` of tests/data/ssh1/keys, read once; the caller does not own
// it. Call it from the test's own thread.
inline RSA* DataKey(const std::string& name) {
    static std::map<std::string, RsaHandle> keys;
    if (keys.empty()) {
        for (const TCase& c : ReadCases("ssh1/keys")) {
            BIGNUM* part[8];
            for (int i = 0; i < 8; i++) part[i] = BnFromBytes(HexBytes(c[i + 1])).release();
            RsaHandle rsa(RSA_new());
            RSA_set0_key(rsa.get(), part[0], part[1], part[2]);
            RSA_set0_factors(rsa.get(), part[3], part[4]);
            RSA_set0_crt_params(rsa.get(), part[5], part[6], part[7]);
            keys[c[0]] = std::move(rsa);
        }
    }
    EXPECT_EQ(keys.count(name), 1u) << name;
    return keys[name].get();
}

// The bytes of the key file `name` of tests/data/ssh1/keyfiles.
inline std::string KeyFileBytes(const std::string& name) {
    static std::map<std::string, std::string> files;
    if (files.empty())
        for (const TCase& c : ReadCases("ssh1/keyfiles")) files[c[0]] = HexBytes(c[1]);
    EXPECT_EQ(files.count(name), 1u) << name;
    return files[name];
}

// `bytes` in a file of their own (mode 600) for the lifetime of the object.
struct TempKeyFile {
    std::string path = "/tmp/quenlor-ssh1-key-XXXXXX";
    explicit TempKeyFile(const std::string& bytes) {
        const int fd = mkstemp(path.data());
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    ~TempKeyFile() { unlink(path.c_str()); }
};

// libcrypto's PKCS #1 v1.5 operations, as byte strings.
inline std::string LibraryRsaEncrypt(RSA* key, const std::string& message) {
    std::string out(static_cast<size_t>(RSA_size(key)), '\0');
    EXPECT_EQ(
        RSA_public_encrypt(static_cast<int>(message.size()),
                           reinterpret_cast<const unsigned char*>(message.data()),
                           reinterpret_cast<unsigned char*>(out.data()), key, RSA_PKCS1_PADDING),
        RSA_size(key));
    return out;
}
inline std::string LibraryRsaDecrypt(RSA* key, const std::string& bytes) {
    std::string out(static_cast<size_t>(RSA_size(key)), '\0');
    const int n = RSA_private_decrypt(
        static_cast<int>(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.data()),
        reinterpret_cast<unsigned char*>(out.data()), key, RSA_PKCS1_PADDING);
    EXPECT_GT(n, 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

inline std::string Md5(const std::string& data) {
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

// SSH-1 multiple-precision integer: 16-bit bit count, then the magnitude.
inline std::string Mpint1(const BIGNUM* number) {
    const int bits = BN_num_bits(number);
    return std::string{static_cast<char>(bits >> 8), static_cast<char>(bits)} + BnBytes(number);
}
