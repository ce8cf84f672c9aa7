// bcrypt_pbkdf, the key derivation of encrypted OpenSSH private key files:
// PBKDF2-like rounds whose pseudo-random function is a bcrypt hash (an
// "expensive key schedule" Blowfish keyed by the SHA-512 digests of the
// passphrase and salt), with the output bytes spread across blocks so that
// every output byte needs all rounds.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills key[0..key_length) from the passphrase and salt; false for zero
// rounds, an empty salt, or key_length 0 or above 1024.
bool bcrypt_pbkdf(const uint8_t* passphrase, std::size_t passphrase_length, const uint8_t* salt,
                  std::size_t salt_length, uint8_t* key, std::size_t key_length, uint32_t rounds);

// Blowfish's initial state, the fraction digits of pi: 18 subkeys followed
// by the four S-boxes (1042 words). Computed once.
const uint32_t* blowfish_pi_words();
