// Key exchange rows and host keys: RFC 7748's X25519 vectors through the
// secret-to-K step, a curve25519-sha256 exchange hash recomputed from
// RFC 8731's definition, the group checks of the group exchange, and
// signatures by every host-key algorithm made here with libcrypto.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstring>
#include <string>
#include <vector>

#include "ssh/keys/sshkey.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/kex_method.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh2_test_support.h"

namespace {

using Octs = std::vector<unsigned char>;

Octs FromHex(const std::string& hex) {
    Octs bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string Str(const Octs& b) {
    return std::string(b.begin(), b.end());
}

std::string Be32(uint32_t v) {
    return BigEndian(v);
}

std::string SshBytes(const Octs& b) {
    return Be32(static_cast<uint32_t>(b.size())) + Str(b);
}

// An mpint of unsigned big-endian bytes (RFC 4251 section 5).
std::string Mpint(Octs b) {
    size_t first = 0;
    while (first < b.size() && b[first] == 0) first++;
    Octs trimmed(b.begin() + static_cast<long>(first), b.end());
    if (!trimmed.empty() && (trimmed[0] & 0x80) != 0) trimmed.insert(trimmed.begin(), 0);
    return SshBytes(trimmed);
}

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey Generate(const char* type, const char* group = nullptr, unsigned bits = 0) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(1, EVP_PKEY_keygen_init(c));
    if (group != nullptr) {
        EXPECT_EQ(1, EVP_PKEY_CTX_set_group_name(c, group));
    }
    if (bits != 0) {
        EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_keygen_bits(c, bits));
    }
    EXPECT_EQ(1, EVP_PKEY_generate(c, &key));
    EVP_PKEY_CTX_free(c);
    return Pkey(key);
}

Octs Sign(EVP_PKEY* key, const char* digest, const Octs& data) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    size_t n = 0;
    EXPECT_EQ(1, EVP_DigestSignInit_ex(md, nullptr, digest, nullptr, nullptr, key, nullptr));
    EXPECT_EQ(1, EVP_DigestSign(md, nullptr, &n, data.data(), data.size()));
    Octs sig(n);
    EXPECT_EQ(1, EVP_DigestSign(md, sig.data(), &n, data.data(), data.size()));
    sig.resize(n);
    EVP_MD_CTX_free(md);
    return sig;
}

Octs BnBytes(const BIGNUM* n) {
    Octs b(static_cast<size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, b.data());
    return b;
}

Octs BnParam(EVP_PKEY* key, const char* name) {
    BIGNUM* n = nullptr;
    EXPECT_EQ(1, EVP_PKEY_get_bn_param(key, name, &n));
    Octs b = BnBytes(n);
    BN_free(n);
    return b;
}

Octs Octets(EVP_PKEY* key, const char* name) {
    size_t n = 0;
    EVP_PKEY_get_octet_string_param(key, name, nullptr, 0, &n);
    Octs b(n);
    EXPECT_EQ(1, EVP_PKEY_get_octet_string_param(key, name, b.data(), n, &n));
    return b;
}

// A host key blob and a signature blob by `algorithm` over `data`, encoded
// here from RFC 8709, RFC 5656 and RFC 8332.
struct HostKeyCase {
    const char* algorithm;
    Pkey key;
    std::string blob;
    std::string Signature(const Octs& data, const char* name = nullptr) const {
        const std::string alg = algorithm;
        std::string sig_name = name != nullptr ? name : algorithm;
        if (alg == "ssh-ed25519")
            return SshString(sig_name) + SshBytes(Sign(key.get(), nullptr, data));
        if (alg.rfind("ecdsa-", 0) == 0) {
            const char* digest = alg == "ecdsa-sha2-nistp256"   ? "SHA256"
                                 : alg == "ecdsa-sha2-nistp384" ? "SHA384"
                                                                : "SHA512";
            Octs der = Sign(key.get(), digest, data);
            const unsigned char* p = der.data();
            ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
            std::string inner =
                Mpint(BnBytes(ECDSA_SIG_get0_r(sig))) + Mpint(BnBytes(ECDSA_SIG_get0_s(sig)));
            ECDSA_SIG_free(sig);
            return SshString(sig_name) + SshString(inner);
        }
        const char* digest = alg == "rsa-sha2-512"   ? "SHA512"
                             : alg == "rsa-sha2-256" ? "SHA256"
                                                     : "SHA1";
        return SshString(sig_name) + SshBytes(Sign(key.get(), digest, data));
    }
};

