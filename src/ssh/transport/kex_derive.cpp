// Exchange hash and key derivation of the SSH-2 key exchange.
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr uint32_t kDigestLength = 20;

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

void put_kexinit(Buffer* b, const unsigned char* payload, uint32_t length) {
    buffer_put_int(b, length + 1);
    buffer_put_char(b, SSH2_MSG_KEXINIT);
    buffer_append(b, payload, length);
}

}  // namespace

void kex_exchange_hash(const char* client_version, const char* server_version,
                       const unsigned char* own_kexinit, uint32_t own_length,
                       const unsigned char* server_kexinit, uint32_t server_length,
                       const unsigned char* host_key_blob, uint32_t host_key_length,
                       const BIGNUM* e, const BIGNUM* f, const BIGNUM* k, unsigned char hash[20]) {
    ScopedBuffer b;
    buffer_put_cstring(b.get(), client_version);
    buffer_put_cstring(b.get(), server_version);
    put_kexinit(b.get(), own_kexinit, own_length);
    put_kexinit(b.get(), server_kexinit, server_length);
    buffer_put_string(b.get(), host_key_blob, host_key_length);
    buffer_put_bignum2(b.get(), e);
    buffer_put_bignum2(b.get(), f);
    buffer_put_bignum2(b.get(), k);
    unsigned int size = 0;
    if (EVP_Digest(buffer_ptr(b.get()), buffer_len(b.get()), hash, &size, EVP_sha1(), nullptr) !=
            1 ||
        size != kDigestLength)
        fatal("kex_exchange_hash: SHA-1 failed");
}

unsigned char* kex_derive_one(int letter, uint32_t need, const unsigned char hash[20],
                              const BIGNUM* k, const unsigned char* session_id) {
    if (session_id == nullptr) session_id = hash;
    ScopedBuffer encoded;
    buffer_put_bignum2(encoded.get(), k);
    const uint32_t blocks = (need + kDigestLength - 1) / kDigestLength;
    const uint32_t size = (blocks == 0 ? 1 : blocks) * kDigestLength;
    XmallocPtr<unsigned char> digest(static_cast<unsigned char*>(xmalloc(size)));
    DigestContextPtr md(EVP_MD_CTX_new());
    if (!md) fatal("kex_derive_one: EVP_MD_CTX_new failed");
    const unsigned char letter_byte = static_cast<unsigned char>(letter);

    // K1 = HASH(K || H || letter || session_id); the session id is the H of
    // the connection's first exchange.
    if (EVP_DigestInit(md.get(), EVP_sha1()) != 1 ||
        EVP_DigestUpdate(md.get(), buffer_ptr(encoded.get()), buffer_len(encoded.get())) != 1 ||
        EVP_DigestUpdate(md.get(), hash, kDigestLength) != 1 ||
        EVP_DigestUpdate(md.get(), &letter_byte, 1) != 1 ||
        EVP_DigestUpdate(md.get(), session_id, kDigestLength) != 1 ||
        EVP_DigestFinal(md.get(), digest.get(), nullptr) != 1)
        fatal("kex_derive_one: SHA-1 failed");
    // Kn = HASH(K || H || K1 || ... || Kn-1)
    for (uint32_t have = kDigestLength; have < need; have += kDigestLength) {
        if (EVP_DigestInit(md.get(), EVP_sha1()) != 1 ||
            EVP_DigestUpdate(md.get(), buffer_ptr(encoded.get()), buffer_len(encoded.get())) != 1 ||
            EVP_DigestUpdate(md.get(), hash, kDigestLength) != 1 ||
            EVP_DigestUpdate(md.get(), digest.get(), have) != 1 ||
            EVP_DigestFinal(md.get(), digest.get() + have, nullptr) != 1)
            fatal("kex_derive_one: SHA-1 failed");
    }
    return digest.release();
}

void kex_derive_all(KexResult* kex, const unsigned char hash[20], const BIGNUM* k,
                    const unsigned char* session_id) {
    const uint32_t need = kex->need;
    // A, B: IVs; C, D: encryption keys; E, F: MAC keys; each pair outgoing
    // (client to server) first.
    kex->enc[MODE_OUT].iv = kex_derive_one('A', need, hash, k, session_id);
    kex->enc[MODE_IN].iv = kex_derive_one('B', need, hash, k, session_id);
    kex->enc[MODE_OUT].key = kex_derive_one('C', need, hash, k, session_id);
    kex->enc[MODE_IN].key = kex_derive_one('D', need, hash, k, session_id);
    kex->mac[MODE_OUT].key = kex_derive_one('E', need, hash, k, session_id);
    kex->mac[MODE_IN].key = kex_derive_one('F', need, hash, k, session_id);
}
