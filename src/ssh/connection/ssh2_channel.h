// The one session channel of an SSH-2 connection (RFC 4254): opening it,
// the "pty-req" and "shell" requests, and carrying terminal data both ways
// with the receive-window rule of this client.
//
// Threads: the session thread reads (everything here that waits for a
// message); the input thread writes with ssh2_channel_write. Every send of
// either thread, including the answers given while reading, holds the
// connection's send lock for its whole start..write-wait sequence; the lock
// is never held while reading.
//
// What a server may send at any time after authentication is handled as the
// connection protocol requires: a global request is dropped and refused
// (REQUEST_FAILURE) when it wants an answer; a channel request that wants an
// answer gets CHANNEL_FAILURE. Failures raise TException (ThrowError) with
// the connection's messages, or come from the packet layer through `fatal`.
#pragma once

#include <cstdint>

#include "platform/sync.h"
#include "ssh/transport/packet.h"

// Initial receive window, also what each window adjustment adds, and the
// largest data packet announced.
constexpr int32_t kChannelWindowSize = 16384;
constexpr uint32_t kChannelMaxPacket = 16384;

struct Ssh2Channel {
    uint32_t remote_id;          // the server's number: put in every message sent
    uint32_t local_id;           // this side's number (0): every message received must carry it
    int32_t window_size;         // kChannelWindowSize
    int32_t consumed;            // data bytes delivered since the last window adjustment
    uint32_t remote_max_packet;  // the server's maximum packet size
};

// Reads the next message, dropping (and where asked, refusing) global
// requests; returns its type.
int ssh2_read_connection_message(PacketContext* context, TCriticalSection* send_lock);

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

// Waits for data: returns the number of bytes stored at `buffer` (> 0), or 0
// once the server has closed the channel (*closed is then set).
int ssh2_channel_read(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                      char* buffer, unsigned size, bool* closed);
// Sends `length` bytes as channel data, in packets the server accepts.
void ssh2_channel_write(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                        const char* bytes, unsigned length);
