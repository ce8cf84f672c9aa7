// A writer of protocol-1 RSA key files for the tests, built from the file
// layout and from libcrypto's DES and Blowfish primitives, apart from the
// code under test.
#pragma once

#include <cstring>
#include <string>

#include <openssl/blowfish.h>
#include <openssl/des.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include "ssh1_test_support.h"

struct Rsa1KeyFileLayout {
    int cipher = 0;          // 0 none, 3 3des, 6 blowfish (any byte may be written)
    std::string passphrase;  // keys the cipher through MD5
    std::string comment = "test key";
    bool bad_check = false;  // check bytes that do not repeat
    std::string identification = std::string("SSH PRIVATE KEY FILE FORMAT 1.1\n", 32) + '\0';
};

// SSH-1 "3des": three CBC passes with their own zero IVs, E(k1) D(k2) E(k3);
// a 16-byte key gives k3 = k1.
inline std::string Ssh1TripleDesEncrypt(const std::string& key16, const std::string& plain) {
    DES_cblock first, second;
    std::memcpy(first, key16.data(), 8);
    std::memcpy(second, key16.data() + 8, 8);
    DES_key_schedule k1, k2;
    DES_set_key_unchecked(&first, &k1);
    DES_set_key_unchecked(&second, &k2);
    std::string a = plain, b = plain;
    auto pass = [](const std::string& in, std::string& out, DES_key_schedule* key, int enc) {
        DES_cblock iv = {0};
        DES_ncbc_encrypt(reinterpret_cast<const unsigned char*>(in.data()),
                         reinterpret_cast<unsigned char*>(out.data()), static_cast<long>(in.size()),
                         key, &iv, enc);
    };
    pass(plain, a, &k1, DES_ENCRYPT);
    pass(a, b, &k2, DES_DECRYPT);
    pass(b, a, &k1, DES_ENCRYPT);
    return a;
}

// SSH-1 "blowfish": Blowfish-CBC with a zero IV on byte-reversed 32-bit words.
inline std::string Ssh1BlowfishEncrypt(const std::string& key, const std::string& plain) {
    auto swap = [](std::string text) {
        for (size_t i = 0; i + 4 <= text.size(); i += 4) {
            std::swap(text[i], text[i + 3]);
            std::swap(text[i + 1], text[i + 2]);
        }
        return text;
    };
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()),
               reinterpret_cast<const unsigned char*>(key.data()));
    std::string in = swap(plain), out(plain.size(), '\0');
    unsigned char iv[8] = {0};
    BF_cbc_encrypt(reinterpret_cast<const unsigned char*>(in.data()),
                   reinterpret_cast<unsigned char*>(out.data()), static_cast<long>(in.size()),
                   &schedule, iv, BF_ENCRYPT);
    return swap(out);
}

inline std::string Rsa1KeyFileHead(const RSA* key, const Rsa1KeyFileLayout& layout) {
    std::string head = layout.identification;
    head += static_cast<char>(layout.cipher);
    head += BigEndian(0);
    head += BigEndian(static_cast<uint32_t>(BN_num_bits(RSA_get0_n(key))));
    head += Mpint1(RSA_get0_n(key)) + Mpint1(RSA_get0_e(key));
    head += SshString(layout.comment);
    return head;
}

inline std::string Rsa1KeyFile(const RSA* key, const Rsa1KeyFileLayout& layout = {}) {
    std::string secret =
        layout.bad_check ? std::string("\x12\x34\x12\x35", 4) : std::string("\xa5\x5a\xa5\x5a", 4);
    // The file names the primes the other way round: u = q^-1 mod p, then q, then p.
    secret += Mpint1(RSA_get0_d(key)) + Mpint1(RSA_get0_iqmp(key)) + Mpint1(RSA_get0_q(key)) +
              Mpint1(RSA_get0_p(key));
    secret.append((8 - secret.size() % 8) % 8, '\0');
    std::string digest = Md5(layout.passphrase);
    if (layout.cipher == 3) secret = Ssh1TripleDesEncrypt(digest, secret);
    if (layout.cipher == 6) secret = Ssh1BlowfishEncrypt(digest, secret);
    return Rsa1KeyFileHead(key, layout) + secret;
}

// Writes `bytes` to a new file under /tmp and returns its path.
inline std::string WriteTempKeyFile(const std::string& bytes) {
    char pattern[] = "/tmp/quenlor-ssh1-key-XXXXXX";
    int fd = mkstemp(pattern);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return pattern;
}
