// Negotiation, Diffie-Hellman checks, exchange hash and key derivation of
// the SSH-2 key exchange, each against an independent construction.
#include <openssl/dh.h>
#include <openssl/evp.h>

#include <vector>

#include "ssh/transport/cipher.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"
#include "ssh2_test_support.h"

namespace {

// RFC 4251 mpint of a non-negative number: minimal bytes, a zero byte in
// front when the top bit is set, zero as the empty string.
Bytes Mpint(const BIGNUM* n) {
    Bytes magnitude(static_cast<size_t>(BN_num_bytes(n)), '\0');
    BN_bn2bin(n, reinterpret_cast<unsigned char*>(magnitude.data()));
    if (!magnitude.empty() && (static_cast<unsigned char>(magnitude[0]) & 0x80))
        magnitude.insert(magnitude.begin(), '\0');
    return Str(magnitude);
}
Bytes Sha1(const Bytes& data) {
    unsigned char digest[20];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), digest, &n, EVP_sha1(), nullptr);
    return Bytes(reinterpret_cast<char*>(digest), n);
}
BignumPtr Hex(const char* text) {
    BIGNUM* n = nullptr;
    BN_hex2bn(&n, text);
    return BignumPtr(n);
}

const char* const kGroup1Hex =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A0879"
    "8E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B"
    "0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381FFFFFFFFFFFFFFFF";

class KexTest : public Ssh2Test {};

TEST_F(KexTest, ExchangeHashIsTheRfc4253Definition) {
    const Bytes own = "own-kexinit-payload";
    const Bytes server = Bytes("server\0payload", 14);
    const Bytes host_key = "host-key-blob";
    // e with its top bit set (needs the leading zero), f small, K zero-free.
    BignumPtr e = Hex("80FF0000000000000000000000000001");
    BignumPtr f = Hex("7F");
    BignumPtr k = Hex("0123456789ABCDEF0123456789ABCDEF0123");
    unsigned char hash[20];
    kex_exchange_hash("SSH-2.1-Quenlor_3.24.00", "SSH-2.0-OpenSSH_9.2p1 Debian-2",
                      reinterpret_cast<const unsigned char*>(own.data()), own.size(),
                      reinterpret_cast<const unsigned char*>(server.data()), server.size(),
                      reinterpret_cast<const unsigned char*>(host_key.data()), host_key.size(),
                      e.get(), f.get(), k.get(), hash);

    // H = HASH(string V_C || string V_S || string I_C || string I_S ||
    //          string K_S || mpint e || mpint f || mpint K), where I_C and
    // I_S are the KEXINIT payloads including their message number.
    const Bytes expected = Sha1(
        Str("SSH-2.1-Quenlor_3.24.00") + Str("SSH-2.0-OpenSSH_9.2p1 Debian-2") + Str("\x14" + own) +
        Str("\x14" + server) + Str(host_key) + Mpint(e.get()) + Mpint(f.get()) + Mpint(k.get()));
    EXPECT_EQ(expected, Bytes(reinterpret_cast<char*>(hash), 20));
}

TEST_F(KexTest, KeyDerivationExtendsWithWholeBlocks) {
    BignumPtr k = Hex("F00DFACE0123456789");  // top bit set: mpint with leading zero
    unsigned char hash[20];
    for (int i = 0; i < 20; i++) hash[i] = static_cast<unsigned char>(i * 7 + 1);
    const Bytes h(reinterpret_cast<char*>(hash), 20);

    XmallocPtr<unsigned char> key(kex_derive_one('C', 24, hash, k.get()));
    const Bytes k1 = Sha1(Mpint(k.get()) + h + "C" + h);
    const Bytes k2 = Sha1(Mpint(k.get()) + h + k1);
    EXPECT_EQ(k1 + k2.substr(0, 4), Bytes(reinterpret_cast<char*>(key.get()), 24));

    // Every letter gets its own material; kex_derive_all fills all six.
    auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
    std::memset(kex, 0, sizeof *kex);
    kex->need = 24;
    kex_derive_all(kex, hash, k.get());
    EXPECT_EQ(0, std::memcmp(kex->enc[MODE_OUT].key, key.get(), 24));  // C: outgoing key
    XmallocPtr<unsigned char> a(kex_derive_one('A', 24, hash, k.get()));
    XmallocPtr<unsigned char> f(kex_derive_one('F', 24, hash, k.get()));
    EXPECT_EQ(0, std::memcmp(kex->enc[MODE_OUT].iv, a.get(), 24));
    EXPECT_EQ(0, std::memcmp(kex->mac[MODE_IN].key, f.get(), 24));
    EXPECT_NE(0, std::memcmp(kex->enc[MODE_IN].key, key.get(), 24));
    kex_result_free(kex);
}

