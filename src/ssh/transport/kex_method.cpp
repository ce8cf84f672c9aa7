#include "ssh/transport/kex_method.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "ssh/keys/host_key.h"
#include "ssh/keys/sshkey.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr KexMethod kMethods[] = {
    {"curve25519-sha256", "SHA256", KexFamily::X25519, 0, nullptr},
    {"curve25519-sha256@libssh.org", "SHA256", KexFamily::X25519, 0, nullptr},
    {"ecdh-sha2-nistp256", "SHA256", KexFamily::Ecdh, 0, "P-256"},
    {"ecdh-sha2-nistp384", "SHA384", KexFamily::Ecdh, 0, "P-384"},
    {"ecdh-sha2-nistp521", "SHA512", KexFamily::Ecdh, 0, "P-521"},
    {"diffie-hellman-group-exchange-sha256", "SHA256", KexFamily::GroupExchange, 0, nullptr},
    {"diffie-hellman-group16-sha512", "SHA512", KexFamily::FixedGroup, 4096, nullptr},
    {"diffie-hellman-group18-sha512", "SHA512", KexFamily::FixedGroup, 8192, nullptr},
    {"diffie-hellman-group14-sha256", "SHA256", KexFamily::FixedGroup, 2048, nullptr},
    {"diffie-hellman-group14-sha1", "SHA1", KexFamily::FixedGroup, 2048, nullptr},
    {"diffie-hellman-group-exchange-sha1", "SHA1", KexFamily::GroupExchange, 0, nullptr},
    {"diffie-hellman-group1-sha1", "SHA1", KexFamily::FixedGroup, 1024, nullptr},
};

struct KexResultFree {
    void operator()(KexResult* kex) const { kex_result_free(kex); }
};
struct DhRelease {
    void operator()(DH* dh) const { dh_release(dh); }
};
using DhPtr = std::unique_ptr<DH, DhRelease>;
struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;

void integrity_check(PacketContext* context, int line) {
    int remaining = packet_remaining(context);
    if (remaining > 0) {
        log("Packet integrity error (%d bytes remaining) at %s:%d", remaining, __FILE__, line);
        fatal("Packet integrity error.");
    }
}

// What every family hands to the common end of the exchange.
struct Outcome {
    std::vector<unsigned char> host_key_blob;
    std::vector<unsigned char> signature;
    ScopedBuffer method_part;  // the family's fields of the exchange hash, encoded
    BignumPtr k;
};

std::vector<unsigned char> get_string(PacketContext* context) {
    uint32_t length = 0;
    XmallocPtr<unsigned char> bytes(
        static_cast<unsigned char*>(packet_get_string(context, &length)));
    return std::vector<unsigned char>(bytes.get(), bytes.get() + length);
}

// Host key blob, then the family's value (read by `read_value`), then the
// signature: the layout of every reply (RFC 4253 section 8, RFC 5656
// section 4, RFC 4419 section 3).
template <typename ReadValue>
void read_reply(PacketContext* context, int type, Outcome* out, ReadValue read_value) {
    debug("Wait reply %d.", type);
    packet_read_expect(context, nullptr, type);
    out->host_key_blob = get_string(context);
    read_value();
    out->signature = get_string(context);
    integrity_check(context, __LINE__);
}

void send_and_flush(PacketContext* context) {
    packet_send(context);
    packet_write_wait(context);
}

// e = g^x mod p, then f and K; shared by the fixed groups and the group
// exchange.
void dh_round(PacketContext* context, DH* dh, int init_type, int reply_type, Outcome* out) {
    const BIGNUM* e = dh_public_value(dh);
    packet_start(context, init_type);
    packet_put_bignum2(context, e);
    send_and_flush(context);
    BignumPtr f(BN_new());
    if (!f) fatal("dh_server_pub == NULL");
    read_reply(context, reply_type, out, [&] { packet_get_bignum2(context, f.get(), nullptr); });
    if (!dh_value_in_range(dh_prime(dh), f.get())) fatal("bad server public DH value");
    buffer_put_bignum2(out->method_part.get(), e);
    buffer_put_bignum2(out->method_part.get(), f.get());
    out->k.reset(dh_shared_secret(dh, f.get()));
}

// Private exponents twice as long as the group's strength (RFC 3526
// section 8's estimates, rounded up).
int private_bits_for(int group_bits) {
    if (group_bits <= 1024) return 256;
    if (group_bits <= 2048) return 256;
    if (group_bits <= 4096) return 384;
    return 512;
}

void run_fixed_group(PacketContext* context, const KexMethod& method, Outcome* out) {
    BignumPtr p(dh_fixed_prime(method.group_bits));
    BignumPtr g(BN_new());
    if (!p || !g || BN_set_word(g.get(), 2) != 1) fatal("kex: group set-up failed");
    DhPtr dh(dh_new_with(p.get(), g.get(), private_bits_for(method.group_bits)));
    debug("Sending SSH2_MSG_KEXDH_INIT.");
    dh_round(context, dh.get(), SSH2_MSG_KEXDH_INIT, SSH2_MSG_KEXDH_REPLY, out);
}

