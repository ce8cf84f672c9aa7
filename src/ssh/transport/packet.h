// The SSH binary packet layer: frames, pads, checksums (SSH-1) or
// authenticates (SSH-2), encrypts and counts the packets of one connection,
// compresses SSH-2 payloads when negotiated, and filters the transport
// messages IGNORE, DEBUG and DISCONNECT.
//
// All state of one connection lives in its PacketContext: besides the packet
// layer's own fields it carries the fields of the SSH connection classes, the
// key exchange and authentication (they only read and write them), and the
// compatibility word `datafellows` and the socket hooks, which are kept per
// connection so that two sessions in two threads never see each other's.
//
// Ownership and threads: the SSH connection embeds the context, value-
// initialises it (all zero is the valid starting state: SSH-1 framing, no
// cipher, empty buffers, sequence numbers 0), sets `owner` and the hooks, and
// calls packet_free when it is destroyed. The session thread reads
// (packet_read*, packet_get_*); sending (packet_start .. packet_write_wait)
// may happen on another thread, and the owner serialises senders itself. The
// send and receive paths share no mutable state. Every failure ends in
// `fatal` (ssh/log.h), which raises in the calling thread; after that the
// context must not be used again except for packet_free.
#pragma once

#include <cstdint>
#include <type_traits>

#include <openssl/bn.h>
#include <zlib.h>

#include "ssh/transport/cipher.h"
#include "ssh/transport/cipher_table.h"
#include "ssh/transport/kex_result.h"
#include "ssh/transport/mac_table.h"
#include "ssh/wire/buffer.h"

class TSSHConnection;
struct HostKey;
struct PacketContext;

// The SSH-2 keys in force for one direction since its last NEWKEYS: the
// cipher (null: none), the MAC (null: none, or an AEAD cipher's own tag)
// and the framing they imply.
struct PacketDirection {
    CipherState* cipher;
    MacState* mac;
    uint32_t mac_len;
    uint32_t block_size;  // 0 before the first NEWKEYS: 8
    int etm;
};

// Sends all n bytes or raises.
using PacketWriteHook = void (*)(PacketContext* context, const void* bytes, uint32_t n);
// Receives up to n bytes; returns the count, 0 when the peer has closed, or a
// negative value with errno set on failure.
using PacketReadHook = int (*)(PacketContext* context, void* buffer, uint32_t n);

// Decides whether the server's host key is trusted; raises to refuse it.
// Called in the session thread once the key is known (SSH-2: its signature
// over the exchange hash verified) and before any user authentication.
using HostKeyHook = void (*)(PacketContext* context, const HostKey* key);

// Longest packet accepted in either framing.
constexpr uint32_t kMaxPacketLength = 256 * 1024;
// Most bytes asked of the read hook at a time.
constexpr uint32_t kPacketReadChunk = 8192;

struct PacketContext {
    // --- Connection classes (set before login; read by later stages) ---
    TSSHConnection* owner;
    int compression;              // compression option; 0 = propose "none"
    int cipher_type;              // requested SSH-1 cipher number
    char* cipher_list;            // owned; overrides the SSH-2 cipher proposal
    char* kex_list;               // owned; overrides the key exchange proposal
    char* hostkey_list;           // owned; overrides the host-key algorithm proposal
    char* mac_list;               // owned; overrides the MAC proposal
    int compat20;                 // protocol 2 in use: selects the transport messages
    int datafellows;              // compatibility bits of this connection's server
    char* client_version_string;  // owned, without line end
    char* server_version_string;  // owned, without line end
    unsigned char* session_id2;   // owned SSH-2 session identifier
    uint32_t session_id2_len;
    unsigned char session_id[16];        // SSH-1 session identifier
    uint32_t supported_authentications;  // SSH-1 mask

    // --- Packet layer ---
    int ssh1_cipher;  // SSH-1 session cipher number; 0 = none (zero padding)
    uint32_t protocol_flags;
    CipherContext receive_context;
    CipherContext send_context;
    Buffer input;               // received bytes not yet framed
    Buffer output;              // protected bytes waiting for the write hook
    Buffer outgoing_packet;     // the packet under construction
    Buffer incoming_packet;     // payload of the packet last read
    Buffer compression_buffer;  // send path scratch for compression
    int use_ssh2_packet_format;
    KexResult* kex;  // owned once packet_set_kex has stored it: the newest keys
    // The result whose keys each direction uses (MODE_IN, MODE_OUT); null
    // before the first NEWKEYS. Owned; one record may be in force for both.
    KexResult* keys_in_force[2];
    uint32_t send_seqnr;
    uint32_t read_seqnr;
    uint32_t packet_length;  // SSH-2: length of a packet whose first block is decrypted

    // --- Connection classes ---
    char* password;  // owned; wiped on release
    char* keyfile;   // owned

