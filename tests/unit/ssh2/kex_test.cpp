// The SSH-2 key exchange: negotiation and the Diffie-Hellman checks
// (tests/data/ssh2/kex), exchange hashes and key derivation against their
// definitions, the KEXINIT layout, and host keys with their signatures
// (tests/data/ssh2/host_keys and dsa).
#include <openssl/evp.h>

#include <memory>

#include "ssh/keys/authfile.h"
#include "ssh/keys/sshkey.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/kex_method.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/scoped.h"
#include "ssh2_test_support.h"

namespace {

const unsigned char* Octets(const Bytes& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}
Bytes Digest(const EVP_MD* md, const Bytes& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), digest, &n, md, nullptr);
    return Bytes(reinterpret_cast<char*>(digest), n);
}
BignumPtr FromHex(const std::string& text) {
    BIGNUM* n = nullptr;
    BN_hex2bn(&n, text.c_str());
    return BignumPtr(n);
}
// RFC 4251 mpint of a non-negative number.
Bytes Mpint(const BIGNUM* n) {
    Bytes magnitude(static_cast<size_t>(BN_num_bytes(n)), '\0');
    BN_bn2bin(n, reinterpret_cast<unsigned char*>(magnitude.data()));
    if (!magnitude.empty() && (static_cast<unsigned char>(magnitude[0]) & 0x80))
        magnitude.insert(magnitude.begin(), '\0');
    return Str(magnitude);
}
struct KexFree {
    void operator()(KexResult* k) const { kex_result_free(k); }
};
std::string Keys(const KexResult* kex) {
    std::string text;
    for (int mode : {MODE_OUT, MODE_IN}) {
        const Enc& enc = kex->enc[mode];
        const Mac& mac = kex->mac[mode];
        text += std::string(cipher_name(enc.type)) + " " + std::to_string(enc.key_len) + "/" +
                std::to_string(enc.iv_len) + " " + EVP_MD_get0_name(mac.md) + " " +
                std::to_string(mac.mac_len) + "/" + std::to_string(mac.key_len) + " ";
    }
    return text + std::to_string(kex->need);
}

KeyPtr DsaFromBlob(const Bytes& blob) {
    return KeyPtr(dsa_key_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                    static_cast<uint32_t>(blob.size())));
}

class KexTest : public Ssh2Test {};

TEST_F(KexTest, Cases) {
    PacketContext context{};
    const char* own[PROPOSAL_MAX];
    kex_make_proposal(&context, own);
    std::unique_ptr<DH, void (*)(DH*)> dh(dh_new_group1(), dh_release);
    for (const TCase& c : ReadCases("ssh2/kex")) {
        SCOPED_TRACE(c.where);
        if (c[0] == "match") {
            XmallocPtr<char> first(match_first(c[1].c_str(), c[2].c_str()));
            EXPECT_EQ(c[3], first ? first.get() : "-");
        } else if (c[0] == "public") {
            EXPECT_EQ(Num(c[2]) != 0, dh_check_public(dh.get(), FromHex(c[1]).get()));
        } else if (c[0] == "range") {
            EXPECT_EQ(Num(c[2]) != 0, dh_value_in_range(dh_prime(dh.get()), FromHex(c[1]).get()));
        } else if (c[0] == "group") {
            BignumPtr p(dh_fixed_prime(static_cast<int>(Num(c[1]))));
            BN_add_word(p.get(), static_cast<BN_ULONG>(Num(c[2])));
            const char* why = "";
            const bool taken = dh_group_acceptable(p.get(), FromHex(c[3]).get(), 2048, 8192, &why);
            EXPECT_EQ(c[4], taken ? "" : why);
        } else if (c[0] == "unknown") {
            EXPECT_EQ(c[3], kex_unknown_name(static_cast<int>(Num(c[1])), c[2]));
        } else if (c[0] == "choose") {
            std::vector<std::string> texts(c.fields.begin() + 1, c.fields.begin() + 9);
            texts.resize(PROPOSAL_MAX);
            char* lists[PROPOSAL_MAX];
            for (int i = 0; i < PROPOSAL_MAX; i++) lists[i] = texts[i].data();
            context.datafellows = static_cast<int>(Num(c[9]));
            std::string got;
            try {
                got = Keys(
                    std::unique_ptr<KexResult, KexFree>(kex_choose(&context, own, lists)).get());
            } catch (const TException& e) {
                got = e.Message();
                for (const char* list : own)
                    if (*list != '\0' && got.find(list) != std::string::npos)
                        got.replace(got.find(list), std::strlen(list), "OWN");
            }
            EXPECT_EQ(c[10], got);
        }
    }
    const unsigned char zeros[32] = {};
    EXPECT_EQ("kex: X25519 shared secret is all zeros",
              FatalMessage([&] { kex_x25519_secret_number(zeros); }));
    const std::string kex = kex_default_list(PROPOSAL_KEX_ALGS);
    EXPECT_EQ(",ext-info-c", kex.substr(kex.size() - 11));
    int count = 0;
    const KexMethod* methods = kex_methods(&count);
    for (int i = 0; i < count; i++) {
        EXPECT_NE(nullptr, EVP_get_digestbyname(methods[i].hash));
        BignumPtr p(dh_fixed_prime(methods[i].group_bits));
        const bool fixed = methods[i].family == KexFamily::FixedGroup;
        EXPECT_TRUE(!fixed || (p && BN_num_bits(p.get()) == methods[i].group_bits)) << i;
    }
}

