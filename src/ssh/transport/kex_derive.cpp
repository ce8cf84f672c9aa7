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

void kex_hash(const EVP_MD* md, const char* client_version, const char* server_version,
              const Buffer* own_kexinit, const Buffer* server_kexinit,
              const unsigned char* host_key_blob, uint32_t host_key_length,
              const Buffer* method_part, const BIGNUM* k, unsigned char* hash,
              uint32_t* hash_length) {
    ScopedBuffer b;
    buffer_put_cstring(b.get(), client_version);
    buffer_put_cstring(b.get(), server_version);
    put_kexinit(b.get(), buffer_ptr(own_kexinit), buffer_len(own_kexinit));
    put_kexinit(b.get(), buffer_ptr(server_kexinit), buffer_len(server_kexinit));
    buffer_put_string(b.get(), host_key_blob, host_key_length);
    buffer_append(b.get(), buffer_ptr(method_part), buffer_len(method_part));
    buffer_put_bignum2(b.get(), k);
    unsigned int size = 0;
    if (EVP_Digest(buffer_ptr(b.get()), buffer_len(b.get()), hash, &size, md, nullptr) != 1)
        fatal("kex_hash: %s failed", EVP_MD_get0_name(md));
    *hash_length = size;
}

void kex_exchange_hash(const char* client_version, const char* server_version,
                       const unsigned char* own_kexinit, uint32_t own_length,
                       const unsigned char* server_kexinit, uint32_t server_length,
                       const unsigned char* host_key_blob, uint32_t host_key_length,
                       const BIGNUM* e, const BIGNUM* f, const BIGNUM* k, unsigned char hash[20]) {
    ScopedBuffer own, server, middle;
    buffer_append(own.get(), own_kexinit, own_length);
    buffer_append(server.get(), server_kexinit, server_length);
    buffer_put_bignum2(middle.get(), e);
    buffer_put_bignum2(middle.get(), f);
    uint32_t length = 0;
    kex_hash(EVP_sha1(), client_version, server_version, own.get(), server.get(), host_key_blob,
             host_key_length, middle.get(), k, hash, &length);
    if (length != kDigestLength) fatal("kex_exchange_hash: SHA-1 failed");
}

unsigned char* kex_derive_key(const EVP_MD* md, int letter, uint32_t need,
                              const unsigned char* hash, uint32_t hash_length,
                              const unsigned char* session_id, uint32_t session_id_length,
                              const BIGNUM* k) {
    ScopedBuffer encoded;
    buffer_put_bignum2(encoded.get(), k);
    const uint32_t digest_length = static_cast<uint32_t>(EVP_MD_get_size(md));
    const uint32_t blocks = (need + digest_length - 1) / digest_length;
    const uint32_t size = (blocks == 0 ? 1 : blocks) * digest_length;
    XmallocPtr<unsigned char> digest(static_cast<unsigned char*>(xmalloc(size)));
    DigestContextPtr context(EVP_MD_CTX_new());
    if (!context) fatal("kex_derive_key: EVP_MD_CTX_new failed");
    const unsigned char letter_byte = static_cast<unsigned char>(letter);

    // K1 = HASH(K || H || letter || session_id)
    if (EVP_DigestInit(context.get(), md) != 1 ||
        EVP_DigestUpdate(context.get(), buffer_ptr(encoded.get()), buffer_len(encoded.get())) !=
            1 ||
        EVP_DigestUpdate(context.get(), hash, hash_length) != 1 ||
        EVP_DigestUpdate(context.get(), &letter_byte, 1) != 1 ||
        EVP_DigestUpdate(context.get(), session_id, session_id_length) != 1 ||
        EVP_DigestFinal(context.get(), digest.get(), nullptr) != 1)
        fatal("kex_derive_key: %s failed", EVP_MD_get0_name(md));
    // Kn = HASH(K || H || K1 || ... || Kn-1)
    for (uint32_t have = digest_length; have < need; have += digest_length) {
        if (EVP_DigestInit(context.get(), md) != 1 ||
            EVP_DigestUpdate(context.get(), buffer_ptr(encoded.get()), buffer_len(encoded.get())) !=
                1 ||
            EVP_DigestUpdate(context.get(), hash, hash_length) != 1 ||
            EVP_DigestUpdate(context.get(), digest.get(), have) != 1 ||
            EVP_DigestFinal(context.get(), digest.get() + have, nullptr) != 1)
            fatal("kex_derive_key: %s failed", EVP_MD_get0_name(md));
    }
    return digest.release();
}

void kex_derive_keys(KexResult* kex, const EVP_MD* md, const unsigned char* hash,
                     uint32_t hash_length, const unsigned char* session_id,
                     uint32_t session_id_length, const BIGNUM* k) {
    const uint32_t need = kex->need;
    auto derive = [&](int letter) {
        return kex_derive_key(md, letter, need, hash, hash_length, session_id, session_id_length,
                              k);
    };
    // A, B: IVs; C, D: encryption keys; E, F: MAC keys; each pair outgoing
    // (client to server) first.
    kex->enc[MODE_OUT].iv = derive('A');
    kex->enc[MODE_IN].iv = derive('B');
    kex->enc[MODE_OUT].key = derive('C');
    kex->enc[MODE_IN].key = derive('D');
    kex->mac[MODE_OUT].key = derive('E');
    kex->mac[MODE_IN].key = derive('F');
}

unsigned char* kex_derive_one(int letter, uint32_t need, const unsigned char hash[20],
                              const BIGNUM* k, const unsigned char* session_id) {
    if (session_id == nullptr) session_id = hash;
    return kex_derive_key(EVP_sha1(), letter, need, hash, kDigestLength, session_id, kDigestLength,
                          k);
}

void kex_derive_all(KexResult* kex, const unsigned char hash[20], const BIGNUM* k,
                    const unsigned char* session_id) {
    if (session_id == nullptr) session_id = hash;
    kex_derive_keys(kex, EVP_sha1(), hash, kDigestLength, session_id, kDigestLength, k);
}
