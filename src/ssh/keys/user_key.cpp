#include "ssh/keys/user_key.h"

#include <cstring>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>

namespace {

struct BnFree {
    void operator()(BIGNUM* n) const { BN_clear_free(n); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

Blob BnBytes(const BIGNUM* n) {
    Blob out(static_cast<std::size_t>(BN_num_bytes(n)));
    if (!out.empty()) BN_bn2bin(n, out.data());
    return out;
}

bool GetBn(const EVP_PKEY* key, const char* name, BnPtr* out) {
    BIGNUM* n = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &n) != 1) return false;
    out->reset(n);
    return true;
}

void PutBn(BlobWriter* w, const BIGNUM* n) {
    const Blob bytes = BnBytes(n);
    w->PutMpint(bytes.data(), bytes.size());
}

struct Curve {
    UserKeyType type;
    const char* group;   // libcrypto's name
    const char* nist;    // the curve's SSH identifier
    const char* ssh;     // the key type name
    std::size_t field;   // bytes of one coordinate
    const char* digest;  // RFC 5656 section 6.2.1
};

constexpr Curve kCurves[] = {
    {UserKeyType::kEcdsaP256, "prime256v1", "nistp256", "ecdsa-sha2-nistp256", 32, "SHA256"},
    {UserKeyType::kEcdsaP384, "secp384r1", "nistp384", "ecdsa-sha2-nistp384", 48, "SHA384"},
    {UserKeyType::kEcdsaP521, "secp521r1", "nistp521", "ecdsa-sha2-nistp521", 66, "SHA512"},
};

const Curve* CurveOf(UserKeyType type) {
    for (const Curve& c : kCurves)
        if (c.type == type) return &c;
    return nullptr;
}

bool EcBlob(const EVP_PKEY* key, UserKeyType* type, Blob* blob) {
    char group[64] = {};
    std::size_t group_length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       &group_length) != 1)
        return false;
    const Curve* curve = nullptr;
    for (const Curve& c : kCurves)
        if (std::strcmp(group, c.group) == 0 || std::strcmp(group, c.nist) == 0) curve = &c;
    if (curve == nullptr) return false;
    // The point goes out uncompressed (RFC 5656 section 3.1) whatever form
    // the file stored it in.
    BnPtr x;
    BnPtr y;
    if (!GetBn(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) || !GetBn(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y))
        return false;
    Blob point(1 + 2 * curve->field);
    point[0] = 0x04;
    if (BN_bn2binpad(x.get(), point.data() + 1, static_cast<int>(curve->field)) < 0 ||
        BN_bn2binpad(y.get(), point.data() + 1 + curve->field, static_cast<int>(curve->field)) < 0)
        return false;
    BlobWriter w;
    w.PutString(curve->ssh);
    w.PutString(curve->nist);
    w.PutString(point);
    *type = curve->type;
    *blob = w.Take();
    return true;
}

bool MakeBlob(const EVP_PKEY* key, UserKeyType* type, Blob* blob) {
    BlobWriter w;
    switch (EVP_PKEY_get_base_id(key)) {
        case EVP_PKEY_ED25519: {
            uint8_t raw[32];
            std::size_t n = sizeof raw;
            if (EVP_PKEY_get_raw_public_key(key, raw, &n) != 1 || n != sizeof raw) return false;
            w.PutString("ssh-ed25519");
            w.PutString(raw, n);
            *type = UserKeyType::kEd25519;
            break;
        }
        case EVP_PKEY_EC:
            return EcBlob(key, type, blob);
        case EVP_PKEY_RSA: {
            BnPtr n;
            BnPtr e;
            if (!GetBn(key, OSSL_PKEY_PARAM_RSA_N, &n) || !GetBn(key, OSSL_PKEY_PARAM_RSA_E, &e))
                return false;
            w.PutString("ssh-rsa");
            PutBn(&w, e.get());
            PutBn(&w, n.get());
            *type = UserKeyType::kRsa;
            break;
        }
        case EVP_PKEY_DSA: {
            BnPtr p, q, g, y;
            if (!GetBn(key, OSSL_PKEY_PARAM_FFC_P, &p) || !GetBn(key, OSSL_PKEY_PARAM_FFC_Q, &q) ||
                !GetBn(key, OSSL_PKEY_PARAM_FFC_G, &g) || !GetBn(key, OSSL_PKEY_PARAM_PUB_KEY, &y))
                return false;
            w.PutString("ssh-dss");
            PutBn(&w, p.get());
            PutBn(&w, q.get());
            PutBn(&w, g.get());
            PutBn(&w, y.get());
            *type = UserKeyType::kDsa;
            break;
        }
        default:
            return false;
    }
    *blob = w.Take();
    return true;
}

