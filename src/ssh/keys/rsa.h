// RSA encryption and decryption of SSH protocol 1: numbers in, numbers out,
// with PKCS #1 v1.5 (block type 2) padding done by the crypto library.
//
// Used for the session key (two public encryptions, smaller modulus first)
// and for the answer to the server's RSA authentication challenge (one
// private decryption). Every failure ends in `fatal`; intermediate byte
// blocks are wiped before release. Stateless: any thread may call them.
#pragma once

#include <openssl/bn.h>
#include <openssl/rsa.h>

// out := the encryption of the unsigned number `in` under the public key.
// `out` may be the same number as `in`. Fatal when the public exponent is
// below 3 or even, or when the library refuses (input too long for the
// modulus, unusable modulus).
void rsa_public_encrypt(BIGNUM* out, const BIGNUM* in, RSA* key);

// out := the decryption of `in` under the private key; `out` may be `in`.
// Fatal when the library refuses (bad padding, unusable key).
void rsa_private_decrypt(BIGNUM* out, const BIGNUM* in, RSA* key);
