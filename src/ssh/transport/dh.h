// Diffie-Hellman over the second Oakley group (RFC 2409 section 6.2: a
// 1024-bit prime, generator 2) for the SSH-2 key exchange.
#pragma once

#include <openssl/dh.h>

#include "ssh/transport/kex_result.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/buffer.h"

// New group-1 state with a generated key pair whose public value passed
// dh_check_public; gives up (fatal) after eleven bad values.
DH* dh_new_group1();
// True when `value` may be used as a public value in `dh`'s group: the
// generator is 2, and 1 < value < p - 1. 0, 1 and p - 1 would force the
// shared secret to a value known to everyone, so they are refused, as is
// every other power of two (one bit set).
bool dh_check_public(const DH* dh, const BIGNUM* value);
// KEXDH_INIT / KEXDH_REPLY: verifies the server's host-key signature over the
// exchange hash, derives the keys into `kex` and hands it to the packet
// layer (which owns it from then on, also on failure), and stores the
// session identifier in the context. `own` and `server` are the two KEXINIT
// payloads.
void ssh2_dh_exchange(PacketContext* context, KexResult* kex, const Buffer* own,
                      const Buffer* server);