HostKeyCase MakeHostKey(const char* algorithm) {
    const std::string alg = algorithm;
    HostKeyCase c{algorithm, nullptr, ""};
    if (alg == "ssh-ed25519") {
        c.key = Generate("ED25519");
        size_t n = 32;
        Octs raw(32);
        EVP_PKEY_get_raw_public_key(c.key.get(), raw.data(), &n);
        c.blob = SshString("ssh-ed25519") + SshBytes(raw);
    } else if (alg.rfind("ecdsa-", 0) == 0) {
        std::string curve = alg.substr(std::strlen("ecdsa-sha2-"));
        const char* group = curve == "nistp256" ? "P-256" : curve == "nistp384" ? "P-384" : "P-521";
        c.key = Generate("EC", group);
        c.blob = SshString(alg) + SshString(curve) +
                 SshBytes(Octets(c.key.get(), OSSL_PKEY_PARAM_PUB_KEY));
    } else {
        c.key = Generate("RSA", nullptr, 2048);
        c.blob = SshString("ssh-rsa") + Mpint(BnParam(c.key.get(), OSSL_PKEY_PARAM_RSA_E)) +
                 Mpint(BnParam(c.key.get(), OSSL_PKEY_PARAM_RSA_N));
    }
    return c;
}

int Verify(const std::string& blob, const char* algorithm, const std::string& signature,
           const Octs& data) {
    std::string why;
    SshPublicKeyPtr key = sshkey_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                           static_cast<uint32_t>(blob.size()), &why);
    if (!key) return -2;
    return sshkey_verify(key.get(), algorithm,
                         reinterpret_cast<const unsigned char*>(signature.data()),
                         static_cast<uint32_t>(signature.size()), data.data(),
                         static_cast<uint32_t>(data.size()), nullptr);
}

}  // namespace

class KexMethodsTest : public SshTest {};

// RFC 7748 section 6.1: both sides reach the same K, and K is the secret
// read as one big-endian number.
TEST_F(KexMethodsTest, X25519VectorsAndTheSharedSecretAsK) {
    const Octs alice = FromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Octs bob_public =
        FromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const std::string shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    Pkey own(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, alice.data(), 32));
    Pkey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, bob_public.data(), 32));
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_from_pkey(nullptr, own.get(), nullptr);
    Octs secret(32);
    size_t n = 32;
    ASSERT_EQ(1, EVP_PKEY_derive_init(c));
    ASSERT_EQ(1, EVP_PKEY_derive_set_peer(c, peer.get()));
    ASSERT_EQ(1, EVP_PKEY_derive(c, secret.data(), &n));
    EVP_PKEY_CTX_free(c);
    BignumPtr k(kex_x25519_secret_number(secret.data()));
    char* hex = BN_bn2hex(k.get());
    std::string text = hex;
    OPENSSL_free(hex);
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(text, shared);

    unsigned char zeros[32] = {};
    EXPECT_EQ(FatalMessage([&] { kex_x25519_secret_number(zeros); }),
              "kex: X25519 shared secret is all zeros");
}