void run_group_exchange(PacketContext* context, Outcome* out) {
    debug("Sending SSH2_MSG_KEX_DH_GEX_REQUEST (%u<%u<%u).", kGexMinBits, kGexPreferredBits,
          kGexMaxBits);
    packet_start(context, SSH2_MSG_KEX_DH_GEX_REQUEST);
    packet_put_int(context, kGexMinBits);
    packet_put_int(context, kGexPreferredBits);
    packet_put_int(context, kGexMaxBits);
    send_and_flush(context);

    packet_read_expect(context, nullptr, SSH2_MSG_KEX_DH_GEX_GROUP);
    BignumPtr p(BN_new());
    BignumPtr g(BN_new());
    if (!p || !g) fatal("kex: BN_new failed");
    packet_get_bignum2(context, p.get(), nullptr);
    packet_get_bignum2(context, g.get(), nullptr);
    integrity_check(context, __LINE__);
    const char* why = "";
    if (!dh_group_acceptable(p.get(), g.get(), kGexMinBits, kGexMaxBits, &why))
        fatal("DH group exchange: %s (%d bits)", why, BN_num_bits(p.get()));

    buffer_put_int(out->method_part.get(), kGexMinBits);
    buffer_put_int(out->method_part.get(), kGexPreferredBits);
    buffer_put_int(out->method_part.get(), kGexMaxBits);
    buffer_put_bignum2(out->method_part.get(), p.get());
    buffer_put_bignum2(out->method_part.get(), g.get());
    DhPtr dh(dh_new_with(p.get(), g.get(), private_bits_for(BN_num_bits(p.get()))));
    dh_round(context, dh.get(), SSH2_MSG_KEX_DH_GEX_INIT, SSH2_MSG_KEX_DH_GEX_REPLY, out);
}

PkeyPtr generate(const char* type, const char* group) {
    PkeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1) fatal("kex: %s key set-up", type);
    if (group != nullptr) {
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>(group),
                                             0),
            OSSL_PARAM_construct_end(),
        };
        if (EVP_PKEY_CTX_set_params(context.get(), params) != 1) fatal("kex: %s group", group);
    }
    if (EVP_PKEY_generate(context.get(), &key) != 1) fatal("kex: %s key generation", type);
    return PkeyPtr(key);
}

// The shared secret of our key and the peer's; fatal when libcrypto refuses
// the pair.
std::vector<unsigned char> derive(EVP_PKEY* own, EVP_PKEY* peer) {
    PkeyContextPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, own, nullptr));
    size_t length = 0;
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
        EVP_PKEY_derive_set_peer(context.get(), peer) != 1 ||
        EVP_PKEY_derive(context.get(), nullptr, &length) != 1)
        fatal("kex: key agreement refused the server's value");
    std::vector<unsigned char> secret(length);
    if (EVP_PKEY_derive(context.get(), secret.data(), &length) != 1)
        fatal("kex: key agreement failed");
    secret.resize(length);
    return secret;
}

void wipe(std::vector<unsigned char>& bytes) {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
}

std::vector<unsigned char> encoded_public(EVP_PKEY* key) {
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, nullptr, 0,
                                        &length) != 1)
        fatal("kex: public value");
    std::vector<unsigned char> bytes(length);
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, bytes.data(),
                                        bytes.size(), &length) != 1)
        fatal("kex: public value");
    bytes.resize(length);
    return bytes;
}

// X25519 (RFC 8731) and the NIST curves (RFC 5656): both send the public
// value as a string and form K from the secret's bytes.
void run_curve(PacketContext* context, const KexMethod& method, Outcome* out) {
    const bool x25519 = method.family == KexFamily::X25519;
    PkeyPtr own = x25519 ? generate("X25519", nullptr) : generate("EC", method.curve);
    std::vector<unsigned char> q_c = encoded_public(own.get());
    debug("Sending SSH2_MSG_KEX_ECDH_INIT.");
    packet_start(context, SSH2_MSG_KEX_ECDH_INIT);
    packet_put_string(context, q_c.data(), static_cast<uint32_t>(q_c.size()));
    send_and_flush(context);

    std::vector<unsigned char> q_s;
    read_reply(context, SSH2_MSG_KEX_ECDH_REPLY, out, [&] { q_s = get_string(context); });

    PkeyPtr peer;
    if (x25519) {
        if (q_s.size() != 32) fatal("kex: bad server X25519 public value");
        peer.reset(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, q_s.data(), q_s.size()));
    } else {
        // Decoding the point refuses one that is not on the curve; the
        // public check then refuses the point at infinity (RFC 5656
        // section 4's validation).
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME,
                                             const_cast<char*>(method.curve), 0),
            OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, q_s.data(), q_s.size()),
            OSSL_PARAM_construct_end(),
        };
        PkeyContextPtr build(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
        EVP_PKEY* key = nullptr;
        if (build && EVP_PKEY_fromdata_init(build.get()) == 1 &&
            EVP_PKEY_fromdata(build.get(), &key, EVP_PKEY_PUBLIC_KEY, params) == 1)
            peer.reset(key);
        if (peer) {
            PkeyContextPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, peer.get(), nullptr));
            if (!check || EVP_PKEY_public_check(check.get()) != 1) peer.reset();
        }
    }
    if (!peer) fatal("kex: bad server public value");
    std::vector<unsigned char> secret = derive(own.get(), peer.get());
    if (x25519) {
        if (secret.size() != 32) fatal("kex: X25519 failed");
        out->k.reset(kex_x25519_secret_number(secret.data()));
    } else {
        out->k.reset(BN_bin2bn(secret.data(), static_cast<int>(secret.size()), nullptr));
    }
    wipe(secret);
    if (!out->k) fatal("kex: BN_bin2bn failed");
    buffer_put_string(out->method_part.get(), q_c.data(), static_cast<uint32_t>(q_c.size()));
    buffer_put_string(out->method_part.get(), q_s.data(), static_cast<uint32_t>(q_s.size()));
}

}  // namespace

