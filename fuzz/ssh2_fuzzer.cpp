// Feeds what an SSH-2 server may send to the client's protocol code: the
// key exchange (KEXINIT lists, KEXDH_REPLY with host key blob, public value
// and signature), the authentication answers, and the connection phase
// (channel open, pty answer, channel data and requests). The only allowed
// way out of bad input is an exception (`fatal` or the connection's own
// ThrowError); crashes, hangs, leaks and undefined behaviour are bugs.
//
// Input layout: byte 0 picks the stage; the rest is a list of messages, each
// a 16-bit big-endian length and that many bytes (message number first),
// which a plaintext server context frames into packets in order.
#include <cstdint>
#include <cstring>
#include <string>

#include "base/exception.h"
#include "platform/sync.h"
#include "ssh/auth/sshconnect2.h"
#include "ssh/connection/ssh2_channel.h"
#include "ssh/keys/authfile.h"
#include "ssh/keys/dsa.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

struct End {
    PacketContext context{};
    std::string incoming;
    size_t position = 0;
    End() = default;
    ~End() { packet_free(&context); }
    End(const End&) = delete;
    End& operator=(const End&) = delete;
};

void DiscardWrite(PacketContext*, const void*, uint32_t) {}

int FeedRead(PacketContext* context, void* buffer, uint32_t n) {
    End* end = reinterpret_cast<End*>(context);
    const size_t count = std::min<size_t>(n, end->incoming.size() - end->position);
    std::memcpy(buffer, end->incoming.data() + end->position, count);
    end->position += count;
    return static_cast<int>(count);
}

void CollectWrite(PacketContext* context, const void* bytes, uint32_t n) {
    reinterpret_cast<End*>(context)->incoming.append(static_cast<const char*>(bytes), n);
}

void RaiseHook(const char* text) {
    throw TException(text);
}

// Frames the messages of `data` as plaintext SSH-2 packets.
std::string Frame(const uint8_t* data, size_t size) {
    End server;
    packet_set_io_hooks(&server.context, CollectWrite, nullptr);
    packet_set_ssh2_format(&server.context);
    while (size >= 3) {
        size_t length = (size_t{data[0]} << 8) | data[1];
        data += 2;
        size -= 2;
        length = std::min(length, size);
        if (length == 0) break;
        packet_start(&server.context, data[0]);
        packet_put_raw(&server.context, data + 1, static_cast<uint32_t>(length - 1));
        packet_send(&server.context);
        packet_write_wait(&server.context);
        data += length;
        size -= length;
    }
    return std::move(server.incoming);
}

const std::string kKeyFile = QUENLOR_TEST_DATA "/ssh2/user_dsa";

void Run(uint8_t stage, End& client) {
    PacketContext* context = &client.context;
    TCriticalSection lock;
    switch (stage % 4) {
        case 0:
            ssh2_key_exchange(context);
            break;
        case 1:
            ssh2_userauth(context, "user", SSH2_AUTH_PASSWORD);
            break;
        case 2:
            ssh2_userauth(context, "user", SSH2_AUTH_PUBKEY);
            break;
        case 3: {
            Ssh2Channel channel{};
            ssh2_channel_open(context, &channel, &lock);
            ssh2_channel_request_pty(context, &channel, &lock, "vt100", 80, 25);
            char buffer[32768];
            bool closed = false;
            // Bounded by the input: the link runs dry and the read is fatal.
            while (!closed)
                ssh2_channel_read(context, &channel, &lock, buffer, sizeof buffer, &closed);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool initialised = [] {
        log_set_level(SYSLOG_LEVEL_QUIET);
        return true;
    }();
    (void)initialised;
    fatal_set_hook(RaiseHook);
    if (size < 1) return 0;

    End client;
    packet_set_io_hooks(&client.context, DiscardWrite, FeedRead);
    client.context.compat20 = 1;
    packet_set_ssh2_format(&client.context);
    client.context.client_version_string = xstrdup("SSH-2.1-Quenlor_3.24.00");
    client.context.server_version_string = xstrdup("SSH-2.0-Fuzz");
    client.context.session_id2 = static_cast<unsigned char*>(xmalloc(20));
    std::memset(client.context.session_id2, 0x5A, 20);
    client.context.session_id2_len = 20;
    client.context.password = xstrdup("secret");
    client.context.keyfile = xstrdup(kKeyFile.c_str());
    client.context.datafellows = data[0] >> 2;  // the compatibility bits too
    try {
        client.incoming = Frame(data + 1, size - 1);
        Run(data[0], client);
    } catch (const TException&) {
    }
    return 0;
}
