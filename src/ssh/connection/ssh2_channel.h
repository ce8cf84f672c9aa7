// The one session channel of an SSH-2 connection (RFC 4254): opening it,
// the "pty-req" and "shell" requests, and carrying terminal data both ways
// under flow control (section 5.2).
//
// Threads: the session thread reads (everything here that waits for a
// message, including re-keys the server starts); a writer thread sends with
// ssh2_channel_write. Every send holds the connection's send lock for its
// start..write-wait sequence, and the lock is never held while waiting for
// the server: a writer facing an empty window or a running key exchange
// waits on the channel's send gate (cancellably), not on the lock.
//
// Windows: the server may send at most our window; it is re-opened by
// exactly the bytes the session has taken, once more than half is used, so it
// never exceeds kChannelWindowSize. Our data never exceeds the server's
// window or maximum packet size.
//
// What a server may send at any time after authentication is handled as the
// connection protocol requires: global requests wanting an answer get
// REQUEST_FAILURE, channel requests CHANNEL_FAILURE (exit-status and
// exit-signal are recorded), extended data is delivered like data, a channel
// close is answered with a close, a KEXINIT starts a re-key, and a message
// number not known here is answered with UNIMPLEMENTED. Failures raise
// TException (ThrowError) with the connection's messages, or come from the
// packet layer through `fatal`.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sync.h"
#include "ssh/connection/ssh2_rekey.h"
#include "ssh/connection/ssh2_send_gate.h"
#include "ssh/transport/packet.h"

// Our receive window, and the largest data packet announced. The window
// is large enough that a server streaming output does not stop for a round
// trip every few packets: with 16 KB it waited for our adjustment after
// every 16 KB, which halved the throughput of a busy session.
constexpr uint32_t kChannelWindowSize = 1024 * 1024;
constexpr uint32_t kChannelMaxPacket = 16384;

struct Ssh2Channel {
    uint32_t remote_id = 0;          // the server's number: put in every message sent
    uint32_t local_id = 0;           // this side's number (0): every message received must carry it
    uint32_t remote_max_packet = 0;  // the server's maximum data per packet
    // Reader only.
    uint32_t local_window = kChannelWindowSize;  // what the server may still send
    uint32_t consumed = 0;  // bytes the session has taken since the last adjustment
    std::string unread;     // data received that did not fit the caller's buffer
    bool eof_received = false;
    bool close_sent = false;
    int exit_status = -1;     // -1 until the server reports one
    std::string exit_signal;  // signal name without "SIG", from exit-signal
    // Shared, with their own rules.
    Ssh2SendGate gate;  // the server's window for our data
    Ssh2Rekey rekey;
};

// Reads the next message the caller has to look at, handling what may come
// at any time (global requests, a server's channel open, re-keys, unknown
// numbers); returns its type.
int ssh2_read_connection_message(PacketContext* context, Ssh2Channel* channel,
                                 TCriticalSection* send_lock);

// Opens the session channel and waits for the confirmation.
void ssh2_channel_open(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock);
// Asks for a pseudo-terminal of `columns` x `rows` and waits for success.
void ssh2_channel_request_pty(PacketContext* context, Ssh2Channel* channel,
                              TCriticalSection* send_lock, const char* terminal_type, int columns,
                              int rows);
// Tells the server the new terminal size ("window-change"); no answer.
void ssh2_channel_window_change(PacketContext* context, Ssh2Channel* channel,
                                TCriticalSection* send_lock, int columns, int rows);
// Starts the shell; no answer is awaited.
void ssh2_channel_request_shell(PacketContext* context, Ssh2Channel* channel,
                                TCriticalSection* send_lock);

// Waits for data (standard output or extended data alike): returns the
// number of bytes stored at `buffer` (> 0), or 0 once the server has closed
// the channel (*closed is then set, and our close has been sent).
int ssh2_channel_read(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                      char* buffer, unsigned size, bool* closed);
// Sends `length` bytes as channel data within the server's window and
// maximum packet size, waiting (cancellably, without the send lock) for the
// window to open or a key exchange to end. Once the channel has ended the
// rest is dropped. Starts a re-key when the sent bytes reach the limit.
void ssh2_channel_write(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                        const char* bytes, unsigned length);
