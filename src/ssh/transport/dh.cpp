#include "ssh/transport/dh.h"

#include <cstring>
#include <memory>

#include <openssl/crypto.h>

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

DH* dh_new_with(const BIGNUM* p, const BIGNUM* g, int private_bits) {
    DhPtr dh(DH_new());
    if (!dh) fatal("DH_new");
    BignumPtr prime(BN_dup(p));
    BignumPtr generator(BN_dup(g));
    if (!prime || !generator || DH_set0_pqg(dh.get(), prime.get(), nullptr, generator.get()) != 1)
        fatal("DH_new");
    prime.release();
    generator.release();
    if (DH_set_length(dh.get(), private_bits) != 1) fatal("DH_set_length");
    for (int tries = 0;; tries++) {
        if (DH_generate_key(dh.get()) != 1) fatal("DH_generate_key");
        if (tries > kMaxKeyTries) fatal("dh_new_with: too many bad keys: giving up");
        if (dh_value_in_range(p, DH_get0_pub_key(dh.get()))) break;
    }
    return dh.release();
}

BIGNUM* dh_fixed_prime(int bits) {
    switch (bits) {
        case 1024:
            return BN_get_rfc2409_prime_1024(nullptr);
        case 2048:
            return BN_get_rfc3526_prime_2048(nullptr);
        case 4096:
            return BN_get_rfc3526_prime_4096(nullptr);
        case 8192:
            return BN_get_rfc3526_prime_8192(nullptr);
        default:
            return nullptr;
    }
}

bool dh_value_in_range(const BIGNUM* p, const BIGNUM* value) {
    if (value == nullptr || BN_is_negative(value) || BN_cmp(value, BN_value_one()) <= 0)
        return false;
    BignumPtr p_minus_1(BN_dup(p));
    if (!p_minus_1 || BN_sub_word(p_minus_1.get(), 1) != 1) fatal("dh_value_in_range: BN_dup");
    return BN_cmp(value, p_minus_1.get()) < 0;
}

bool dh_group_acceptable(const BIGNUM* p, const BIGNUM* g, int min_bits, int max_bits,
                         const char** why) {
    const int bits = BN_num_bits(p);
    if (bits < min_bits || bits > max_bits) {
        *why = "group size out of range";
        return false;
    }
    if (!BN_is_odd(p) || !dh_value_in_range(p, g)) {
        *why = "bad group parameters";
        return false;
    }
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> bn(BN_CTX_new(), BN_CTX_free);
    BignumPtr q(BN_dup(p));
    if (!bn || !q || BN_rshift1(q.get(), q.get()) != 1) fatal("dh_group_acceptable: BN_dup");
    // A handful of rounds: the server chose the group and could cheat anyway
    // by other means; this catches broken or trivially weak groups cheaply.
    constexpr int kRounds = 4;
    if (BN_is_prime_ex(p, kRounds, bn.get(), nullptr) != 1 ||
        BN_is_prime_ex(q.get(), kRounds, bn.get(), nullptr) != 1) {
        *why = "group modulus is not a safe prime";
        return false;
    }
    return true;
}

BIGNUM* dh_shared_secret(DH* dh, const BIGNUM* peer_value) {
    const int size = DH_size(dh);
    Wiped secret{static_cast<unsigned char*>(xmalloc(static_cast<size_t>(size))),
                 static_cast<size_t>(size)};
    std::memset(secret.bytes, 0, secret.length);
    const int secret_length = DH_compute_key(secret.bytes, peer_value, dh);
    if (secret_length < 0) fatal("DH_compute_key failed");
    BIGNUM* shared = BN_bin2bn(secret.bytes, secret_length, nullptr);
    if (shared == nullptr) fatal("kex: BN_bin2bn failed");
    return shared;
}

const BIGNUM* dh_public_value(const DH* dh) {
    return DH_get0_pub_key(dh);
}

const BIGNUM* dh_prime(const DH* dh) {
    return DH_get0_p(dh);
}

void dh_release(DH* dh) {
    DH_free(dh);
}
