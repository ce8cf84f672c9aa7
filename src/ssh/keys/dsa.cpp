#include "ssh/keys/dsa.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "ssh/transport/compat.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr uint32_t kHalf = SIGBLOB_LEN / 2;

struct DsaSigFree {
    void operator()(DSA_SIG* signature) const { DSA_SIG_free(signature); }
};
using DsaSigPtr = std::unique_ptr<DSA_SIG, DsaSigFree>;

void sha1(const unsigned char* data, uint32_t length, unsigned char digest[20]) {
    unsigned int size = 0;
    if (EVP_Digest(data, length, digest, &size, EVP_sha1(), nullptr) != 1 || size != 20)
        fatal("dsa: SHA-1 failed");
}

bool usable_dsa(const Key* key) {
    return key != nullptr && key->type == KEY_DSA && key->dsa != nullptr;
}

}  // namespace

Key* dsa_key_from_blob(const unsigned char* blob, uint32_t length) {
    KeyPtr key(key_new(KEY_DSA));
    ScopedBuffer b;
    buffer_append(b.get(), blob, length);
    XmallocPtr<char> type(static_cast<char*>(buffer_get_string(b.get(), nullptr)));
    if (std::strcmp(type.get(), "ssh-dss") != 0) {
        error("dsa_key_from_blob: cannot handle type %s", type.get());
        return nullptr;
    }
    BignumPtr p(BN_new()), q(BN_new()), g(BN_new()), y(BN_new());
    if (!p || !q || !g || !y) fatal("dsa_key_from_blob: BN_new failed");
    buffer_get_bignum2(b.get(), p.get());
    buffer_get_bignum2(b.get(), q.get());
    buffer_get_bignum2(b.get(), g.get());
    buffer_get_bignum2(b.get(), y.get());
    // The key takes the numbers over only once all four have been read.
    if (DSA_set0_pqg(key->dsa, p.get(), q.get(), g.get()) != 1)
        fatal("dsa_key_from_blob: DSA_set0_pqg failed");
    p.release();
    q.release();
    g.release();
    if (DSA_set0_key(key->dsa, y.get(), nullptr) != 1)
        fatal("dsa_key_from_blob: DSA_set0_key failed");
    y.release();
    if (buffer_len(b.get()) != 0)
        error("dsa_key_from_blob: remaining bytes in key blob %d", buffer_len(b.get()));
    debug("keytype %s", log_sanitize(type.get()).c_str());
    return key.release();
}

uint32_t dsa_key_to_blob(const Key* key, unsigned char** blob_out, uint32_t* length_out) {
    if (!usable_dsa(key)) return 0;
    const BIGNUM *p, *q, *g, *y;
    DSA_get0_pqg(key->dsa, &p, &q, &g);
    DSA_get0_key(key->dsa, &y, nullptr);
    if (p == nullptr || q == nullptr || g == nullptr || y == nullptr) return 0;
    ScopedBuffer b;
    buffer_put_cstring(b.get(), "ssh-dss");
    buffer_put_bignum2(b.get(), p);
    buffer_put_bignum2(b.get(), q);
    buffer_put_bignum2(b.get(), g);
    buffer_put_bignum2(b.get(), y);
    uint32_t length = buffer_len(b.get());
    auto* blob = static_cast<unsigned char*>(xmalloc(length));
    std::memcpy(blob, buffer_ptr(b.get()), length);
    *blob_out = blob;
    if (length_out != nullptr) *length_out = length;
    return length;
}

