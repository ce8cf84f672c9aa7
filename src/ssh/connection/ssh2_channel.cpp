#include "ssh/connection/ssh2_channel.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

// RFC 4254 section 5.1: the reason code of a refused channel open.
constexpr uint32_t kOpenAdministrativelyProhibited = 1;

std::string u32(uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    return std::string(bytes, 4);
}

std::string ssh_string(const std::string& text) {
    return u32(static_cast<uint32_t>(text.size())) + text;
}

// Channel messages this client expects (RFC 4254 sections 5 and 6); the
// caller of ssh2_read_connection_message sees them. CHANNEL_OPEN is handled
// below, as it names no channel of ours.
bool is_known_channel_message(int type) {
    return type >= SSH2_MSG_CHANNEL_OPEN_CONFIRMATION && type <= SSH2_MSG_CHANNEL_FAILURE;
}

// Reads the recipient channel of a channel message and checks it.
void check_channel(PacketContext* context, Ssh2Channel* channel) {
    const uint32_t found = packet_get_int(context);
    if (found != channel->local_id)
        ThrowError("TSSH2Connection::GetBuffer. Channel %d expected, but %d found.",
                   static_cast<int>(channel->local_id), static_cast<int>(found));
}

// Consumes the rest of a channel request: records the exit status or
// signal, and refuses whatever wants a reply (keep-alives among them).
void handle_channel_request(PacketContext* context, Ssh2Channel* channel,
                            TCriticalSection* send_lock) {
    XmallocPtr<char> request(static_cast<char*>(packet_get_string(context, nullptr)));
    const int want_reply = packet_get_char(context);
    debug("channel request %.100s, want reply %d", request.get(), want_reply);
    if (std::strcmp(request.get(), "exit-status") == 0) {
        channel->exit_status = static_cast<int>(packet_get_int(context));
        debug("exit status %d", channel->exit_status);
    } else if (std::strcmp(request.get(), "exit-signal") == 0) {
        XmallocPtr<char> name(static_cast<char*>(packet_get_string(context, nullptr)));
        channel->exit_signal.assign(name.get(), std::min<std::size_t>(std::strlen(name.get()), 32));
        debug("exit signal %.32s", name.get());
    }
    if (want_reply)
        ssh2_send_or_hold(context, &channel->rekey, send_lock, SSH2_MSG_CHANNEL_FAILURE,
                          u32(channel->remote_id));
}

// Answers a server's channel open (forwardings nobody asked for) with a
// refusal naming its channel.
void refuse_channel_open(PacketContext* context, Ssh2Channel* channel,
                         TCriticalSection* send_lock) {
    XmallocPtr<char> kind(static_cast<char*>(packet_get_string(context, nullptr)));
    const uint32_t sender = packet_get_int(context);
    debug("refusing channel open %.100s", kind.get());
    ssh2_send_or_hold(
        context, &channel->rekey, send_lock, SSH2_MSG_CHANNEL_OPEN_FAILURE,
        u32(sender) + u32(kOpenAdministrativelyProhibited) + ssh_string("") + ssh_string(""));
}

// Re-opens our window by what the session has taken, once more than half is
// used; not while our key exchange runs (it is tried again on the next read).
void maybe_adjust_window(PacketContext* context, Ssh2Channel* channel,
                         TCriticalSection* send_lock) {
    if (channel->consumed <= kChannelWindowSize / 2) return;
    // The window never grows past its size, even after a server overran it.
    const uint32_t adjust = std::min(channel->consumed, kChannelWindowSize - channel->local_window);
    TLockGuard guard(*send_lock);
    if (channel->rekey.own_sent) return;
    if (adjust > 0) {
        packet_start(context, SSH2_MSG_CHANNEL_WINDOW_ADJUST);
        packet_put_int(context, channel->remote_id);
        packet_put_int(context, adjust);
        packet_send(context);
        packet_write_wait(context);
        channel->local_window += adjust;
    }
    channel->consumed = 0;
}

// Hands out buffered data that did not fit the caller's buffer before.
int take_unread(Ssh2Channel* channel, char* buffer, unsigned size) {
    const std::size_t n = std::min<std::size_t>(size, channel->unread.size());
    std::memcpy(buffer, channel->unread.data(), n);
    channel->unread.erase(0, n);
    channel->consumed += static_cast<uint32_t>(n);
    return static_cast<int>(n);
}

}  // namespace

int ssh2_read_connection_message(PacketContext* context, Ssh2Channel* channel,
                                 TCriticalSection* send_lock) {
    Ssh2Rekey* rekey = &channel->rekey;
    for (;;) {
        // The reader's own direction and the keys' age; the lock only once
        // it is time, as own_sent belongs to it.
        if (ssh2_rekey_due(rekey, context->bytes_received_since_keys)) {
            TLockGuard guard(*send_lock);
            ssh2_rekey_begin(context, rekey, &channel->gate);
        }
        const int type = packet_read(context, nullptr);
        const uint32_t sequence = context->read_seqnr - 1;
        switch (type) {
            case SSH2_MSG_KEXINIT:
                ssh2_rekey_run(context, rekey, &channel->gate, send_lock);
                continue;
            case SSH2_MSG_GLOBAL_REQUEST: {
                XmallocPtr<char> request(static_cast<char*>(packet_get_string(context, nullptr)));
                const int want_reply = packet_get_char(context);
                debug("global request %.100s, want reply %d", request.get(), want_reply);
                if (want_reply)
                    ssh2_send_or_hold(context, rekey, send_lock, SSH2_MSG_REQUEST_FAILURE, "");
                continue;
            }
            case SSH2_MSG_REQUEST_SUCCESS:
            case SSH2_MSG_REQUEST_FAILURE:
                continue;  // this client asks nothing globally
            case SSH2_MSG_UNIMPLEMENTED:
                debug("server did not understand our message %u", packet_get_int(context));
                continue;
            case SSH2_MSG_CHANNEL_OPEN:
                refuse_channel_open(context, channel, send_lock);
                continue;
            default:
                break;
        }
        if (is_known_channel_message(type)) return type;
        // RFC 4253 section 11.4.
        debug("unimplemented message %d, sequence number %u", type, sequence);
        ssh2_send_or_hold(context, rekey, send_lock, SSH2_MSG_UNIMPLEMENTED, u32(sequence));
    }
}

