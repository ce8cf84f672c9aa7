#include "ssh/keys/host_key.h"

#include <openssl/evp.h>

#include "ssh/transport/packet.h"
#include "ssh/wire/log.h"

namespace {

std::vector<unsigned char> bignum_bytes(const BIGNUM* number) {
    std::vector<unsigned char> bytes(static_cast<size_t>(BN_num_bytes(number)));
    if (!bytes.empty()) BN_bn2bin(number, bytes.data());
    return bytes;
}

std::string base64_unpadded(const unsigned char* bytes, size_t length) {
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes,
                                        static_cast<int>(length));
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

}  // namespace

bool HostKey::SameKey(const HostKey& other) const {
    if (type != other.type) return false;
    if (IsRsa1()) return exponent == other.exponent && modulus == other.modulus;
    return blob == other.blob;
}

HostKey host_key_from_blob(const unsigned char* blob, size_t length) {
    HostKey key;
    key.blob.assign(blob, blob + length);
    if (length >= 4) {
        const uint32_t name_length = (uint32_t{blob[0]} << 24) | (uint32_t{blob[1]} << 16) |
                                     (uint32_t{blob[2]} << 8) | uint32_t{blob[3]};
        if (name_length <= length - 4)
            key.type.assign(reinterpret_cast<const char*>(blob + 4), name_length);
    }
    return key;
}

HostKey host_key_from_rsa1(const BIGNUM* exponent, const BIGNUM* modulus) {
    HostKey key;
    key.type = kHostKeyTypeRsa1;
    key.exponent = bignum_bytes(exponent);
    key.modulus = bignum_bytes(modulus);
    key.bits = BN_num_bits(modulus);
    return key;
}

std::string host_key_fingerprint(const HostKey& key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool ok = md != nullptr && EVP_DigestInit_ex(md, EVP_sha256(), nullptr) == 1;
    if (key.IsRsa1()) {
        ok = ok && EVP_DigestUpdate(md, key.modulus.data(), key.modulus.size()) == 1 &&
             EVP_DigestUpdate(md, key.exponent.data(), key.exponent.size()) == 1;
    } else {
        ok = ok && EVP_DigestUpdate(md, key.blob.data(), key.blob.size()) == 1;
    }
    ok = ok && EVP_DigestFinal_ex(md, digest, &digest_length) == 1;
    EVP_MD_CTX_free(md);
    if (!ok) fatal("SHA-256 failed");
    return "SHA256:" + base64_unpadded(digest, digest_length);
}

void host_key_check(PacketContext* context, const HostKey& key) {
    if (context->host_key_hook != nullptr) context->host_key_hook(context, &key);
}

void host_key_check_blob(PacketContext* context, const unsigned char* blob, uint32_t length) {
    host_key_check(context, host_key_from_blob(blob, length));
}

void host_key_check_rsa1(PacketContext* context, const BIGNUM* exponent, const BIGNUM* modulus) {
    host_key_check(context, host_key_from_rsa1(exponent, modulus));
}