// One-shot signature of libcrypto: raw for Ed25519 (md null), DER for DSA
// and ECDSA, PKCS #1 v1.5 for RSA.
bool EvpSign(EVP_PKEY* key, const char* digest, const uint8_t* data, std::size_t length,
             Blob* out) {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx) return false;
    if (EVP_DigestSignInit_ex(ctx.get(), nullptr, digest, nullptr, nullptr, key, nullptr) != 1)
        return false;
    std::size_t n = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &n, data, length) != 1) return false;
    out->resize(n);
    if (EVP_DigestSign(ctx.get(), out->data(), &n, data, length) != 1) return false;
    out->resize(n);
    return true;
}

const char* RsaDigest(const std::string& algorithm) {
    if (algorithm == "rsa-sha2-512") return "SHA512";
    if (algorithm == "rsa-sha2-256") return "SHA256";
    if (algorithm == "ssh-rsa") return "SHA1";
    return nullptr;
}

}  // namespace

std::unique_ptr<UserKey> UserKey::FromPkey(EvpPkeyPtr key, std::string comment) {
    if (!key) return nullptr;
    UserKeyType type{};
    Blob blob;
    if (!MakeBlob(key.get(), &type, &blob)) return nullptr;
    return std::unique_ptr<UserKey>(
        new UserKey(std::move(key), type, std::move(blob), std::move(comment)));
}

const char* UserKey::TypeName() const {
    switch (type_) {
        case UserKeyType::kEd25519:
            return "ssh-ed25519";
        case UserKeyType::kRsa:
            return "ssh-rsa";
        case UserKeyType::kDsa:
            return "ssh-dss";
        default:
            return CurveOf(type_)->ssh;
    }
}

bool UserKey::Sign(const std::string& algorithm, const uint8_t* data, std::size_t length,
                   bool bare_dss, Blob* signature) const {
    Blob raw;
    BlobWriter w;
    switch (type_) {
        case UserKeyType::kEd25519:
            if (algorithm != "ssh-ed25519" || !EvpSign(key_.get(), nullptr, data, length, &raw))
                return false;
            w.PutString(algorithm);
            w.PutString(raw);
            break;
        case UserKeyType::kRsa: {
            const char* digest = RsaDigest(algorithm);
            if (digest == nullptr || !EvpSign(key_.get(), digest, data, length, &raw)) return false;
            w.PutString(algorithm);
            w.PutString(raw);
            break;
        }
        case UserKeyType::kDsa: {
            Blob r, s;
            if (algorithm != "ssh-dss" || !EvpSign(key_.get(), "SHA1", data, length, &raw) ||
                !SplitDerSignature(raw.data(), raw.size(), &r, &s) || r.size() > 20 ||
                s.size() > 20)
                return false;
            // r and s as 20 bytes each (RFC 4253 section 6.6).
            uint8_t rs[40] = {};
            std::memcpy(rs + 20 - r.size(), r.data(), r.size());
            std::memcpy(rs + 40 - s.size(), s.data(), s.size());
            if (bare_dss) {
                signature->assign(rs, rs + 40);
                return true;
            }
            w.PutString(algorithm);
            w.PutString(rs, sizeof rs);
            break;
        }
        default: {
            const Curve* curve = CurveOf(type_);
            Blob r, s;
            if (algorithm != curve->ssh ||
                !EvpSign(key_.get(), curve->digest, data, length, &raw) ||
                !SplitDerSignature(raw.data(), raw.size(), &r, &s))
                return false;
            BlobWriter inner;
            inner.PutMpint(r.data(), r.size());
            inner.PutMpint(s.data(), s.size());
            w.PutString(algorithm);
            w.PutString(inner.bytes());
            break;
        }
    }
    *signature = w.Take();
    return true;
}

std::string BlobKeyType(const Blob& blob) {
    BlobReader r(blob);
    std::string type;
    if (!r.GetString(&type)) return "";
    return type;
}

std::vector<std::string> SplitNameList(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        if (comma > start) names.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

std::vector<std::string> SignatureAlgorithms(const std::string& key_type,
                                             const std::vector<std::string>& server_algorithms,
                                             bool server_known) {
    if (key_type != "ssh-rsa") return {key_type};
    if (!server_known) return {"rsa-sha2-512", "ssh-rsa"};
    auto listed = [&](const char* name) {
        for (const std::string& a : server_algorithms)
            if (a == name) return true;
        return false;
    };
    for (const char* name : {"rsa-sha2-512", "rsa-sha2-256"})
        if (listed(name)) return {name};
    return {"ssh-rsa"};
}

bool SplitDerSignature(const uint8_t* der, std::size_t length, Blob* r, Blob* s) {
    const unsigned char* p = der;
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(length));
    if (sig == nullptr) return false;
    const bool whole = p == der + length;
    const BIGNUM* rn = nullptr;
    const BIGNUM* sn = nullptr;
    ECDSA_SIG_get0(sig, &rn, &sn);
    *r = BnBytes(rn);
    *s = BnBytes(sn);
    ECDSA_SIG_free(sig);
    return whole;
}
