#include "ssh/transport/mac_table.h"

#include <cstring>

#include <openssl/core_names.h>
#include <openssl/params.h>

#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"

namespace {

// hmac-ripemd160 has no registered name: this program's own, in the vendor
// form of RFC 4251 section 6.
constexpr MacRow kRows[] = {
    {"hmac-sha2-256-etm@openssh.com", "SHA256", 32, 32, true},
    {"hmac-sha2-512-etm@openssh.com", "SHA512", 64, 64, true},
    {"hmac-sha1-etm@openssh.com", "SHA1", 20, 20, true},
    {"hmac-sha2-256", "SHA256", 32, 32, false},
    {"hmac-sha2-512", "SHA512", 64, 64, false},
    {"hmac-sha1", "SHA1", 20, 20, false},
    {"hmac-md5", "MD5", 16, 16, false},
    {"hmac-ripemd160@quenlor.org", "RIPEMD160", 20, 20, false},
};

}  // namespace

struct MacState {
    EVP_MAC_CTX* context;
};

const MacRow* mac_rows(size_t* count) {
    *count = sizeof kRows / sizeof kRows[0];
    return kRows;
}

const MacRow* mac_row_find(const char* name) {
    if (name == nullptr) return nullptr;
    for (const MacRow& row : kRows)
        if (std::strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

MacState* mac_state_new(const EVP_MD* digest, const unsigned char* key, uint32_t key_len) {
    static EVP_MAC* const algorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (algorithm == nullptr) fatal("hmac: HMAC not available");
    if (digest == nullptr) fatal("hmac: no digest");
    if (key == nullptr) fatal("hmac: no key");
    EVP_MAC_CTX* context = EVP_MAC_CTX_new(algorithm);
    if (context == nullptr) fatal("hmac: out of memory");
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST,
                                         const_cast<char*>(EVP_MD_get0_name(digest)), 0),
        OSSL_PARAM_construct_end(),
    };
    if (EVP_MAC_init(context, key, key_len, params) != 1) {
        EVP_MAC_CTX_free(context);
        fatal("hmac: %s keying failed", EVP_MD_get0_name(digest));
    }
    return new MacState{context};
}

void mac_state_free(MacState* state) {
    if (state == nullptr) return;
    EVP_MAC_CTX_free(state->context);
    delete state;
}

void mac_state_compute(MacState* state, uint32_t seqnr, const unsigned char* data, uint32_t length,
                       unsigned char* out) {
    unsigned char sequence[4];
    put_u32(sequence, seqnr);
    size_t produced = 0;
    // A null key re-starts HMAC with the key given at creation.
    if (EVP_MAC_init(state->context, nullptr, 0, nullptr) != 1 ||
        EVP_MAC_update(state->context, sequence, sizeof sequence) != 1 ||
        (length > 0 && EVP_MAC_update(state->context, data, length) != 1) ||
        EVP_MAC_final(state->context, out, &produced, EVP_MAX_MD_SIZE) != 1)
        fatal("hmac: failed");
}
