// The client side of one key exchange method, fed with what a server may
// answer: the reply (host key blob, the server's public value, signature)
// and, for a group exchange, the group before it. The only allowed way out
// of bad input is an exception (`fatal`); crashes, hangs, leaks and undefined
// behaviour are bugs.
//
// Input layout: byte 0 picks the method among the fuzzer's family, byte 1
// the host key algorithm (of this side's default list); the rest is a list
// of messages, each a 16-bit big-endian length and that many bytes (message
// number first), framed as plaintext packets in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/kex_method.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/buffer.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace kex_reply_fuzz {

struct End {
    PacketContext context{};
    std::string incoming;
    size_t position = 0;
    End() = default;
    ~End() { packet_free(&context); }
    End(const End&) = delete;
    End& operator=(const End&) = delete;
};

inline void DiscardWrite(PacketContext*, const void*, uint32_t) {}

inline int FeedRead(PacketContext* context, void* buffer, uint32_t n) {
    End* end = reinterpret_cast<End*>(context);
    const size_t count = std::min<size_t>(n, end->incoming.size() - end->position);
    std::memcpy(buffer, end->incoming.data() + end->position, count);
    end->position += count;
    return static_cast<int>(count);
}

inline void CollectWrite(PacketContext* context, const void* bytes, uint32_t n) {
    reinterpret_cast<End*>(context)->incoming.append(static_cast<const char*>(bytes), n);
}

inline void RaiseHook(const char* text) {
    throw TException(text);
}

// The messages of `data` as plaintext SSH-2 packets.
inline std::string Frame(const uint8_t* data, size_t size) {
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

inline std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) return names;
        start = comma + 1;
    }
}

// The rows of the given families, in table order.
inline std::vector<const KexMethod*> Methods(KexFamily a, KexFamily b) {
    int count = 0;
    const KexMethod* rows = kex_methods(&count);
    std::vector<const KexMethod*> out;
    for (int i = 0; i < count; i++)
        if (rows[i].family == a || rows[i].family == b) out.push_back(&rows[i]);
    return out;
}

// Both sides agree on the picked method and host key algorithm, so that
// kex_choose fills the result as a real negotiation does.
inline KexResult* Negotiate(PacketContext* context) {
    const char* own[PROPOSAL_MAX];
    kex_make_proposal(context, own);
    char* server[PROPOSAL_MAX];
    for (int i = 0; i < PROPOSAL_MAX; i++) server[i] = xstrdup(own[i]);
    KexResult* kex = nullptr;
    try {
        kex = kex_choose(context, own, server);
    } catch (...) {
        for (char* text : server) free(text);
        throw;
    }
    for (char* text : server) free(text);
    return kex;
}

inline int Run(const std::vector<const KexMethod*>& methods, const uint8_t* data, size_t size) {
    static const std::vector<std::string> host_keys =
        Split(kex_default_list(PROPOSAL_SERVER_HOST_KEY_ALGS));
    log_set_level(SYSLOG_LEVEL_QUIET);
    fatal_set_hook(RaiseHook);
    if (size < 2) return 0;

    End client;
    packet_set_io_hooks(&client.context, DiscardWrite, FeedRead);
    client.context.compat20 = 1;
    packet_set_ssh2_format(&client.context);
    client.context.client_version_string = xstrdup("SSH-2.0-Quenlor_3.24.00");
    client.context.server_version_string = xstrdup("SSH-2.0-Fuzz");
    client.context.kex_list = xstrdup(methods[data[0] % methods.size()]->name);
    client.context.hostkey_list = xstrdup(host_keys[data[1] % host_keys.size()].c_str());
    try {
        client.incoming = Frame(data + 2, size - 2);
        KexResult* kex = Negotiate(&client.context);
        // The payloads only enter the hash, which no input can make match.
        ScopedBuffer own;
        ScopedBuffer server;
        buffer_put_cstring(own.get(), "own");
        buffer_put_cstring(server.get(), "server");
        kex_run_method(&client.context, kex, own.get(), server.get());
    } catch (const TException&) {
    }
    return 0;
}

}  // namespace kex_reply_fuzz