    // --- Compression streams (started at the first NEWKEYS enabling "zlib") ---
    z_stream incoming_stream;
    z_stream outgoing_stream;

    // --- Per connection rather than process-wide ---
    PacketWriteHook write_hook;
    PacketReadHook read_hook;
    int compression_started;
    // Receive path scratch for decompression, so that the two directions never
    // share a buffer.
    Buffer decompression_buffer;

    // --- Re-keying (SSH-2) ---
    // Bytes sent / received (whole protected packets) since the direction's
    // last NEWKEYS; each belongs to its path.
    uint64_t bytes_sent_since_keys;
    uint64_t bytes_received_since_keys;
    // Set by sending KEXINIT, cleared by sending NEWKEYS: in between only
    // transport messages (1..49) may be sent.
    int kex_sending;
    // --- Host trust (set before login; null accepts every key) ---
    HostKeyHook host_key_hook;
    void* host_key_hook_data;  // the hook's own, never touched by this layer
    // --- SSH-2 keys in force, by KexDirection ---
    PacketDirection direction[2];
    // A packet whose length failed its check: the claimed amount (bounded) is
    // still read before the connection ends, as for a bad MAC.
    int receive_poisoned;
};

static_assert(std::is_trivial_v<PacketContext>, "a zeroed PacketContext must be a valid one");

// Zlib level used when a negotiated "zlib" is switched on at NEWKEYS.
constexpr int kPacketCompressionLevel = 6;

// --- Set-up ---
void packet_set_io_hooks(PacketContext* context, PacketWriteHook write_hook,
                         PacketReadHook read_hook);
// Releases everything the context owns (buffers, key exchange result, texts,
// compression streams), wiping keys and the password; leaves a zeroed context
// that keeps only its owner and hooks.
void packet_free(PacketContext* context);
void packet_set_ssh2_format(PacketContext* context);
// SSH-1 session key for both directions; shorter than 20 bytes is fatal.
void packet_set_encryption_key(PacketContext* context, const unsigned char* key,
                               uint32_t key_length, int number);
// Takes ownership of `kex` in every case (it is released if refused). Fatal
// "bad KEX" unless each direction has a cipher key, an IV and a MAC key of
// sane sizes, or while the keys of an earlier exchange are still waiting for
// a NEWKEYS. The new keys take effect per direction at NEWKEYS; the keys they
// replace are wiped and released once neither direction uses them.
void packet_set_kex(PacketContext* context, KexResult* kex);
void packet_set_protocol_flags(PacketContext* context, uint32_t flags);
uint32_t packet_get_protocol_flags(PacketContext* context);

// --- Building and sending ---
void packet_start(PacketContext* context, int type);
void packet_put_char(PacketContext* context, int value);
void packet_put_int(PacketContext* context, uint32_t value);
void packet_put_string(PacketContext* context, const void* bytes, uint32_t n);
void packet_put_cstring(PacketContext* context, const char* text);
void packet_put_raw(PacketContext* context, const void* bytes, uint32_t n);
void packet_put_bignum(PacketContext* context, const BIGNUM* number);
void packet_put_bignum2(PacketContext* context, const BIGNUM* number);
// Frames, protects and queues the packet in the output buffer.
void packet_send(PacketContext* context);
void packet_write_poll(PacketContext* context);
void packet_write_wait(PacketContext* context);
int packet_have_data_to_write(PacketContext* context);

// --- Receiving (payload_length may be null) ---
// Blocks (through the read hook) until a whole packet other than IGNORE and
// DEBUG has arrived; returns its type.
int packet_read(PacketContext* context, int* payload_length);
void packet_read_expect(PacketContext* context, int* payload_length, int expected_type);
// Returns 0 while no whole packet is buffered; never reads from the socket.
int packet_read_poll(PacketContext* context, int* payload_length);
void packet_process_incoming(PacketContext* context, const void* bytes, uint32_t n);
// Received bytes written in place: packet_input_reserve returns room for n
// bytes at the end of the input, packet_input_commit keeps the first `used`
// of the `reserved` bytes and drops the rest. Nothing else may touch the
// context in between.
unsigned char* packet_input_reserve(PacketContext* context, uint32_t n);
void packet_input_commit(PacketContext* context, uint32_t reserved, uint32_t used);
int packet_get_char(PacketContext* context);
uint32_t packet_get_int(PacketContext* context);
void* packet_get_string(PacketContext* context, uint32_t* length);
void packet_get_bignum(PacketContext* context, BIGNUM* number, int* bytes);
void packet_get_bignum2(PacketContext* context, BIGNUM* number, int* length);
// The unread rest of the payload (not consumed).
unsigned char* packet_get_raw(PacketContext* context, int* length);
int packet_remaining(PacketContext* context);