// H = SHA1(V_C || V_S || I_C || I_S || K_S || e || f || K), the KEXINITs
// with their message number; keys SHA1(K || H || letter || H), extended.
TEST_F(KexTest, ExchangeHashAndKeysFollowTheirDefinitions) {
    const Bytes v_c = "SSH-2.1-Quenlor_3.24.00", v_s = "SSH-2.0-OpenSSH_9.2p1 Debian-2";
    const Bytes i_c = "own-kexinit", i_s = Bytes("server\0kexinit", 14), k_s = "host-key";
    // e with its top bit set (needs the leading zero), f small.
    BignumPtr e = FromHex("80FF0000000000000000000000000001"), f = FromHex("7F");
    BignumPtr k = FromHex("F00DFACE0123456789");
    unsigned char hash[20];
    kex_exchange_hash(v_c.c_str(), v_s.c_str(), Octets(i_c), 11, Octets(i_s), 14, Octets(k_s), 8,
                      e.get(), f.get(), k.get(), hash);
    const Bytes h =
        Digest(EVP_sha1(), Str(v_c) + Str(v_s) + Str("\x14" + i_c) + Str("\x14" + i_s) + Str(k_s) +
                               Mpint(e.get()) + Mpint(f.get()) + Mpint(k.get()));
    ASSERT_EQ(h, Bytes(reinterpret_cast<char*>(hash), 20));

    const Bytes k1 = Digest(EVP_sha1(), Mpint(k.get()) + h + "C" + h);
    const Bytes k2 = Digest(EVP_sha1(), Mpint(k.get()) + h + k1);
    // Each letter its own key: C encrypts our data, A is its IV, F the
    // server's MAC key.
    std::unique_ptr<KexResult, KexFree> kex(static_cast<KexResult*>(xmalloc(sizeof(KexResult))));
    *kex = KexResult{};
    kex->need = 24;
    kex_derive_all(kex.get(), hash, k.get());
    XmallocPtr<unsigned char> a(kex_derive_one('A', 24, hash, k.get()));
    XmallocPtr<unsigned char> mac_in(kex_derive_one('F', 24, hash, k.get()));
    EXPECT_EQ(k1 + k2.substr(0, 4), Bytes(reinterpret_cast<char*>(kex->enc[MODE_OUT].key), 24));
    EXPECT_EQ(0, std::memcmp(kex->enc[MODE_OUT].iv, a.get(), 24));
    EXPECT_EQ(0, std::memcmp(kex->mac[MODE_IN].key, mac_in.get(), 24));
    EXPECT_NE(0, std::memcmp(kex->enc[MODE_IN].key, kex->enc[MODE_OUT].key, 24));

    // An X25519 secret is K as one big-endian number.
    const Bytes secret = "\xc3" + Bytes(31, 0x5a);
    BignumPtr k25519(kex_x25519_secret_number(Octets(secret)));
    EXPECT_EQ(U32(33) + Bytes(1, '\0') + secret, Mpint(k25519.get()));
}

