// Finite-field Diffie-Hellman for the SSH-2 key exchange: the fixed MODP
// groups and the groups a server sends in a group exchange. The exchange
// itself is in ssh/transport/kex_method.h; this module keeps libcrypto's DH
// calls in one place.
#pragma once

#include <openssl/dh.h>

// New group-1 state with a generated key pair whose public value passed
// dh_check_public; gives up (fatal) after eleven bad values.
DH* dh_new_group1();
// True when `value` may be used as a public value in `dh`'s group: the
// generator is 2, and 1 < value < p - 1. 0, 1 and p - 1 would force the
// shared secret to a value known to everyone, so they are refused, as is
// every other power of two (one bit set).
bool dh_check_public(const DH* dh, const BIGNUM* value);

// --- Any group (the fixed groups of RFC 8268 and RFC 2409, and groups a
// server sends in a group exchange) ---

// A new key pair in group (p, g) with a private exponent of `private_bits`
// bits (at least twice the group's security level), whose public value
// passes dh_value_in_range. Fatal after eleven bad values.
DH* dh_new_with(const BIGNUM* p, const BIGNUM* g, int private_bits);
// The fixed groups by size in bits: 1024 (RFC 2409 group 2, "group1"), 2048
// (group 14), 4096 (group 16) and 8192 (group 18, RFC 3526). Null otherwise.
BIGNUM* dh_fixed_prime(int bits);
// 1 < value < p - 1 (RFC 4253 section 8).
bool dh_value_in_range(const BIGNUM* p, const BIGNUM* value);
// A group received in a group exchange: the size of p within [min_bits,
// max_bits], p odd and probably a safe prime (p and (p - 1) / 2 pass a few
// Miller-Rabin rounds), 1 < g < p - 1. False with the reason in *why.
bool dh_group_acceptable(const BIGNUM* p, const BIGNUM* g, int min_bits, int max_bits,
                         const char** why);
// The shared secret K as a number; fatal when libcrypto refuses.
BIGNUM* dh_shared_secret(DH* dh, const BIGNUM* peer_value);
const BIGNUM* dh_public_value(const DH* dh);
const BIGNUM* dh_prime(const DH* dh);
void dh_release(DH* dh);
