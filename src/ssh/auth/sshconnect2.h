// SSH-2 user authentication (RFC 4252) for the service "ssh-connection".
//
// ssh2_authenticate is the login: a "none" probe, then the methods the
// server lists, in the order configured key, agent keys,
// keyboard-interactive (RFC 4256), password, with prompts at the session.
// ssh2_userauth is the single fixed attempt of one method chosen in advance
// (no probe, no second attempt, a refusal fatal), kept for callers that
// want exactly that.
//
// Runs in the session thread during login, before any other thread sends.
#pragma once

#include <cstdint>
#include <string>

#include "ssh/auth/auth_prompter.h"
#include "ssh/keys/blob.h"
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

struct Ssh2AuthOptions {
    std::string user;
    std::string host;      // shown in the password prompt
    std::string password;  // known before the login; empty: none
    // A password from the configuration is tried once and never asked for
    // again; one typed at the login prompt is asked again after a refusal.
    bool password_configured = false;
    std::string key_file;  // empty: none configured
    bool use_agent = false;
    std::string agent_socket;
    Ssh2AuthPrompter* prompter = nullptr;  // null: nothing can be asked
};

// Up to this many password tries, and as many keyboard-interactive ones.
constexpr int kSsh2InteractiveTries = 3;

// Returns once the server has accepted the user. When every method the
// server allows is used up: fatal "access denied: %d" with the type of the
// server's last answer (51 for a refusal). A configured key file that does
// not exist: fatal "key does not exist: %s"; one that cannot be read: fatal
// "Unable to load private key".
void ssh2_authenticate(PacketContext* context, Ssh2AuthOptions* options);

// The data a publickey signature covers for `algorithm` (RFC 4252 section
// 7, with the variants of the old servers of the compatibility table).
Blob ssh2_pubkey_signed_bytes(const unsigned char* session_id, uint32_t session_id_length,
                              int datafellows, const std::string& user, const std::string& service,
                              const std::string& algorithm, const Blob& blob);
