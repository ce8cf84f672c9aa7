// The key exchange methods of SSH-2 as rows, and the client side of each.
//
// A row names the method, its hash and its family; the family is the client
// side of the exchange (which messages, which public values, how the shared
// secret K is formed and checked). After the family's messages every method
// ends alike: the exchange hash with the row's hash, the host key's signature
// over it, the keys derived with the same hash.
//
//   curve25519-sha256, curve25519-sha256@libssh.org          RFC 8731
//   ecdh-sha2-nistp256/384/521                               RFC 5656
//   diffie-hellman-group14-sha256, -group16-sha512,
//   -group18-sha512                                          RFC 8268
//   diffie-hellman-group14-sha1, -group1-sha1                RFC 4253
//   diffie-hellman-group-exchange-sha256, -sha1              RFC 4419
#pragma once

#include <cstdint>

#include "ssh/transport/kex_result.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/buffer.h"

enum class KexFamily { FixedGroup, GroupExchange, Ecdh, X25519 };

struct KexMethod {
    const char* name;
    const char* hash;  // libcrypto digest name
    KexFamily family;
    int group_bits;     // FixedGroup: the group's size
    const char* curve;  // Ecdh: libcrypto group name
};

// Group sizes asked for in a group exchange (RFC 4419 section 3; RFC 8270's
// minimum of 2048 bits).
constexpr uint32_t kGexMinBits = 2048;
constexpr uint32_t kGexPreferredBits = 3072;
constexpr uint32_t kGexMaxBits = 8192;

// Every method, modern first: the default proposal's order.
const KexMethod* kex_methods(int* count);
// Exact name, or null.
const KexMethod* kex_method_find(const char* name);

// The exchange of method kex->name against the server: its messages, the
// checks of the server's values, the host-key signature by
// kex->hostkey_name, then the keys derived into `kex`, which goes to the
// packet layer (it owns it from then on, also on failure), and the session
// identifier stored in the context. `own` and `server` are the two KEXINIT
// payloads.
void kex_run_method(PacketContext* context, KexResult* kex, const Buffer* own,
                    const Buffer* server);

// The mpint K of RFC 8731 section 3.1 from an X25519 result: fatal when the
// result is all zeros (a low-order public value of the server).
BIGNUM* kex_x25519_secret_number(const unsigned char secret[32]);