void ssh2_channel_open(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock) {
    channel->local_id = 0;
    channel->local_window = kChannelWindowSize;
    channel->consumed = 0;
    {
        TLockGuard guard(*send_lock);
        packet_start(context, SSH2_MSG_CHANNEL_OPEN);
        packet_put_cstring(context, "session");
        packet_put_int(context, channel->local_id);
        packet_put_int(context, channel->local_window);
        packet_put_int(context, kChannelMaxPacket);
        packet_send(context);
        packet_write_wait(context);
    }
    const int type = ssh2_read_connection_message(context, channel, send_lock);
    if (type != SSH2_MSG_CHANNEL_OPEN_CONFIRMATION)
        ThrowError("TSSH2Connection::Login. Unable to open channel. Packet type = %d.", type);
    packet_get_int(context);  // recipient channel: ours
    channel->remote_id = packet_get_int(context);
    channel->gate.SetWindow(packet_get_int(context));
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
        const int type = ssh2_read_connection_message(context, channel, send_lock);
        // A server may open our send window (or ask something of the
        // channel) before it answers.
        if (type == SSH2_MSG_CHANNEL_WINDOW_ADJUST || type == SSH2_MSG_CHANNEL_REQUEST) {
            check_channel(context, channel);
            if (type == SSH2_MSG_CHANNEL_REQUEST) {
                handle_channel_request(context, channel, send_lock);
            } else {
                channel->gate.Open(packet_get_int(context));
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
    maybe_adjust_window(context, channel, send_lock);
    if (!channel->unread.empty() && size > 0) return take_unread(channel, buffer, size);
    for (;;) {
        const int type = ssh2_read_connection_message(context, channel, send_lock);
        check_channel(context, channel);
        switch (type) {
            case SSH2_MSG_CHANNEL_WINDOW_ADJUST:
                channel->gate.Open(packet_get_int(context));
                continue;
            case SSH2_MSG_CHANNEL_EOF:
                channel->eof_received = true;
                continue;
            case SSH2_MSG_CHANNEL_REQUEST:
                handle_channel_request(context, channel, send_lock);
                continue;
            case SSH2_MSG_CHANNEL_SUCCESS:
            case SSH2_MSG_CHANNEL_FAILURE:
                continue;  // answers to requests nobody waits for
            case SSH2_MSG_CHANNEL_CLOSE:
                if (!channel->close_sent) {
                    channel->close_sent = true;
                    ssh2_send_or_hold(context, &channel->rekey, send_lock, SSH2_MSG_CHANNEL_CLOSE,
                                      u32(channel->remote_id));
                }
                channel->gate.Close();
                *closed = true;
                return 0;
            case SSH2_MSG_CHANNEL_DATA:
                break;
            case SSH2_MSG_CHANNEL_EXTENDED_DATA:
                packet_get_int(context);  // data type: standard error is shown alike
                break;
            default:
                ThrowError("TSSH2Connection::GetBuffer. Unknown packet type: %d.", type);
        }
        uint32_t length = 0;
        XmallocPtr<char> data(static_cast<char*>(packet_get_string(context, &length)));
        if (length > channel->local_window) debug("server overran our window by %u", length);
        channel->local_window -= std::min(length, channel->local_window);
        // Zero bytes would read as "closed" to the caller.
        if (length == 0) continue;
        const uint32_t n = std::min<uint32_t>(length, size);
        std::memcpy(buffer, data.get(), n);
        channel->unread.assign(data.get() + n, length - n);
        channel->consumed += n;
        return static_cast<int>(n);
    }
}

void ssh2_channel_write(PacketContext* context, Ssh2Channel* channel, TCriticalSection* send_lock,
                        const char* bytes, unsigned length) {
    // Never more per packet than the server said it takes (nor than we would
    // take ourselves).
    uint32_t chunk = kChannelMaxPacket;
    if (channel->remote_max_packet > 0 && channel->remote_max_packet < chunk)
        chunk = channel->remote_max_packet;
    while (length > 0) {
        uint32_t n = 0;
        {
            TLockGuard guard(*send_lock);
            if (channel->gate.Closed()) return;
            Ssh2Rekey* rekey = &channel->rekey;
            // While our exchange runs the reader sends without the lock:
            // nothing of the packet layer is looked at then.
            if (!rekey->own_sent) {
                if (ssh2_rekey_due(rekey, context->bytes_sent_since_keys))
                    ssh2_rekey_begin(context, rekey, &channel->gate);
                n = channel->gate.Take(std::min<uint32_t>(length, chunk));
            }
            if (n > 0) {
                packet_start(context, SSH2_MSG_CHANNEL_DATA);
                packet_put_int(context, channel->remote_id);
                packet_put_string(context, bytes, n);
                packet_send(context);
                packet_write_wait(context);
            }
        }
        if (n == 0) {
            channel->gate.Wait();
            continue;
        }
        bytes += n;
        length -= n;
    }
}