// H = SHA256(string V_C || string V_S || string I_C || string I_S ||
// string K_S || string Q_C || string Q_S || mpint K), RFC 8731 section 3.1.
TEST_F(KexMethodsTest, Curve25519ExchangeHashFromTheDefinition) {
    const std::string v_c = "SSH-2.0-Quenlor", v_s = "SSH-2.0-OpenSSH_9.2p1 Debian-2";
    const Octs i_c = {1, 2, 3}, i_s = {4, 5, 6, 7}, k_s = {'k', 's'};
    const Octs q_c(32, 0x11), q_s(32, 0x22);
    // A secret whose first byte has the high bit set: K gets a zero byte.
    Octs secret(32, 0x5a);
    secret[0] = 0xc3;
    ScopedBuffer own, server, middle;
    buffer_append(own.get(), i_c.data(), 3);
    buffer_append(server.get(), i_s.data(), 4);
    buffer_put_string(middle.get(), q_c.data(), 32);
    buffer_put_string(middle.get(), q_s.data(), 32);
    BignumPtr k(kex_x25519_secret_number(secret.data()));
    unsigned char hash[EVP_MAX_MD_SIZE];
    uint32_t length = 0;
    kex_hash(EVP_sha256(), v_c.c_str(), v_s.c_str(), own.get(), server.get(), k_s.data(), 2,
             middle.get(), k.get(), hash, &length);

    Octs kexinit_c = {20}, kexinit_s = {20};
    kexinit_c.insert(kexinit_c.end(), i_c.begin(), i_c.end());
    kexinit_s.insert(kexinit_s.end(), i_s.begin(), i_s.end());
    std::string input = SshString(v_c) + SshString(v_s) + SshBytes(kexinit_c) +
                        SshBytes(kexinit_s) + SshBytes(k_s) + SshBytes(q_c) + SshBytes(q_s) +
                        Be32(33) + std::string(1, '\0') + Str(secret);
    unsigned char expected[32];
    SHA256(reinterpret_cast<const unsigned char*>(input.data()), input.size(), expected);
    ASSERT_EQ(length, 32u);
    EXPECT_EQ(Hex(hash, 32), Hex(expected, 32));

    // Keys with the method's hash: 64 bytes of chacha20-poly1305 key are two
    // SHA-256 blocks, the second over K || H || K1.
    XmallocPtr<unsigned char> key(
        kex_derive_key(EVP_sha256(), 'C', 64, hash, 32, hash, 32, k.get()));
    std::string k_mpint = Be32(33) + std::string(1, '\0') + Str(secret);
    std::string h(reinterpret_cast<char*>(hash), 32);
    unsigned char k1[32], k2[32];
    std::string first = k_mpint + h + "C" + h;
    SHA256(reinterpret_cast<const unsigned char*>(first.data()), first.size(), k1);
    std::string second = k_mpint + h + std::string(reinterpret_cast<char*>(k1), 32);
    SHA256(reinterpret_cast<const unsigned char*>(second.data()), second.size(), k2);
    EXPECT_EQ(Hex(key.get(), 32), Hex(k1, 32));
    EXPECT_EQ(Hex(key.get() + 32, 32), Hex(k2, 32));
}

TEST_F(KexMethodsTest, GroupExchangeGroupsAreChecked) {
    BignumPtr g(BN_new());
    BN_set_word(g.get(), 2);
    const char* why = "";
    BignumPtr p2048(dh_fixed_prime(2048));
    EXPECT_TRUE(dh_group_acceptable(p2048.get(), g.get(), 2048, 8192, &why)) << why;
    BignumPtr p1024(dh_fixed_prime(1024));
    EXPECT_FALSE(dh_group_acceptable(p1024.get(), g.get(), 2048, 8192, &why));
    EXPECT_STREQ(why, "group size out of range");
    // Odd but not prime: the prime plus two.
    BignumPtr composite(BN_dup(p2048.get()));
    BN_add_word(composite.get(), 2);
    EXPECT_FALSE(dh_group_acceptable(composite.get(), g.get(), 2048, 8192, &why));
    EXPECT_STREQ(why, "group modulus is not a safe prime");
    // g must lie strictly between 1 and p - 1.
    BignumPtr one(BN_new());
    BN_one(one.get());
    EXPECT_FALSE(dh_group_acceptable(p2048.get(), one.get(), 2048, 8192, &why));
    BignumPtr p_minus_1(BN_dup(p2048.get()));
    BN_sub_word(p_minus_1.get(), 1);
    EXPECT_FALSE(dh_value_in_range(p2048.get(), p_minus_1.get()));
    EXPECT_FALSE(dh_value_in_range(p2048.get(), one.get()));
    EXPECT_TRUE(dh_value_in_range(p2048.get(), g.get()));
}

