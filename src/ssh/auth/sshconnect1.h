// SSH protocol 1, client side: the server key and session key exchange and
// the one authentication attempt (password or RSA key) of a login.
//
// Runs in the session thread during Login, after the identification exchange
// and before any other thread sends on the connection, so no lock is taken.
// Every failure ends in `fatal`; the functions return only on success (the
// try_ functions also on a refusal, which they report as false).
#pragma once

#include <cstdint>

#include <openssl/bn.h>
#include <openssl/rsa.h>

struct PacketContext;

// Bits of the supported-authentications mask of SSH_SMSG_PUBLIC_KEY.
constexpr int SSH_AUTH_RSA = 2;
constexpr int SSH_AUTH_PASSWORD = 3;
// The key applied second must be this many bits longer than the first, so
// that the first result always fits into the second encryption.
constexpr int SSH_KEY_BITS_RESERVED = 128;
// Protocol flags this client announces in SSH_CMSG_SESSION_KEY.
constexpr uint32_t kSsh1ClientProtocolFlags = 3;

// Authentication methods of ssh_userauth (the host's AuthType).
constexpr int kSsh1MethodPassword = 1;
constexpr int kSsh1MethodRsa = 2;

// Receives SSH_SMSG_PUBLIC_KEY, stores the session identifier, the server's
// protocol flags and supported authentications in the context, sends the
// doubly encrypted session key for the context's requested cipher, switches
// both directions to it and waits for the encrypted SSH_SMSG_SUCCESS.
void ssh1_key_exchange(PacketContext* context);

// MD5 over the host modulus and the server modulus (minimal unsigned
// big-endian bytes each) and the 8 cookie bytes.
void ssh1_session_id(unsigned char id[16], const unsigned char cookie[8], const BIGNUM* host_n,
                     const BIGNUM* server_n);

// Sends the user name and, unless the server needs no authentication, makes
// one attempt with `method` (kSsh1MethodPassword with the context's password,
// kSsh1MethodRsa with the context's key file). Returns only when the server
// has accepted the user; a refusal or an unoffered method is fatal
// "Permission denied.".
void ssh_userauth(PacketContext* context, const char* server_user, int method);

// One password attempt; true when accepted.
bool ssh1_try_password(PacketContext* context);

// One RSA challenge-response attempt with the protocol-1 key file `keyfile`,
// whose private part must be readable under the empty passphrase. False when
// the public part cannot be read (nothing is sent then) or the server
// refuses the key or the response.
bool ssh1_try_rsa(PacketContext* context, const char* keyfile);

// Decrypts the challenge with the private key (the number is overwritten)
// and sends MD5 (the challenge right-aligned in 32 bytes, then the session
// identifier) as SSH_CMSG_AUTH_RSA_RESPONSE.
void respond_to_rsa_challenge(PacketContext* context, BIGNUM* challenge, RSA* private_key);
