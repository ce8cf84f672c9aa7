#include "ssh/transport/dh.h"

#include <cstring>
#include <memory>

#include <openssl/crypto.h>

#include "ssh/keys/dsa.h"
#include "ssh/keys/host_key.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

// RFC 2409 section 6.2, "Second Oakley Group".
constexpr const char* kGroup1Prime =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD1"
    "29024E088A67CC74020BBEA63B139B22514A08798E3404DD"
    "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245"
    "E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381"
    "FFFFFFFFFFFFFFFF";

constexpr int kMaxKeyTries = 10;

struct DhFree {
    void operator()(DH* dh) const { DH_free(dh); }
};
using DhPtr = std::unique_ptr<DH, DhFree>;

struct KexResultFree {
    void operator()(KexResult* kex) const { kex_result_free(kex); }
};

struct Wiped {
    unsigned char* bytes;
    size_t length;
    ~Wiped() {
        if (bytes != nullptr) {
            OPENSSL_cleanse(bytes, length);
            xfree(bytes);
        }
    }
};

void integrity_check(PacketContext* context, int line) {
    int remaining = packet_remaining(context);
    if (remaining > 0) {
        log("Packet integrity error (%d bytes remaining) at %s:%d", remaining, __FILE__, line);
        fatal("Packet integrity error.");
    }
}

}  // namespace

DH* dh_new_group1() {
    DhPtr dh(DH_new());
    if (!dh) fatal("DH_new");
    BIGNUM* p = nullptr;
    if (BN_hex2bn(&p, kGroup1Prime) == 0) fatal("BN_hex2bn");
    BignumPtr prime(p);
    BignumPtr g(BN_new());
    if (!g) fatal("DH_new g");
    if (BN_set_word(g.get(), 2) != 1) fatal("DH_new g");
    if (DH_set0_pqg(dh.get(), prime.get(), nullptr, g.get()) != 1) fatal("DH_new");
    prime.release();
    g.release();

    for (int tries = 0;; tries++) {
        if (DH_generate_key(dh.get()) != 1) fatal("DH_generate_key");
        if (tries > kMaxKeyTries) fatal("dh_new_group1: too many bad keys: giving up");
        if (dh_check_public(dh.get(), DH_get0_pub_key(dh.get()))) break;
    }
    return dh.release();
}

bool dh_check_public(const DH* dh, const BIGNUM* value) {
    const BIGNUM* p = DH_get0_p(dh);
    const BIGNUM* g = DH_get0_g(dh);
    if (g == nullptr || !BN_is_word(g, 2)) {
        log("invalid DH base != 2");
        return false;
    }
    if (BN_is_negative(value)) {
        log("invalid public DH value: negativ");
        return false;
    }
    int bits_set = 0;
    const int length = BN_num_bits(value);
    for (int i = 0; i <= length; i++)
        if (BN_is_bit_set(value, i)) bits_set++;
    debug("bits set: %d/%d", bits_set, BN_num_bits(p));

    BignumPtr p_minus_1(BN_dup(p));
    if (!p_minus_1 || BN_sub_word(p_minus_1.get(), 1) != 1) fatal("dh_check_public: BN_dup");
    if (bits_set > 1 && BN_cmp(value, p_minus_1.get()) < 0) return true;
    log("invalid public DH value (%d/%d)", bits_set, BN_num_bits(p));
    return false;
}

void ssh2_dh_exchange(PacketContext* context, KexResult* kex_in, const Buffer* own,
                      const Buffer* server) {
    std::unique_ptr<KexResult, KexResultFree> kex(kex_in);
    debug("Sending SSH2_MSG_KEXDH_INIT.");
    DhPtr dh(dh_new_group1());
    const BIGNUM* e = DH_get0_pub_key(dh.get());
    packet_start(context, SSH2_MSG_KEXDH_INIT);
    packet_put_bignum2(context, e);
    packet_send(context);
    packet_write_wait(context);

    debug("Wait SSH2_MSG_KEXDH_REPLY.");
    packet_read_expect(context, nullptr, SSH2_MSG_KEXDH_REPLY);
    debug("Got SSH2_MSG_KEXDH_REPLY.");
    uint32_t host_key_length = 0;
    XmallocPtr<unsigned char> host_key_blob(
        static_cast<unsigned char*>(packet_get_string(context, &host_key_length)));
    KeyPtr host_key(dsa_key_from_blob(host_key_blob.get(), host_key_length));
    if (!host_key) fatal("cannot decode server_host_key_blob");
    BignumPtr f(BN_new());
    if (!f) fatal("dh_server_pub == NULL");
    packet_get_bignum2(context, f.get(), nullptr);
    uint32_t signature_length = 0;
    XmallocPtr<unsigned char> signature(
        static_cast<unsigned char*>(packet_get_string(context, &signature_length)));
    integrity_check(context, __LINE__);
    if (!dh_check_public(dh.get(), f.get())) fatal("bad server public DH value");

    const int size = DH_size(dh.get());
    Wiped secret{static_cast<unsigned char*>(xmalloc(static_cast<size_t>(size))),
                 static_cast<size_t>(size)};
    std::memset(secret.bytes, 0, secret.length);
    const int secret_length = DH_compute_key(secret.bytes, f.get(), dh.get());
    if (secret_length < 0) fatal("DH_compute_key failed");
    BignumPtr shared(BN_bin2bn(secret.bytes, secret_length, nullptr));
    if (!shared) fatal("kex: BN_bin2bn failed");

    unsigned char hash[20];
    kex_exchange_hash(
        context->client_version_string != nullptr ? context->client_version_string : "",
        context->server_version_string != nullptr ? context->server_version_string : "",
        buffer_ptr(own), buffer_len(own), buffer_ptr(server), buffer_len(server),
        host_key_blob.get(), host_key_length, e, f.get(), shared.get(), hash);
    if (dsa_verify(host_key.get(), signature.get(), signature_length, hash, sizeof hash,
                   &context->datafellows) != 1)
        fatal("dsa_verify failed for server_host_key");
    host_key_check_blob(context, host_key_blob.get(), host_key_length);
    host_key_blob.reset();
    host_key.reset();

    // The first exchange's hash is the session id for good (RFC 4253
    // section 7.2); a re-key derives its keys with it.
    const bool first = context->session_id2 == nullptr;
    kex_derive_all(kex.get(), hash, shared.get(), first ? nullptr : context->session_id2);
    packet_set_kex(context, kex.release());

    if (first) {
        context->session_id2 = static_cast<unsigned char*>(xmalloc(sizeof hash));
        std::memcpy(context->session_id2, hash, sizeof hash);
        context->session_id2_len = sizeof hash;
    }
    OPENSSL_cleanse(hash, sizeof hash);
}