TEST_F(KexMethodsTest, EveryMethodAndHostKeyAlgorithmIsARow) {
    int count = 0;
    const KexMethod* methods = kex_methods(&count);
    EXPECT_EQ(count, 12);
    EXPECT_STREQ(methods[0].name, "curve25519-sha256");
    EXPECT_STREQ(methods[count - 1].name, "diffie-hellman-group1-sha1");
    for (int i = 0; i < count; i++) {
        EXPECT_NE(EVP_get_digestbyname(methods[i].hash), nullptr) << methods[i].name;
        if (methods[i].family == KexFamily::FixedGroup) {
            BignumPtr p(dh_fixed_prime(methods[i].group_bits));
            ASSERT_TRUE(p) << methods[i].name;
            EXPECT_EQ(BN_num_bits(p.get()), methods[i].group_bits);
        }
    }
    EXPECT_STREQ(sshkey_type_of_algorithm("rsa-sha2-512"), "ssh-rsa");
    EXPECT_EQ(sshkey_type_of_algorithm("ssh-rsa-cert-v01@openssh.com"), nullptr);
    // ext-info-c rides last in the default key exchange list.
    const std::string kex = kex_default_list(PROPOSAL_KEX_ALGS);
    EXPECT_EQ(kex.substr(kex.size() - 11), ",ext-info-c");
    EXPECT_EQ(kex_unknown_name(PROPOSAL_ENC_ALGS_CTOS, "aes128-ctr,rot13"), "rot13");
    EXPECT_EQ(kex_unknown_name(PROPOSAL_MAC_ALGS_CTOS, "hmac-sha2-256,,hmac-sha1"), ",");
    EXPECT_EQ(kex_unknown_name(PROPOSAL_KEX_ALGS, "curve25519-sha256"), "");
    EXPECT_EQ(kex_unknown_name(PROPOSAL_SERVER_HOST_KEY_ALGS, "ssh-ed25519,ssh-dss"), "");
}

TEST_F(KexMethodsTest, HostKeySignaturesByEveryAlgorithm) {
    const Octs data = {'e', 'x', 'c', 'h', 'a', 'n', 'g', 'e'};
    for (const char* algorithm :
         {"ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521",
          "rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"}) {
        SCOPED_TRACE(algorithm);
        HostKeyCase c = MakeHostKey(algorithm);
        const std::string signature = c.Signature(data);
        EXPECT_EQ(Verify(c.blob, algorithm, signature, data), 1);
        Octs other = data;
        other[0] ^= 1;
        EXPECT_EQ(Verify(c.blob, algorithm, signature, other), 0);
        // Trailing bytes after the signature blob: malformed.
        EXPECT_EQ(Verify(c.blob, algorithm, signature + "x", data), -1);
        // Truncated key blob: refused, never fatal.
        EXPECT_EQ(Verify(c.blob.substr(0, c.blob.size() - 1), algorithm, signature, data), -2);
    }
    // An RSA signature must carry the negotiated name (RFC 8332 section 3).
    HostKeyCase rsa = MakeHostKey("rsa-sha2-256");
    EXPECT_EQ(Verify(rsa.blob, "rsa-sha2-512", rsa.Signature(data), data), 0);
    EXPECT_EQ(Verify(rsa.blob, "rsa-sha2-512", rsa.Signature(data, "rsa-sha2-512"), data), 0);
    // A key of another type than the algorithm's.
    HostKeyCase ed = MakeHostKey("ssh-ed25519");
    EXPECT_EQ(Verify(ed.blob, "ssh-rsa", ed.Signature(data), data), -1);
}

TEST_F(KexMethodsTest, WeakOrInvalidHostKeysAreRefused) {
    Pkey small = Generate("RSA", nullptr, 768);
    std::string blob = SshString("ssh-rsa") + Mpint(BnParam(small.get(), OSSL_PKEY_PARAM_RSA_E)) +
                       Mpint(BnParam(small.get(), OSSL_PKEY_PARAM_RSA_N));
    std::string why;
    EXPECT_FALSE(sshkey_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                  static_cast<uint32_t>(blob.size()), &why));
    EXPECT_EQ(why, "RSA key of 768 bits is too small");

    // A P-256 point moved off the curve.
    HostKeyCase ec = MakeHostKey("ecdsa-sha2-nistp256");
    std::string bad = ec.blob;
    bad.back() ^= 0x01;
    EXPECT_FALSE(sshkey_from_blob(reinterpret_cast<const unsigned char*>(bad.data()),
                                  static_cast<uint32_t>(bad.size()), &why));
    // The curve name inside must match the key type.
    std::string mixed = SshString("ecdsa-sha2-nistp384") + ec.blob.substr(4 + 19);
    EXPECT_FALSE(sshkey_from_blob(reinterpret_cast<const unsigned char*>(mixed.data()),
                                  static_cast<uint32_t>(mixed.size()), &why));
    std::string unknown = SshString("ssh-foo") + SshString("x");
    EXPECT_FALSE(sshkey_from_blob(reinterpret_cast<const unsigned char*>(unknown.data()),
                                  static_cast<uint32_t>(unknown.size()), &why));
    EXPECT_EQ(why, "unknown key type ssh-foo");
}
