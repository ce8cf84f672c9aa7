// Re-keying an SSH-2 connection during the session (RFC 4253 section 9).
//
// Either side may start: the server by sending KEXINIT at any time, this
// side once the keys have carried `byte_limit` bytes in either direction or
// been in use for `second_limit` seconds. From our KEXINIT to our NEWKEYS
// nothing but transport messages may leave (section 7.1), so the send gate
// holds channel data back and the replies the reader owes are kept here and
// sent, in order, once the exchange is over. The exchange itself is the
// login's (ssh2_key_exchange_continue); the session id stays the first one.
//
// Threads: `own_sent`, `own` and `held` belong to whoever holds the
// connection's send lock. While `own_sent` is set only the reader (the
// thread running the exchange) sends, and it may do so without the lock:
// every other sender checks `own_sent` (or the gate) under the lock first.
// `keys_since` is written by the reader under the lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/sync.h"
#include "ssh/connection/ssh2_send_gate.h"
#include "ssh/transport/packet.h"

constexpr uint64_t kDefaultRekeyBytes = uint64_t{1} << 30;
constexpr int64_t kDefaultRekeySeconds = 3600;
// Replies owed while our exchange runs; a server asking more than this of
// a connection it is re-keying is not behaving.
constexpr std::size_t kMaxHeldReplies = 1024;

struct Ssh2Rekey {
    uint64_t byte_limit = kDefaultRekeyBytes;     // 0: no byte limit
    int64_t second_limit = kDefaultRekeySeconds;  // 0: no time limit
    std::chrono::steady_clock::time_point keys_since = std::chrono::steady_clock::now();
    bool own_sent = false;
    std::string own;                                // our KEXINIT payload while an exchange runs
    std::vector<std::pair<int, std::string>> held;  // message number, payload
    int exchanges = 0;  // re-keys completed (the login's exchange not counted)
};

// Whether this side should start a re-key: the bytes of the caller's own
// direction since the keys (`bytes`) or the keys' age passed a limit. The
// writer asks under the send lock with the bytes sent; the reader without it
// with the bytes received. Each reads only its own counter: the other one is
// written by the other thread.
bool ssh2_rekey_due(const Ssh2Rekey* rekey, uint64_t bytes);
// Under the send lock: sends our KEXINIT unless it is out already, and
// closes the gate for channel data.
void ssh2_rekey_begin(PacketContext* context, Ssh2Rekey* rekey, Ssh2SendGate* gate);
// Reader, with the server's KEXINIT as the packet just read: answers it
// with ours if not yet sent, runs the exchange to both NEWKEYS, then sends
// the held replies and opens the gate.
void ssh2_rekey_run(PacketContext* context, Ssh2Rekey* rekey, Ssh2SendGate* gate,
                    TCriticalSection* send_lock);
// A message the reader owes the server: sent now, or held while our
// exchange runs.
void ssh2_send_or_hold(PacketContext* context, Ssh2Rekey* rekey, TCriticalSection* send_lock,
                       int type, const std::string& payload);
