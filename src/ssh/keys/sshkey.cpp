#include "ssh/keys/sshkey.h"

#include <cstring>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>

#include "ssh/keys/dsa.h"
#include "ssh/wire/bufaux.h"

namespace {

struct Algorithm {
    const char* name;
    const char* key_type;
    const char* digest;  // null: the key type fixes it (Ed25519) or ssh/keys/dsa.h does
};

constexpr Algorithm kAlgorithms[] = {
    {"ssh-ed25519", "ssh-ed25519", nullptr},
    {"ecdsa-sha2-nistp256", "ecdsa-sha2-nistp256", "SHA256"},
    {"ecdsa-sha2-nistp384", "ecdsa-sha2-nistp384", "SHA384"},
    {"ecdsa-sha2-nistp521", "ecdsa-sha2-nistp521", "SHA512"},
    {"rsa-sha2-512", "ssh-rsa", "SHA512"},
    {"rsa-sha2-256", "ssh-rsa", "SHA256"},
    {"ssh-rsa", "ssh-rsa", "SHA1"},
    {"ssh-dss", "ssh-dss", nullptr},
};

struct Curve {
    const char* key_type;
    const char* identifier;  // RFC 5656 section 6.1
    const char* group;       // libcrypto group name
};

constexpr Curve kCurves[] = {
    {"ecdsa-sha2-nistp256", "nistp256", "P-256"},
    {"ecdsa-sha2-nistp384", "nistp384", "P-384"},
    {"ecdsa-sha2-nistp521", "nistp521", "P-521"},
};

const Algorithm* find_algorithm(const char* name) {
    if (name == nullptr) return nullptr;
    for (const Algorithm& algorithm : kAlgorithms)
        if (std::strcmp(algorithm.name, name) == 0) return &algorithm;
    return nullptr;
}

// Bounded reads of SSH strings from a blob: never fatal, since the blob comes
// from the peer.
struct Reader {
    const unsigned char* p;
    uint32_t left;
    bool string(const unsigned char** bytes, uint32_t* length) {
        if (left < 4) return false;
        uint32_t n = get_u32(p);
        if (n > left - 4) return false;
        *bytes = p + 4;
        *length = n;
        p += 4 + n;
        left -= 4 + n;
        return true;
    }
    bool text(std::string* out) {
        const unsigned char* bytes;
        uint32_t n;
        if (!string(&bytes, &n)) return false;
        out->assign(reinterpret_cast<const char*>(bytes), n);
        return true;
    }
};

struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct ParamBuildFree {
    void operator()(OSSL_PARAM_BLD* b) const { OSSL_PARAM_BLD_free(b); }
};
struct ParamFree {
    void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

EVP_PKEY* from_data(const char* type, OSSL_PARAM_BLD* build) {
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(build));
    std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree> context(
        EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* pkey = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return nullptr;
    return pkey;
}

// An mpint as a positive number; negative values are refused.
BIGNUM* positive_mpint(const unsigned char* bytes, uint32_t n) {
    if (n > 0 && (bytes[0] & 0x80) != 0) return nullptr;
    return BN_bin2bn(bytes, static_cast<int>(n), nullptr);
}

EVP_PKEY* rsa_key(Reader& r, std::string* why) {
    const unsigned char *e_bytes, *n_bytes;
    uint32_t e_length, n_length;
    if (!r.string(&e_bytes, &e_length) || !r.string(&n_bytes, &n_length)) return nullptr;
    std::unique_ptr<BIGNUM, BnFree> e(positive_mpint(e_bytes, e_length));
    std::unique_ptr<BIGNUM, BnFree> n(positive_mpint(n_bytes, n_length));
    if (!e || !n || BN_is_zero(e.get()) || !BN_is_odd(n.get())) return nullptr;
    if (BN_num_bits(n.get()) < kMinRsaBits) {
        *why = "RSA key of " + std::to_string(BN_num_bits(n.get())) + " bits is too small";
        return nullptr;
    }
    std::unique_ptr<OSSL_PARAM_BLD, ParamBuildFree> build(OSSL_PARAM_BLD_new());
    if (!build || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return nullptr;
    return from_data("RSA", build.get());
}

EVP_PKEY* ec_key(Reader& r, const Curve& curve, std::string* why) {
    std::string identifier;
    const unsigned char* point;
    uint32_t point_length;
    if (!r.text(&identifier) || !r.string(&point, &point_length)) return nullptr;
    if (identifier != curve.identifier) {
        *why = "curve " + identifier + " does not match the key type";
        return nullptr;
    }
    std::unique_ptr<OSSL_PARAM_BLD, ParamBuildFree> build(OSSL_PARAM_BLD_new());
    if (!build ||
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve.group, 0) !=
            1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point,
                                         point_length) != 1)
        return nullptr;
    EVP_PKEY* pkey = from_data("EC", build.get());
    if (pkey == nullptr) return nullptr;
    // Decoding already refuses points off the curve; the full check also
    // refuses the point at infinity and points outside the group order.
    std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree> check(
        EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) {
        EVP_PKEY_free(pkey);
        *why = "invalid ECDSA public key";
        return nullptr;
    }
    return pkey;
}

bool verify_digest(EVP_PKEY* pkey, const char* digest, const unsigned char* signature,
                   size_t signature_length, const unsigned char* data, size_t data_length) {
    std::unique_ptr<EVP_MD_CTX, MdContextFree> md(EVP_MD_CTX_new());
    if (!md) return false;
    if (EVP_DigestVerifyInit_ex(md.get(), nullptr, digest, nullptr, nullptr, pkey, nullptr) != 1)
        return false;
    return EVP_DigestVerify(md.get(), signature, signature_length, data, data_length) == 1;
}

}  // namespace

