#include "ssh/connection/ssh2_channel.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

// RFC 4250 section 4.1.2: 90 to 127 are channel messages, each beginning
// with the recipient channel.
bool is_channel_message(int type) {
    return type >= 90 && type <= 127;
}

// Consumes the rest of a channel request; refuses it when it wants a reply.
void refuse_channel_request(PacketContext* context, Ssh2Channel* channel,
                            TCriticalSection* send_lock) {
    XmallocPtr<char> request(static_cast<char*>(packet_get_string(context, nullptr)));
    const int want_reply = packet_get_char(context);
    debug("channel request %.100s, want reply %d", request.get(), want_reply);
    if (!want_reply) return;
    TLockGuard guard(*send_lock);
    packet_start(context, SSH2_MSG_CHANNEL_FAILURE);
    packet_put_int(context, channel->remote_id);
    packet_send(context);
    packet_write_wait(context);
}

// Reads the recipient channel of a channel message and checks it.
void check_channel(PacketContext* context, Ssh2Channel* channel) {
    const uint32_t found = packet_get_int(context);
    if (found != channel->local_id)
        ThrowError("TSSH2Connection::GetBuffer. Channel %d expected, but %d found.",
                   static_cast<int>(channel->local_id), static_cast<int>(found));
}

void send_window_adjust(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock) {
    TLockGuard guard(*send_lock);
    packet_start(context, SSH2_MSG_CHANNEL_WINDOW_ADJUST);
    packet_put_int(context, channel->remote_id);
    packet_put_int(context, static_cast<uint32_t>(channel->window_size));
    packet_send(context);
    packet_write_wait(context);
}

}  // namespace

int ssh2_read_connection_message(PacketContext* context, TCriticalSection* send_lock) {
    for (;;) {
        const int type = packet_read(context, nullptr);
        if (type != SSH2_MSG_GLOBAL_REQUEST) return type;
        XmallocPtr<char> request(static_cast<char*>(packet_get_string(context, nullptr)));
        const int want_reply = packet_get_char(context);
        debug("global request %.100s, want reply %d", request.get(), want_reply);
        if (want_reply) {
            TLockGuard guard(*send_lock);
            packet_start(context, SSH2_MSG_REQUEST_FAILURE);
            packet_send(context);
            packet_write_wait(context);
        }
    }
}

void ssh2_channel_open(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock) {
    channel->local_id = 0;
    channel->window_size = kChannelWindowSize;
    channel->consumed = 0;
    {
        TLockGuard guard(*send_lock);
        packet_start(context, SSH2_MSG_CHANNEL_OPEN);
        packet_put_cstring(context, "session");
        packet_put_int(context, channel->local_id);
        packet_put_int(context, static_cast<uint32_t>(channel->window_size));
        packet_put_int(context, kChannelMaxPacket);
        packet_send(context);
        packet_write_wait(context);
    }
    const int type = ssh2_read_connection_message(context, send_lock);
    if (type != SSH2_MSG_CHANNEL_OPEN_CONFIRMATION)
        ThrowError("TSSH2Connection::Login. Unable to open channel. Packet type = %d.", type);
    packet_get_int(context);  // recipient channel: ours
    channel->remote_id = packet_get_int(context);
    packet_get_int(context);  // the server's window: not tracked
    channel->remote_max_packet = packet_get_int(context);
}

void ssh2_channel_window_change(PacketContext* context, Ssh2Channel* channel,
                                TCriticalSection* send_lock, int columns, int rows) {
    TLockGuard guard(*send_lock);
    packet_start(context, SSH2_MSG_CHANNEL_REQUEST);
    packet_put_int(context, channel->remote_id);
    packet_put_cstring(context, "window-change");
    packet_put_char(context, 0);  // want reply: none is sent for this request
    packet_put_int(context, static_cast<uint32_t>(columns));
    packet_put_int(context, static_cast<uint32_t>(rows));
    packet_put_int(context, 0);  // pixel sizes
    packet_put_int(context, 0);
    packet_send(context);
    packet_write_wait(context);
}

