// The key exchange of an SSH-2 connection (RFC 4253 sections 7 and 8):
// KEXINIT negotiation from the algorithm tables, the method's own exchange
// (ssh/transport/kex_method.h), the host key's signature over the exchange
// hash, key derivation and the NEWKEYS hand-over to the packet layer.
//
// A re-key runs the same steps after both KEXINIT messages have passed
// (ssh2_key_exchange_continue); the session id stays that of the first exchange.
//
// Runs in the session thread: at login before anything else is sent on the
// connection, at a re-key while the connection holds its data back. Everything it keeps lives in
// the connection's PacketContext: the proposal is built per exchange from the context's options,
// never in a table shared by concurrent logins. Once the host key's signature verifies, the
// context's host-key hook decides whether this host may be trusted with it.
#pragma once

#include <cstdint>
#include <string>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include "ssh/transport/kex_result.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/buffer.h"

enum KexProposalIndex {
    PROPOSAL_KEX_ALGS,
    PROPOSAL_SERVER_HOST_KEY_ALGS,
    PROPOSAL_ENC_ALGS_CTOS,
    PROPOSAL_ENC_ALGS_STOC,
    PROPOSAL_MAC_ALGS_CTOS,
    PROPOSAL_MAC_ALGS_STOC,
    PROPOSAL_COMP_ALGS_CTOS,
    PROPOSAL_COMP_ALGS_STOC,
    PROPOSAL_LANG_CTOS,
    PROPOSAL_LANG_STOC,
    PROPOSAL_MAX
};

constexpr const char* KEX_DH1 = "diffie-hellman-group1-sha1";
// This program's own name for HMAC over RIPEMD-160, in the vendor-extension
// form of RFC 4251 section 6.
constexpr const char* KEX_MAC_RIPEMD160 = "hmac-ripemd160@quenlor.org";
// RFC 8308: the marker asking the server for SSH_MSG_EXT_INFO; always last
// in the key exchange list, never chosen.
constexpr const char* KEX_EXT_INFO_C = "ext-info-c";

// The default lists: every row of each table, modern first, legacy last.
const char* kex_default_list(int proposal_index);
// Checks a configured comma list for proposal slot PROPOSAL_KEX_ALGS,
// PROPOSAL_SERVER_HOST_KEY_ALGS, PROPOSAL_ENC_ALGS_CTOS or
// PROPOSAL_MAC_ALGS_CTOS: the first unknown or empty name, or "" when every
// name is known.
std::string kex_unknown_name(int proposal_index, const std::string& list);

// Server name lists beyond this count are not looked at by match_first.
constexpr int kMaxServerNames = 20;

// This side's ten lists for a connection with the options of `context`
// (configured lists, requested SSH-1 cipher, compression). The texts are
// static or the context's; the array is the caller's. A configured key
// exchange list is used as stored, so the connection appends KEX_EXT_INFO_C.

void kex_make_proposal(const PacketContext* context, const char* proposal[PROPOSAL_MAX]);

// The algorithms in force, for a status line and the error log:
// "KEX HOSTKEY, CIPHER MAC out, CIPHER MAC in" (MAC "<implicit>" for an AEAD
// cipher); "" before the first key exchange has chosen.
std::string kex_algorithms_text(const PacketContext* context);

// Whole exchange; returns once NEWKEYS has been received and sent, with the
// new keys in force and the session identifier stored in the context.
void ssh2_key_exchange(PacketContext* context);
// The rest of an exchange whose KEXINIT messages have both passed: `own` is
// the payload this side sent, `server` the server's (both without the
// message number). Chooses the algorithms, runs the key agreement and
// swaps NEWKEYS.
void ssh2_key_exchange_continue(PacketContext* context, const Buffer* own, const Buffer* server);

// New buffer (caller frees with buffer_free) holding this side's KEXINIT
// payload after the message number.
void kex_build_kexinit(Buffer* out, const char* const proposal[PROPOSAL_MAX]);
// Sends `own`, reads the server's KEXINIT, appends its payload to `server`
// and fills `server_proposal` with ten new xmalloc texts.
void kex_send_receive_kexinit(PacketContext* context, const Buffer* own, Buffer* server,
                              char* server_proposal[PROPOSAL_MAX]);
// The two halves of the above. kex_parse_kexinit works on the KEXINIT just
// read (the current incoming packet).
void kex_send_kexinit(PacketContext* context, const Buffer* own);
void kex_parse_kexinit(PacketContext* context, Buffer* server, char* server_proposal[PROPOSAL_MAX]);
// A new xmalloc copy of the first name of `own` that `server` also lists,
// or null. Only the first kMaxServerNames server names count.
char* match_first(const char* own, const char* server);
// New KexResult with the algorithms of both directions; every failure fatal.
KexResult* kex_choose(const PacketContext* context, const char* const own[PROPOSAL_MAX],
                      char* const server[PROPOSAL_MAX]);

// Exchange hash of any method: HASH(V_C, V_S, I_C, I_S, K_S, the method's
// own fields as already encoded in `method_part`, mpint K) into `hash`
// (room for EVP_MAX_MD_SIZE bytes). KEXINIT payloads without their number.
void kex_hash(const EVP_MD* md, const char* client_version, const char* server_version,
              const Buffer* own_kexinit, const Buffer* server_kexinit,
              const unsigned char* host_key_blob, uint32_t host_key_length,
              const Buffer* method_part, const BIGNUM* k, unsigned char* hash,
              uint32_t* hash_length);
// RFC 4253 section 7.2 with the method's hash: a new xmalloc block of `need`
// bytes (allocated in whole digest blocks) for key letter `letter`.
unsigned char* kex_derive_key(const EVP_MD* md, int letter, uint32_t need,
                              const unsigned char* hash, uint32_t hash_length,
                              const unsigned char* session_id, uint32_t session_id_length,
                              const BIGNUM* k);
// The six keys (letters 'A'..'F') into `kex`, each kex->need bytes.
void kex_derive_keys(KexResult* kex, const EVP_MD* md, const unsigned char* hash,
                     uint32_t hash_length, const unsigned char* session_id,
                     uint32_t session_id_length, const BIGNUM* k);

// SHA-1 exchange hash (RFC 4253 section 8) into `hash` (20 bytes). KEXINIT
// payloads are given without their message number.
void kex_exchange_hash(const char* client_version, const char* server_version,
                       const unsigned char* own_kexinit, uint32_t own_length,
                       const unsigned char* server_kexinit, uint32_t server_length,
                       const unsigned char* host_key_blob, uint32_t host_key_length,
                       const BIGNUM* e, const BIGNUM* f, const BIGNUM* k, unsigned char hash[20]);
// New xmalloc block of `need` bytes (allocated in whole 20-byte SHA-1
// blocks) for key letter `letter`. `session_id` (20 bytes) is the first
// exchange's hash; null means this exchange is the first.
unsigned char* kex_derive_one(int letter, uint32_t need, const unsigned char hash[20],
                              const BIGNUM* k, const unsigned char* session_id = nullptr);
// The six keys (letters 'A'..'F') into `kex`, each kex->need bytes.
void kex_derive_all(KexResult* kex, const unsigned char hash[20], const BIGNUM* k,
                    const unsigned char* session_id = nullptr);