SshPublicKey::~SshPublicKey() {
    EVP_PKEY_free(pkey);
}

const char* sshkey_type_of_algorithm(const char* algorithm) {
    const Algorithm* found = find_algorithm(algorithm);
    return found != nullptr ? found->key_type : nullptr;
}

const char* const* sshkey_algorithms(int* count) {
    static const char* const kNames[] = {
        kAlgorithms[0].name, kAlgorithms[1].name, kAlgorithms[2].name, kAlgorithms[3].name,
        kAlgorithms[4].name, kAlgorithms[5].name, kAlgorithms[6].name, kAlgorithms[7].name,
    };
    static_assert(sizeof kNames / sizeof kNames[0] == sizeof kAlgorithms / sizeof kAlgorithms[0]);
    *count = static_cast<int>(sizeof kNames / sizeof kNames[0]);
    return kNames;
}

SshPublicKeyPtr sshkey_from_blob(const unsigned char* blob, uint32_t length, std::string* why) {
    std::string ignored;
    if (why == nullptr) why = &ignored;
    *why = "malformed public key";
    Reader r{blob, length};
    auto key = std::make_unique<SshPublicKey>();
    if (!r.text(&key->type)) return nullptr;
    if (key->type == "ssh-dss") {
        // The older reader is fatal on a truncated blob; it gets only the
        // blobs whose four numbers are all there.
        Reader probe = r;
        const unsigned char* bytes;
        uint32_t n;
        for (int i = 0; i < 4; i++)
            if (!probe.string(&bytes, &n)) return nullptr;
        key->dsa.reset(dsa_key_from_blob(blob, length));
        if (!key->dsa) return nullptr;
        return key;
    }
    if (key->type == "ssh-rsa") {
        key->pkey = rsa_key(r, why);
    } else if (key->type == "ssh-ed25519") {
        const unsigned char* raw;
        uint32_t raw_length;
        if (r.string(&raw, &raw_length) && raw_length == 32)
            key->pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw, raw_length);
    } else {
        const Curve* curve = nullptr;
        for (const Curve& c : kCurves)
            if (key->type == c.key_type) curve = &c;
        if (curve == nullptr) {
            *why = "unknown key type " + key->type.substr(0, 64);
            return nullptr;
        }
        key->pkey = ec_key(r, *curve, why);
    }
    if (key->pkey == nullptr) return nullptr;
    if (r.left != 0) {
        *why = "trailing bytes after the public key";
        return nullptr;
    }
    why->clear();
    return key;
}

int sshkey_verify(const SshPublicKey* key, const char* algorithm, const unsigned char* signature,
                  uint32_t signature_length, const unsigned char* data, uint32_t data_length,
                  int* datafellows) {
    const Algorithm* found = find_algorithm(algorithm);
    if (found == nullptr || key == nullptr || key->type != found->key_type) return -1;
    if (key->type == "ssh-dss") {
        int ignored = 0;
        return dsa_verify(key->dsa.get(), signature, signature_length, data, data_length,
                          datafellows != nullptr ? datafellows : &ignored);
    }
    Reader r{signature, signature_length};
    std::string name;
    const unsigned char* bytes;
    uint32_t n;
    if (!r.text(&name) || !r.string(&bytes, &n) || r.left != 0) return -1;
    // The signature must be made with the algorithm negotiated, not merely
    // with the same key (RFC 8332 section 3).
    if (name != found->name) return 0;

    if (key->type == "ssh-ed25519") {
        if (n != 64) return 0;
        return verify_digest(key->pkey, nullptr, bytes, n, data, data_length) ? 1 : 0;
    }
    if (key->type == "ssh-rsa") {
        // A signature shorter than the modulus is left-padded with zeros.
        const size_t modulus = static_cast<size_t>(EVP_PKEY_get_size(key->pkey));
        if (n > modulus) return 0;
        std::vector<unsigned char> padded(modulus, 0);
        std::memcpy(padded.data() + (modulus - n), bytes, n);
        return verify_digest(key->pkey, found->digest, padded.data(), padded.size(), data,
                             data_length)
                   ? 1
                   : 0;
    }
    // ECDSA: r and s as two mpints, turned into the DER form libcrypto takes.
    Reader inner{bytes, n};
    const unsigned char *r_bytes, *s_bytes;
    uint32_t r_length, s_length;
    if (!inner.string(&r_bytes, &r_length) || !inner.string(&s_bytes, &s_length) || inner.left != 0)
        return 0;
    BIGNUM* rr = positive_mpint(r_bytes, r_length);
    BIGNUM* ss = positive_mpint(s_bytes, s_length);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    if (rr == nullptr || ss == nullptr || sig == nullptr || ECDSA_SIG_set0(sig, rr, ss) != 1) {
        BN_free(rr);
        BN_free(ss);
        ECDSA_SIG_free(sig);
        return 0;
    }
    unsigned char* der = nullptr;
    int der_length = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (der_length <= 0) return 0;
    bool good = verify_digest(key->pkey, found->digest, der, static_cast<size_t>(der_length), data,
                              data_length);
    OPENSSL_free(der);
    return good ? 1 : 0;
}