// 16 cookie bytes, the ten lists, "first follows" 0, reserved 0; the
// server's read back, and trailing bytes in it an integrity error.
TEST_F(KexTest, KexinitLayoutAndParsing) {
    PacketContext context{};
    const char* own[PROPOSAL_MAX];
    kex_make_proposal(&context, own);
    ScopedBuffer kexinit, received, again;
    kex_build_kexinit(kexinit.get(), own);
    const Bytes payload(reinterpret_cast<const char*>(buffer_ptr(kexinit.get())),
                        buffer_len(kexinit.get()));
    Bytes lists;
    for (const char* list : own) lists += Str(list);
    EXPECT_EQ(lists + Bytes(5, '\0'), payload.substr(16));

    Link link;
    link.ServerSends(SSH2_MSG_KEXINIT,
                     payload.substr(0, 16) + Str("x") + payload.substr(20 + std::strlen(own[0])));
    char* parsed[PROPOSAL_MAX] = {};
    kex_send_receive_kexinit(link.Client(), kexinit.get(), received.get(), parsed);
    EXPECT_STREQ("x", parsed[0]);
    EXPECT_STREQ(own[PROPOSAL_MAC_ALGS_STOC], parsed[PROPOSAL_MAC_ALGS_STOC]);
    for (char* list : parsed) xfree(list);
    EXPECT_EQ((Messages{{SSH2_MSG_KEXINIT, payload}}), link.ClientMessages());

    link.ServerSends(SSH2_MSG_KEXINIT, payload + "\x09");
    char* more[PROPOSAL_MAX] = {};
    EXPECT_EQ("Packet integrity error.", FatalMessage([&] {
                  kex_send_receive_kexinit(link.Client(), kexinit.get(), again.get(), more);
              }));
    for (char* list : more) xfree(list);
}

TEST_F(KexTest, HostKeysAndTheirSignatures) {
    for (const TCase& c : ReadCases("ssh2/host_keys")) {
        SCOPED_TRACE(c.where);
        const Bytes blob = HexBytes(c[c[0] == "verify" ? 2 : 1]);
        std::string why;
        SshPublicKeyPtr key =
            sshkey_from_blob(Octets(blob), static_cast<uint32_t>(blob.size()), &why);
        if (c[0] == "refuse") {
            EXPECT_FALSE(key);
            EXPECT_TRUE(c[2] == "*" || c[2] == why) << why;
            continue;
        }
        const Bytes signature = HexBytes(c[3]), data = HexBytes(c[4]);
        EXPECT_EQ(Num(c[5]),
                  !key ? -2
                       : sshkey_verify(key.get(), c[1].c_str(), Octets(signature),
                                       static_cast<uint32_t>(signature.size()), Octets(data),
                                       static_cast<uint32_t>(data.size()), nullptr));
    }
}

// DSA key files and blobs, and how verification adapts the compatibility
// word to the form a server sends (tests/data/ssh2/dsa).
TEST_F(KexTest, DsaKeyFilesBlobsAndSignatures) {
    KeyPtr key(key_new(KEY_DSA)), locked(key_new(KEY_DSA));
    ASSERT_TRUE(load_private_key_file(QUENLOR_TEST_DATA "/ssh2/user_dsa", "", key.get(), nullptr));
    // A protected key opens with its passphrase only; other files not at all.
    const char* const locked_file = QUENLOR_TEST_DATA "/ssh2/locked_dsa";
    EXPECT_FALSE(load_private_key_file(locked_file, "", locked.get(), nullptr));
    EXPECT_TRUE(load_private_key_file(locked_file, "secret", locked.get(), nullptr));
    EXPECT_FALSE(
        load_private_key_file(QUENLOR_SOURCE_DIR "/CMakeLists.txt", "", locked.get(), nullptr));

    const Bytes blob = DsaBlob(key.get());
    EXPECT_EQ(Str("ssh-dss"), blob.substr(0, 11));
    EXPECT_EQ(blob, DsaBlob(DsaFromBlob(blob).get()));
    // Trailing bytes are only reported; another key type is refused, a
    // truncated number is fatal.
    EXPECT_TRUE(DsaFromBlob(blob + "xyz"));
    EXPECT_FALSE(DsaFromBlob(Str("ssh-rsa") + Str("whatever")));
    EXPECT_FALSE(FatalMessage([&] { DsaFromBlob(blob.substr(0, blob.size() - 3)); }).empty());
    KeyPtr empty(key_new(KEY_EMPTY));
    EXPECT_EQ(0u, dsa_key_to_blob(empty.get(), nullptr, nullptr));
    int word = 0;
    EXPECT_EQ(-1, DsaVerify(empty.get(), "x", "x", &word));

    for (const TCase& c : ReadCases("ssh2/dsa")) {
        SCOPED_TRACE(c.where);
        const Bytes signature = HexBytes(c[1]);
        word = c[0] == "verify" ? static_cast<int>(Num(c[3])) : 0;
        if (c[0] == "fatal") {
            EXPECT_EQ(c[2], FatalMessage([&] { DsaVerify(key.get(), signature, "hash", &word); }));
            continue;
        }
        EXPECT_EQ(Num(c[4]), DsaVerify(key.get(), signature, c[2], &word));
        EXPECT_EQ(Num(c[5]), word);
    }
}

}  // namespace