void ssh2_channel_request_pty(PacketContext* context, Ssh2Channel* channel,
                              TCriticalSection* send_lock, const char* terminal_type, int columns,
                              int rows) {
    {
        TLockGuard guard(*send_lock);
        packet_start(context, SSH2_MSG_CHANNEL_REQUEST);
        packet_put_int(context, channel->remote_id);
        packet_put_cstring(context, "pty-req");
        packet_put_char(context, 1);
        packet_put_cstring(context, terminal_type);
        packet_put_int(context, static_cast<uint32_t>(columns));
        packet_put_int(context, static_cast<uint32_t>(rows));
        packet_put_int(context, 0);
        packet_put_int(context, 0);
        packet_put_cstring(context, "");  // no encoded terminal modes
        packet_send(context);
        packet_write_wait(context);
    }
    for (;;) {
        const int type = ssh2_read_connection_message(context, send_lock);
        // A server may open our send window (or ask something of the
        // channel) before it answers.
        if (type == SSH2_MSG_CHANNEL_WINDOW_ADJUST || type == SSH2_MSG_CHANNEL_REQUEST) {
            check_channel(context, channel);
            if (type == SSH2_MSG_CHANNEL_REQUEST) {
                refuse_channel_request(context, channel, send_lock);
            }
            continue;
        }
        if (type != SSH2_MSG_CHANNEL_SUCCESS)
            ThrowError(
                "TSSH2Connection::Login. Unable to request pseudo-terminal. Packet type = %d.",
                type);
        return;
    }
}

void ssh2_channel_request_shell(PacketContext* context, Ssh2Channel* channel,
                                TCriticalSection* send_lock) {
    TLockGuard guard(*send_lock);
    packet_start(context, SSH2_MSG_CHANNEL_REQUEST);
    packet_put_int(context, channel->remote_id);
    packet_put_cstring(context, "shell");
    packet_put_char(context, 0);
    packet_send(context);
    packet_write_wait(context);
}

int ssh2_channel_read(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                      char* buffer, unsigned size, bool* closed) {
    *closed = false;
    if (channel->consumed > channel->window_size / 2) {
        send_window_adjust(context, channel, send_lock);
        channel->consumed = 0;
    }
    for (;;) {
        const int type = ssh2_read_connection_message(context, send_lock);
        if (!is_channel_message(type))
            ThrowError("TSSH2Connection::GetBuffer. Unknown packet type: %d.", type);
        check_channel(context, channel);
        switch (type) {
            case SSH2_MSG_CHANNEL_WINDOW_ADJUST:
            case SSH2_MSG_CHANNEL_EOF:
                continue;
            case SSH2_MSG_CHANNEL_REQUEST:
                // The exit status among others; a keep-alive wants an answer.
                refuse_channel_request(context, channel, send_lock);
                continue;
            case SSH2_MSG_CHANNEL_CLOSE:
                *closed = true;
                return 0;
            case SSH2_MSG_CHANNEL_DATA:
                break;
            default:
                ThrowError("TSSH2Connection::GetBuffer. Unknown packet type: %d.", type);
        }
        uint32_t length = 0;
        XmallocPtr<char> data(static_cast<char*>(packet_get_string(context, &length)));
        if (length > size)
            ThrowError(
                "TSSH2Connection::GetBuffer. Buffer too small. Buffer size: %u. Data size: %u.",
                size, length);
        // Zero bytes would read as "closed" to the caller.
        if (length == 0) continue;
        std::memcpy(buffer, data.get(), length);
        channel->consumed += static_cast<int32_t>(length);
        return static_cast<int>(length);
    }
}

void ssh2_channel_write(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                        const char* bytes, unsigned length) {
    // Never more per packet than the server said it takes (nor than we would
    // take ourselves), so a long paste is not refused as one huge packet.
    uint32_t chunk = kChannelMaxPacket;
    if (channel->remote_max_packet > 0 && channel->remote_max_packet < chunk)
        chunk = channel->remote_max_packet;
    TLockGuard guard(*send_lock);
    while (length > 0) {
        const uint32_t n = std::min<uint32_t>(length, chunk);
        packet_start(context, SSH2_MSG_CHANNEL_DATA);
        packet_put_int(context, channel->remote_id);
        packet_put_string(context, bytes, n);
        packet_send(context);
        packet_write_wait(context);
        bytes += n;
        length -= n;
    }
}
