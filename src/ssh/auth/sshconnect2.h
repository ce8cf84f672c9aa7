// SSH-2 user authentication (RFC 4252): the "ssh-userauth" service, then
// exactly one attempt of one method chosen in advance, password or DSA public
// key, for the service "ssh-connection". No "none" probe, no second attempt:
// a refusal is fatal.
//
// Runs in the session thread during login, before any other thread sends.
#pragma once

#include <cstdint>

#include "ssh/transport/packet.h"
#include "ssh/wire/buffer.h"

enum Ssh2AuthMethod { SSH2_AUTH_PASSWORD = 1, SSH2_AUTH_PUBKEY = 2 };

// Returns only once the server has accepted the user; every failure fatal.
// Uses the context's password, key file, compatibility word and session id.
void ssh2_userauth(PacketContext* context, const char* user, int method);
// Sends the password request; returns 1.
int ssh2_try_password(PacketContext* context, const char* user, const char* service);
// Sends the signed publickey request; 0 (nothing sent) when the key file
// does not exist, 1 otherwise. A key that cannot be loaded is fatal.
int ssh2_try_pubkey(PacketContext* context, const char* key_file, const char* user,
                    const char* service);

// The data a publickey signature covers (RFC 4252 section 7, with the
// variants of the old servers of the compatibility table selected by
// `datafellows`) appended to `b`;
// returns how many leading bytes the session identifier took.
uint32_t ssh2_pubkey_signed_data(Buffer* b, const unsigned char* session_id,
                                 uint32_t session_id_length, int datafellows, const char* user,
                                 const char* service, const unsigned char* blob,
                                 uint32_t blob_length);
