// The SSH code's random source: one RC4 keystream for the whole process, keyed
// from the crypto library's pool after that pool has been given fresh platform
// entropy. Users draw one random_word for every 4 bytes they need and use its
// bytes lowest first (packet padding, the KEXINIT cookie, the SSH-1 session
// key).
//
// Every session thread draws from it, so each call holds a process-wide lock
// for the few steps of the generator.
#pragma once

#include <cstddef>
#include <cstdint>

// Adds 32 bytes of platform entropy to the crypto library's pool. Fatal when
// collection fails and the pool is not seeded either.
void random_seed();
// (Re)keys the keystream from 32 bytes of the pool, after random_seed.
void random_stir();
// Four keystream bytes, the first in the lowest byte; stirs on first use.
uint32_t random_word();

// The keystream generator behind random_word (RC4 with each entry and index
// held as a 32-bit integer, no keystream discarded); no lock of its own.
struct RandomState {
    uint32_t s[256];
    uint32_t i;
    uint32_t j;
};
void random_state_key(RandomState* state, const unsigned char* key, size_t key_length);
uint32_t random_state_word(RandomState* state);
