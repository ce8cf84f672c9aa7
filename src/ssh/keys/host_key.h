// A server's host key as the trust check sees it: the key type and the
// bytes that identify the key, whatever the algorithm.
//
// SSH-2 keys are kept as the raw public key blob (RFC 4253 section 6.6),
// whose first string is the type name, so every key type the transport
// learns is checked without a change here. An SSH-1 host key is an RSA
// exponent and modulus; its type is "rsa1".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <openssl/bn.h>

struct PacketContext;

constexpr const char* kHostKeyTypeRsa1 = "rsa1";

struct HostKey {
    std::string type;
    // SSH-2: the public key blob.
    std::vector<unsigned char> blob;
    // SSH-1: big-endian bytes without leading zeros, and the modulus bits.
    std::vector<unsigned char> exponent;
    std::vector<unsigned char> modulus;
    int bits = 0;

    bool IsRsa1() const { return type == kHostKeyTypeRsa1; }
    // Same type and same key material.
    bool SameKey(const HostKey& other) const;
};

// The type is the blob's leading string; an empty type when the blob is too
// short to hold it.
HostKey host_key_from_blob(const unsigned char* blob, size_t length);
HostKey host_key_from_rsa1(const BIGNUM* exponent, const BIGNUM* modulus);

// "SHA256:" and the unpadded base64 of the SHA-256 of the key: of the blob
// for SSH-2 keys, of the modulus bytes followed by the exponent bytes for
// SSH-1 keys.
std::string host_key_fingerprint(const HostKey& key);

// Hands the key to the context's host-key hook, which raises when the key
// is not to be trusted. No hook: every key whose signature verified is taken.
void host_key_check(PacketContext* context, const HostKey& key);
void host_key_check_blob(PacketContext* context, const unsigned char* blob, uint32_t length);
void host_key_check_rsa1(PacketContext* context, const BIGNUM* exponent, const BIGNUM* modulus);
