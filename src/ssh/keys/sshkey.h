// Public host keys of SSH-2 and the signatures made with them: parsing the
// public-key blob of every supported type into a libcrypto key and checking
// a signature blob by the negotiated host-key algorithm name.
//
//   ssh-ed25519                              RFC 8709
//   ecdsa-sha2-nistp256/384/521              RFC 5656 section 3
//   rsa-sha2-512, rsa-sha2-256 / ssh-rsa     RFC 8332 / RFC 4253 section 6.6
//   ssh-dss                                  RFC 4253 section 6.6 (ssh/keys/dsa.h)
//
// RSA keys under 1024 bits are refused. A parsed key belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <openssl/evp.h>

#include "ssh/keys/key.h"

struct SshPublicKey {
    std::string type;          // the blob's key type: "ssh-rsa", "ssh-ed25519", ...
    EVP_PKEY* pkey = nullptr;  // every type but ssh-dss
    KeyPtr dsa;                // ssh-dss, through the older key record
    ~SshPublicKey();
};
using SshPublicKeyPtr = std::unique_ptr<SshPublicKey>;

// Smallest RSA modulus accepted, in bits.
constexpr int kMinRsaBits = 1024;

// The key type a host-key algorithm name signs with ("rsa-sha2-256" ->
// "ssh-rsa"), or null for an unknown name.
const char* sshkey_type_of_algorithm(const char* algorithm);
// Every host-key algorithm, modern first: the default proposal's order.
const char* const* sshkey_algorithms(int* count);

// The key of a public-key blob, or null with the reason in *why (malformed,
// unknown type, point not on the curve, RSA key too small).
SshPublicKeyPtr sshkey_from_blob(const unsigned char* blob, uint32_t length, std::string* why);

// 1 when `signature` (an SSH signature blob) is a good signature by `key`
// over `data` made with host-key algorithm `algorithm`, 0 when it is not,
// -1 when the key does not fit the algorithm or the blob is malformed.
// `datafellows` is passed on to the ssh-dss check (see ssh/keys/dsa.h).
int sshkey_verify(const SshPublicKey* key, const char* algorithm, const unsigned char* signature,
                  uint32_t signature_length, const unsigned char* data, uint32_t data_length,
                  int* datafellows);