TEST_F(KexTest, MatchFirstTakesOwnOrderAndOnlyTwentyServerNames) {
    XmallocPtr<char> m(match_first("3des-cbc,blowfish-cbc", "foo,blowfish-cbc,3des-cbc"));
    EXPECT_STREQ("3des-cbc", m.get());
    m.reset(match_first("a,b", "c,d"));
    EXPECT_EQ(nullptr, m.get());
    // Case matters; an empty own name ends the own list.
    m.reset(match_first("3DES-CBC,,3des-cbc", "3des-cbc"));
    EXPECT_EQ(nullptr, m.get());

    std::string twenty;
    for (int i = 1; i <= 19; i++) twenty += "alg" + std::to_string(i) + ",";
    m.reset(match_first("common", (twenty + "common").c_str()));
    EXPECT_STREQ("common", m.get());  // the 20th name still counts
    m.reset(match_first("common", (twenty + "alg20,common").c_str()));
    EXPECT_EQ(nullptr, m.get());  // the 21st does not
    // Splitting stops at an empty server name.
    m.reset(match_first("b", "a,,b"));
    EXPECT_EQ(nullptr, m.get());
}

struct ServerLists {
    std::vector<std::string> texts{KEX_DH1,     "ssh-dss", "3des-cbc", "3des-cbc", "hmac-sha1",
                                   "hmac-sha1", "none",    "none",     "",         ""};
    char* lists[PROPOSAL_MAX];
    char* const* Get() {
        for (int i = 0; i < PROPOSAL_MAX; i++) lists[i] = texts[i].data();
        return lists;
    }
};

struct KexFree {
    void operator()(KexResult* k) const { kex_result_free(k); }
};

TEST_F(KexTest, ChooseFillsBothDirections) {
    PacketContext context{};
    const char* own[PROPOSAL_MAX];
    kex_make_proposal(&context, own);
    // Modern ciphers first, the legacy ones last, in the order of this test.
    const std::string ciphers = own[PROPOSAL_ENC_ALGS_CTOS];
    EXPECT_EQ(0u, ciphers.find("chacha20-poly1305@openssh.com,"));
    EXPECT_EQ(ciphers.size() - std::strlen("3des-cbc,blowfish-cbc,arcfour,cast128-cbc"),
              ciphers.find("3des-cbc,blowfish-cbc,arcfour,cast128-cbc"));
    EXPECT_STREQ("none", own[PROPOSAL_COMP_ALGS_STOC]);

    ServerLists server;
    server.texts[PROPOSAL_ENC_ALGS_STOC] = "arcfour,blowfish-cbc";
    server.texts[PROPOSAL_MAC_ALGS_STOC] = "hmac-md5";
    std::unique_ptr<KexResult, KexFree> kex(kex_choose(&context, own, server.Get()));
    EXPECT_EQ(SSH_CIPHER_3DES_CBC, kex->enc[MODE_OUT].type);
    EXPECT_EQ(24u, kex->enc[MODE_OUT].key_len);
    EXPECT_EQ(8u, kex->enc[MODE_OUT].iv_len);
    // Own order decides: blowfish-cbc comes before arcfour in our list.
    EXPECT_EQ(SSH_CIPHER_BLOWFISH_CBC, kex->enc[MODE_IN].type);
    EXPECT_EQ(16u, kex->enc[MODE_IN].key_len);
    EXPECT_EQ(EVP_sha1(), kex->mac[MODE_OUT].md);
    EXPECT_EQ(20, kex->mac[MODE_OUT].mac_len);
    EXPECT_EQ(EVP_md5(), kex->mac[MODE_IN].md);
    EXPECT_EQ(16u, kex->mac[MODE_IN].key_len);
    EXPECT_EQ(24u, kex->need);

    // arcfour has no IV; cast128 a 16-byte key.
    server.texts[PROPOSAL_ENC_ALGS_STOC] = "arcfour";
    server.texts[PROPOSAL_ENC_ALGS_CTOS] = "cast128-cbc";
    kex.reset(kex_choose(&context, own, server.Get()));
    EXPECT_EQ(0u, kex->enc[MODE_IN].iv_len);
    EXPECT_EQ(SSH_CIPHER_CAST128_CBC, kex->enc[MODE_OUT].type);
    EXPECT_EQ(20u, kex->need);  // the SHA-1 MAC key is the longest

    // The own third MAC name is a real algorithm: HMAC-RIPEMD-160.
    server.texts[PROPOSAL_MAC_ALGS_STOC] = KEX_MAC_RIPEMD160;
    kex.reset(kex_choose(&context, own, server.Get()));
    EXPECT_EQ(EVP_MD_get_type(EVP_ripemd160()), EVP_MD_get_type(kex->mac[MODE_IN].md));
    EXPECT_EQ(20, kex->mac[MODE_IN].mac_len);

    // Old servers get short MAC keys.
    context.datafellows = SSH_BUG_HMACKEY;
    server = ServerLists();
    kex.reset(kex_choose(&context, own, server.Get()));
    EXPECT_EQ(20, kex->mac[MODE_IN].mac_len);
    EXPECT_EQ(16u, kex->mac[MODE_IN].key_len);
    EXPECT_EQ(24u, kex->need);  // 3des-cbc's key, whatever the MAC
}

