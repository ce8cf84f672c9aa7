// Key exchange rows and host keys: RFC 7748's X25519 vectors through the
// secret-to-K step, a curve25519-sha256 exchange hash recomputed from
// RFC 8731's definition, the group checks of the group exchange, and
// signatures by every host-key algorithm (tests/data/ssh2/host_key_signatures).
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <map>
#include <string>

#include "ssh/keys/sshkey.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/kex_method.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh2_test_support.h"

namespace {

const unsigned char* Octets(const Bytes& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

Bytes Sha256(const Bytes& data) {
    unsigned char digest[32];
    EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_sha256(), nullptr);
    return Bytes(reinterpret_cast<char*>(digest), sizeof digest);
}

SshPublicKeyPtr FromBlob(const Bytes& blob, std::string* why) {
    return sshkey_from_blob(Octets(blob), static_cast<uint32_t>(blob.size()), why);
}

int Verify(const Bytes& blob, const char* algorithm, const Bytes& signature, const Bytes& data) {
    std::string why;
    SshPublicKeyPtr key = FromBlob(blob, &why);
    if (!key) return -2;
    return sshkey_verify(key.get(), algorithm, Octets(signature),
                         static_cast<uint32_t>(signature.size()), Octets(data),
                         static_cast<uint32_t>(data.size()), nullptr);
}

}  // namespace

class KexMethodsTest : public SshTest {};

// RFC 7748 section 6.1: both sides reach the same K, and K is the secret
// read as one big-endian number.
TEST_F(KexMethodsTest, X25519VectorsAndTheSharedSecretAsK) {
    const Bytes alice =
        HexBytes("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Bytes bob_public =
        HexBytes("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    EVP_PKEY* own = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, Octets(alice), 32);
    EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, Octets(bob_public), 32);
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_from_pkey(nullptr, own, nullptr);
    unsigned char secret[32];
    size_t n = sizeof secret;
    EXPECT_EQ(1, EVP_PKEY_derive_init(c));
    EXPECT_EQ(1, EVP_PKEY_derive_set_peer(c, peer));
    EXPECT_EQ(1, EVP_PKEY_derive(c, secret, &n));
    EVP_PKEY_CTX_free(c);
    EVP_PKEY_free(own);
    EVP_PKEY_free(peer);
    BignumPtr k(kex_x25519_secret_number(secret));
    unsigned char k_bytes[32];
    ASSERT_EQ(32, BN_bn2bin(k.get(), k_bytes));
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(k_bytes), 32),
              HexBytes("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"));

    unsigned char zeros[32] = {};
    EXPECT_EQ(FatalMessage([&] { kex_x25519_secret_number(zeros); }),
              "kex: X25519 shared secret is all zeros");
}

// H = SHA256(string V_C || string V_S || string I_C || string I_S ||
// string K_S || string Q_C || string Q_S || mpint K), RFC 8731 section 3.1.
TEST_F(KexMethodsTest, Curve25519ExchangeHashFromTheDefinition) {
    const Bytes v_c = "SSH-2.0-Quenlor", v_s = "SSH-2.0-OpenSSH_9.2p1 Debian-2";
    const Bytes i_c = "\1\2\3", i_s = "\4\5\6\7", k_s = "ks";
    const Bytes q_c(32, 0x11), q_s(32, 0x22);
    // A secret whose first byte has the high bit set: K gets a zero byte.
    const Bytes secret = "\xc3" + Bytes(31, 0x5a);
    ScopedBuffer own, server, middle;
    buffer_append(own.get(), i_c.data(), 3);
    buffer_append(server.get(), i_s.data(), 4);
    buffer_put_string(middle.get(), q_c.data(), 32);
    buffer_put_string(middle.get(), q_s.data(), 32);
    BignumPtr k(kex_x25519_secret_number(Octets(secret)));
    unsigned char hash[EVP_MAX_MD_SIZE];
    uint32_t length = 0;
    kex_hash(EVP_sha256(), v_c.c_str(), v_s.c_str(), own.get(), server.get(), Octets(k_s), 2,
             middle.get(), k.get(), hash, &length);
    const Bytes k_mpint = U32(33) + Bytes(1, '\0') + secret;
    const Bytes h = Sha256(Str(v_c) + Str(v_s) + Str("\x14" + i_c) + Str("\x14" + i_s) + Str(k_s) +
                           Str(q_c) + Str(q_s) + k_mpint);
    ASSERT_EQ(length, 32u);
    EXPECT_EQ(h, Bytes(reinterpret_cast<char*>(hash), 32));

    // Keys with the method's hash: 64 bytes of chacha20-poly1305 key are two
    // SHA-256 blocks, the second over K || H || K1.
    XmallocPtr<unsigned char> key(
        kex_derive_key(EVP_sha256(), 'C', 64, hash, 32, hash, 32, k.get()));
    const Bytes k1 = Sha256(k_mpint + h + "C" + h);
    EXPECT_EQ(k1 + Sha256(k_mpint + h + k1), Bytes(reinterpret_cast<char*>(key.get()), 64));
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
    struct HostKey {
        Bytes blob, signature;
    };
    std::map<std::string, HostKey> keys;
    for (const auto& row : DataRows("ssh2/host_key_signatures")) {
        ASSERT_EQ(row.size(), 3u);
        keys[row[0]] = {HexBytes(row[1]), row[2] == "-" ? "" : HexBytes(row[2])};
    }
    ASSERT_EQ(keys.size(), 8u);
    const Bytes data = "exchange";
    for (const auto& [algorithm, key] : keys) {
        if (key.signature.empty()) continue;
        SCOPED_TRACE(algorithm);
        const char* name = algorithm.c_str();
        EXPECT_EQ(Verify(key.blob, name, key.signature, data), 1);
        EXPECT_EQ(Verify(key.blob, name, key.signature, "dxchange"), 0);
        // Trailing bytes after the signature blob: malformed.
        EXPECT_EQ(Verify(key.blob, name, key.signature + "x", data), -1);
        // Truncated key blob: refused, never fatal.
        EXPECT_EQ(Verify(key.blob.substr(0, key.blob.size() - 1), name, key.signature, data), -2);
    }
    // An RSA signature must carry the negotiated name (RFC 8332 section 3).
    const HostKey& rsa = keys["rsa-sha2-256"];
    EXPECT_EQ(Verify(rsa.blob, "rsa-sha2-512", rsa.signature, data), 0);
    const Bytes renamed = Str("rsa-sha2-512") + rsa.signature.substr(4 + 12);
    EXPECT_EQ(Verify(rsa.blob, "rsa-sha2-512", renamed, data), 0);
    // A key of another type than the algorithm's.
    EXPECT_EQ(Verify(keys["ssh-ed25519"].blob, "ssh-rsa", keys["ssh-ed25519"].signature, data), -1);

    std::string why;
    EXPECT_FALSE(FromBlob(keys["rsa-768"].blob, &why));
    EXPECT_EQ(why, "RSA key of 768 bits is too small");
    // A P-256 point moved off the curve.
    const Bytes& ec = keys["ecdsa-sha2-nistp256"].blob;
    Bytes bad = ec;
    bad.back() ^= 0x01;
    EXPECT_FALSE(FromBlob(bad, &why));
    // The curve name inside must match the key type.
    EXPECT_FALSE(FromBlob(Str("ecdsa-sha2-nistp384") + ec.substr(4 + 19), &why));
    EXPECT_FALSE(FromBlob(Str("ssh-foo") + Str("x"), &why));
    EXPECT_EQ(why, "unknown key type ssh-foo");
}