int dsa_sign(const Key* key, unsigned char** signature_out, uint32_t* length_out,
             const unsigned char* data, uint32_t data_length, int datafellows) {
    if (!usable_dsa(key)) {
        error("dsa_sign: no DSA key");
        return -1;
    }
    unsigned char digest[20];
    sha1(data, data_length, digest);
    DsaSigPtr sig(DSA_do_sign(digest, sizeof digest, key->dsa));
    OPENSSL_cleanse(digest, sizeof digest);
    if (!sig) fatal("dsa_sign: cannot sign");
    const BIGNUM *r, *s;
    DSA_SIG_get0(sig.get(), &r, &s);
    uint32_t rlen = static_cast<uint32_t>(BN_num_bytes(r));
    uint32_t slen = static_cast<uint32_t>(BN_num_bytes(s));
    if (rlen > kHalf || slen > kHalf) {
        error("bad sig size %u %u", rlen, slen);
        return -1;
    }
    debug("sig size %u %u", rlen, slen);
    // Each half right-aligned, so short numbers get leading zero bytes.
    unsigned char blob[SIGBLOB_LEN] = {};
    BN_bn2bin(r, blob + kHalf - rlen);
    BN_bn2bin(s, blob + SIGBLOB_LEN - slen);

    if (datafellows & SSH_BUG_SIGBLOB) {
        debug("datafellows");
        auto* out = static_cast<unsigned char*>(xmalloc(SIGBLOB_LEN));
        std::memcpy(out, blob, SIGBLOB_LEN);
        *signature_out = out;
        if (length_out != nullptr) *length_out = SIGBLOB_LEN;
    } else {
        ScopedBuffer b;
        buffer_put_cstring(b.get(), "ssh-dss");
        buffer_put_string(b.get(), blob, SIGBLOB_LEN);
        uint32_t length = buffer_len(b.get());
        auto* out = static_cast<unsigned char*>(xmalloc(length));
        std::memcpy(out, buffer_ptr(b.get()), length);
        *signature_out = out;
        if (length_out != nullptr) *length_out = length;
    }
    OPENSSL_cleanse(blob, sizeof blob);
    return 0;
}

int dsa_verify(const Key* key, const unsigned char* signature, uint32_t signature_length,
               const unsigned char* data, uint32_t data_length, int* datafellows) {
    if (!usable_dsa(key)) {
        error("dsa_verify: no DSA key");
        return -1;
    }
    if (!(*datafellows & SSH_BUG_SIGBLOB) && signature_length == SIGBLOB_LEN) {
        *datafellows |= SSH_BUG_SIGBLOB;
        log("autodetect SSH_BUG_SIGBLOB");
    } else if ((*datafellows & SSH_BUG_SIGBLOB) && signature_length != SIGBLOB_LEN) {
        log("autoremove SSH_BUG_SIGBLOB");
        *datafellows &= ~SSH_BUG_SIGBLOB;
    }
    debug("len %u datafellows %d", signature_length, *datafellows);

    ScopedBuffer b;
    XmallocPtr<unsigned char> inner;
    const unsigned char* blob = signature;
    uint32_t blob_length = signature_length;
    if (!(*datafellows & SSH_BUG_SIGBLOB)) {
        buffer_append(b.get(), signature, signature_length);
        XmallocPtr<char> type(static_cast<char*>(buffer_get_string(b.get(), nullptr)));
        if (std::strcmp(type.get(), "ssh-dss") != 0) {
            error("dsa_verify: cannot handle type %s", type.get());
            return -1;
        }
        inner.reset(static_cast<unsigned char*>(buffer_get_string(b.get(), &blob_length)));
        blob = inner.get();
        if (buffer_len(b.get()) != 0) {
            error("remaining bytes in signature %d", buffer_len(b.get()));
            return -1;
        }
    }
    if (blob_length != SIGBLOB_LEN) fatal("bad sigbloblen %u != SIGBLOB_LEN", blob_length);

    BignumPtr r(BN_bin2bn(blob, kHalf, nullptr));
    BignumPtr s(BN_bin2bn(blob + kHalf, kHalf, nullptr));
    if (inner) OPENSSL_cleanse(inner.get(), blob_length);
    if (!r || !s) fatal("dsa_verify: BN_bin2bn failed");
    DsaSigPtr sig(DSA_SIG_new());
    if (!sig) fatal("dsa_verify: DSA_SIG_new failed");
    DSA_SIG_set0(sig.get(), r.release(), s.release());

    unsigned char digest[20];
    sha1(data, data_length, digest);
    int result = DSA_do_verify(digest, sizeof digest, sig.get(), key->dsa);
    OPENSSL_cleanse(digest, sizeof digest);
    debug("dsa_verify: signature %s", result == 1   ? "correct"
                                      : result == 0 ? "incorrect"
                                                    : "error");
    return result;
}