const KexMethod* kex_methods(int* count) {
    *count = static_cast<int>(sizeof kMethods / sizeof kMethods[0]);
    return kMethods;
}

const KexMethod* kex_method_find(const char* name) {
    if (name == nullptr) return nullptr;
    for (const KexMethod& method : kMethods)
        if (std::strcmp(method.name, name) == 0) return &method;
    return nullptr;
}

BIGNUM* kex_x25519_secret_number(const unsigned char secret[32]) {
    unsigned char any = 0;
    for (int i = 0; i < 32; i++) any |= secret[i];
    // RFC 7748 section 6.1 / RFC 8731 section 3: an all-zero result means
    // the server's value was of low order.
    if (any == 0) fatal("kex: X25519 shared secret is all zeros");
    BIGNUM* k = BN_bin2bn(secret, 32, nullptr);
    if (k == nullptr) fatal("kex: BN_bin2bn failed");
    return k;
}

void kex_run_method(PacketContext* context, KexResult* kex_in, const Buffer* own,
                    const Buffer* server) {
    std::unique_ptr<KexResult, KexResultFree> kex(kex_in);
    const KexMethod* method = kex_method_find(kex->name);
    if (method == nullptr) fatal("bad kex alg %s", kex->name);
    const EVP_MD* md = EVP_get_digestbyname(method->hash);
    if (md == nullptr) fatal("kex: digest %s not available", method->hash);

    Outcome out;
    switch (method->family) {
        case KexFamily::FixedGroup:
            run_fixed_group(context, *method, &out);
            break;
        case KexFamily::GroupExchange:
            run_group_exchange(context, &out);
            break;
        case KexFamily::Ecdh:
        case KexFamily::X25519:
            run_curve(context, *method, &out);
            break;
    }

    std::string why;
    SshPublicKeyPtr host_key = sshkey_from_blob(
        out.host_key_blob.data(), static_cast<uint32_t>(out.host_key_blob.size()), &why);
    if (!host_key) fatal("cannot decode server_host_key_blob: %s", why.c_str());
    const char* wanted_type = sshkey_type_of_algorithm(kex->hostkey_name);
    if (wanted_type == nullptr || host_key->type != wanted_type)
        fatal("server host key type %s does not match %s", host_key->type.c_str(),
              kex->hostkey_name);

    unsigned char hash[EVP_MAX_MD_SIZE];
    uint32_t hash_length = 0;
    kex_hash(md, context->client_version_string != nullptr ? context->client_version_string : "",
             context->server_version_string != nullptr ? context->server_version_string : "", own,
             server, out.host_key_blob.data(), static_cast<uint32_t>(out.host_key_blob.size()),
             out.method_part.get(), out.k.get(), hash, &hash_length);
    if (sshkey_verify(host_key.get(), kex->hostkey_name, out.signature.data(),
                      static_cast<uint32_t>(out.signature.size()), hash, hash_length,
                      &context->datafellows) != 1)
        fatal("%s signature verification failed for server_host_key", kex->hostkey_name);
    host_key.reset();
    // Signed is not yet trusted: the known-hosts check may still refuse it,
    // and must do so before anything of the user's is sent.
    host_key_check_blob(context, out.host_key_blob.data(),
                        static_cast<uint32_t>(out.host_key_blob.size()));

    // The first exchange's hash is the session identifier for good.
    const unsigned char* session_id = hash;
    uint32_t session_id_length = hash_length;
    if (context->session_id2 != nullptr) {
        session_id = context->session_id2;
        session_id_length = context->session_id2_len;
    }
    kex_derive_keys(kex.get(), md, hash, hash_length, session_id, session_id_length, out.k.get());
    packet_set_kex(context, kex.release());

    if (context->session_id2 == nullptr) {
        context->session_id2 = static_cast<unsigned char*>(xmalloc(hash_length));
        std::memcpy(context->session_id2, hash, hash_length);
        context->session_id2_len = hash_length;
    }
    OPENSSL_cleanse(hash, sizeof hash);
}
