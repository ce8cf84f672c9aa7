#include "ssh/keys/rsa.h"

#include <openssl/crypto.h>

#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

using RsaOperation = int (*)(int length, const unsigned char* from, unsigned char* to, RSA* key,
                             int padding);

// Runs one PKCS #1 v1.5 operation. Returns false on failure, after wiping
// and releasing both blocks, so the caller raises its own message.
bool rsa_transform(BIGNUM* out, const BIGNUM* in, RSA* key, RsaOperation operation) {
    const BIGNUM* n = nullptr;
    RSA_get0_key(key, &n, nullptr, nullptr);
    if (n == nullptr) return false;
    int output_length = (BN_num_bits(n) + 7) / 8;
    int input_length = (BN_num_bits(in) + 7) / 8;
    // One spare byte each, so that even an empty number has a block.
    auto* output = static_cast<unsigned char*>(xmalloc(static_cast<size_t>(output_length) + 1));
    auto* input = static_cast<unsigned char*>(xmalloc(static_cast<size_t>(input_length) + 1));
    BN_bn2bin(in, input);
    bool ok = false;
    // The library writes at most the modulus length; a modulus of zero bits
    // is refused by it before anything is written.
    int length =
        output_length > 0 ? operation(input_length, input, output, key, RSA_PKCS1_PADDING) : -1;
    if (length > 0 && length <= output_length) ok = BN_bin2bn(output, length, out) != nullptr;
    OPENSSL_cleanse(output, static_cast<size_t>(output_length) + 1);
    OPENSSL_cleanse(input, static_cast<size_t>(input_length) + 1);
    xfree(output);
    xfree(input);
    return ok;
}

}  // namespace

void rsa_public_encrypt(BIGNUM* out, const BIGNUM* in, RSA* key) {
    const BIGNUM* e = nullptr;
    RSA_get0_key(key, nullptr, &e, nullptr);
    if (e == nullptr || BN_num_bits(e) < 2 || !BN_is_odd(e))
        fatal("rsa_public_encrypt() exponent too small or not odd");
    if (!rsa_transform(out, in, key, RSA_public_encrypt)) fatal("rsa_public_encrypt() failed");
}

void rsa_private_decrypt(BIGNUM* out, const BIGNUM* in, RSA* key) {
    if (!rsa_transform(out, in, key, RSA_private_decrypt)) fatal("rsa_private_decrypt() failed");
}