TEST_F(KexTest, ChooseFailures) {
    PacketContext context{};
    const char* own[PROPOSAL_MAX];
    kex_make_proposal(&context, own);
    auto failure = [&](int index, const char* list) {
        ServerLists server;
        server.texts[index] = list;
        return FatalMessage([&] { kex_choose(&context, own, server.Get()); });
    };
    EXPECT_EQ(std::string("no matching cipher found: client ") + own[PROPOSAL_ENC_ALGS_STOC] +
                  " server des-cbc,rijndael-cbc@lysator.liu.se",
              failure(PROPOSAL_ENC_ALGS_STOC, "des-cbc,rijndael-cbc@lysator.liu.se"));
    EXPECT_EQ(std::string("no matching mac found: client ") + own[PROPOSAL_MAC_ALGS_CTOS] +
                  " server umac-64@openssh.com",
              failure(PROPOSAL_MAC_ALGS_CTOS, "umac-64@openssh.com"));
    EXPECT_EQ("no matching comp found: client none server zlib",
              failure(PROPOSAL_COMP_ALGS_CTOS, "zlib"));
    EXPECT_EQ("no kex alg", failure(PROPOSAL_KEX_ALGS, "sntrup761x25519-sha512@openssh.com"));
    EXPECT_EQ("no hostkey alg",
              failure(PROPOSAL_SERVER_HOST_KEY_ALGS, "ssh-rsa-cert-v01@openssh.com"));
}

TEST_F(KexTest, PublicValueChecks) {
    DH* raw = dh_new_group1();
    ASSERT_NE(nullptr, raw);
    std::unique_ptr<DH, void (*)(DH*)> dh(raw, [](DH* d) { DH_free(d); });
    EXPECT_TRUE(dh_check_public(dh.get(), DH_get0_pub_key(dh.get())));

    BignumPtr p = Hex(kGroup1Hex);
    BignumPtr value(BN_new());
    auto check = [&](const BIGNUM* v) { return dh_check_public(dh.get(), v); };
    BN_set_word(value.get(), 0);
    EXPECT_FALSE(check(value.get()));
    BN_set_word(value.get(), 1);
    EXPECT_FALSE(check(value.get()));
    BN_set_word(value.get(), 2);
    EXPECT_FALSE(check(value.get()));  // one bit set
    BN_set_word(value.get(), 3);
    EXPECT_TRUE(check(value.get()));
    BN_copy(value.get(), p.get());
    BN_sub_word(value.get(), 1);
    EXPECT_FALSE(check(value.get()));  // p-1 would make the secret 1 or p-1
    BN_sub_word(value.get(), 1);
    EXPECT_TRUE(check(value.get()));  // p-2
    EXPECT_FALSE(check(p.get()));
    BN_set_negative(value.get(), 1);
    EXPECT_FALSE(check(value.get()));
}

TEST_F(KexTest, KexinitLayoutAndParsing) {
    PacketContext context{};
    const char* own[PROPOSAL_MAX];
    kex_make_proposal(&context, own);
    ScopedBuffer kexinit;
    kex_build_kexinit(kexinit.get(), own);

    const Bytes own_payload(reinterpret_cast<const char*>(buffer_ptr(kexinit.get())),
                            buffer_len(kexinit.get()));
    Link link;
    // The server's answer goes in first: its own KEXINIT.
    link.ServerSends(SSH2_MSG_KEXINIT, own_payload);

    ScopedBuffer received;
    char* lists[PROPOSAL_MAX] = {};
    kex_send_receive_kexinit(link.Client(), kexinit.get(), received.get(), lists);
    for (int i = 0; i < PROPOSAL_MAX; i++) {
        EXPECT_STREQ(own[i], lists[i]);
        xfree(lists[i]);
    }
    EXPECT_EQ(own_payload, Bytes(reinterpret_cast<const char*>(buffer_ptr(received.get())),
                                 buffer_len(received.get())));

    // What the client sent: 16 cookie bytes, the ten lists, 0, reserved 0.
    EXPECT_EQ(SSH2_MSG_KEXINIT, packet_read(link.Server(), nullptr));
    for (int i = 0; i < 16; i++) packet_get_char(link.Server());
    for (int i = 0; i < PROPOSAL_MAX; i++) {
        XmallocPtr<char> list(static_cast<char*>(packet_get_string(link.Server(), nullptr)));
        EXPECT_STREQ(own[i], list.get());
    }
    EXPECT_EQ(0, packet_get_char(link.Server()));
    EXPECT_EQ(0u, packet_get_int(link.Server()));
    EXPECT_EQ(0, packet_remaining(link.Server()));

    // A server KEXINIT with trailing bytes is an integrity error.
    link.ServerSends(SSH2_MSG_KEXINIT, own_payload + "\x09");
    ScopedBuffer again;
    char* more[PROPOSAL_MAX] = {};
    EXPECT_EQ("Packet integrity error.", FatalMessage([&] {
                  kex_send_receive_kexinit(link.Client(), kexinit.get(), again.get(), more);
              }));
    for (char* list : more)
        if (list != nullptr) xfree(list);
}

}  // namespace
