#include "ssh/transport/hmac.h"

#include <cstring>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>

#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

// Fetched once for the whole process; the fetched algorithm is immutable and
// may be shared by every thread.
EVP_MAC* hmac_algorithm() {
    static EVP_MAC* const algorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return algorithm;
}

struct MacContextFree {
    void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

}  // namespace

unsigned char* hmac(const EVP_MD* digest, uint32_t sequence_number, const unsigned char* data,
                    uint32_t data_length, const unsigned char* key, uint32_t key_length) {
    if (key == nullptr) fatal("hmac: no key");
    if (digest == nullptr) fatal("hmac: no digest");
    EVP_MAC* algorithm = hmac_algorithm();
    if (algorithm == nullptr) fatal("hmac: HMAC not available");
    std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(EVP_MAC_CTX_new(algorithm));
    if (!context) fatal("hmac: out of memory");

    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST,
                                         const_cast<char*>(EVP_MD_get0_name(digest)), 0),
        OSSL_PARAM_construct_end(),
    };
    unsigned char sequence[4];
    put_u32(sequence, sequence_number);
    XmallocPtr<unsigned char> result(static_cast<unsigned char*>(xmalloc(kHmacBlockSize)));
    std::memset(result.get(), 0, kHmacBlockSize);
    size_t produced = 0;
    if (EVP_MAC_init(context.get(), key, key_length, params) != 1 ||
        EVP_MAC_update(context.get(), sequence, sizeof sequence) != 1 ||
        (data_length > 0 && EVP_MAC_update(context.get(), data, data_length) != 1) ||
        EVP_MAC_final(context.get(), result.get(), &produced, kHmacBlockSize) != 1)
        fatal("hmac: %s failed", EVP_MD_get0_name(digest));
    return result.release();
}
