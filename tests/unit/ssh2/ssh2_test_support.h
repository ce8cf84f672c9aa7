// Helpers of the SSH-2 unit tests: wire encodings built apart from the code
// under test (RFC 4251), and two packet contexts joined back to back in
// memory, so that a test plays the server with the same packet layer.
#pragma once

#include <utility>

#include "../base/case_file.h"
#include "../ssh/packet_test_support.h"
#include "ssh/keys/dsa.h"
#include "ssh/wire/buffer.h"
#include "ssh/wire/xmalloc.h"

using Bytes = std::string;
using Messages = std::vector<std::pair<int, Bytes>>;
using Ssh2Test = SshTest;

inline constexpr auto* U32 = &BigEndian;
inline constexpr auto* Str = &SshString;

// A payload written in a case file, one piece a field from `from` on:
// "s:TEXT" a string, "u:N" a 32-bit number, "b:N" one byte, "x:HEX" bytes.
inline Bytes Wire(const TCase& c, std::size_t from) {
    Bytes out;
    for (std::size_t i = from; i < c.size(); i++) {
        const std::string kind = c[i].substr(0, 2), rest = c[i].substr(kind.size());
        if (kind == "s:") out += Str(rest);
        if (kind == "u:") out += U32(static_cast<uint32_t>(Num(rest)));
        if (kind == "b:") out += static_cast<char>(Num(rest));
        if (kind == "x:") out += HexBytes(rest);
    }
    return out;
}

inline Bytes DsaBlob(const Key* key) {
    unsigned char* blob = nullptr;
    uint32_t length = 0;
    EXPECT_NE(0u, dsa_key_to_blob(key, &blob, &length));
    Bytes result(reinterpret_cast<char*>(blob), length);
    xfree(blob);
    return result;
}

inline int DsaVerify(const Key* key, const Bytes& signature, const Bytes& data, int* word) {
    return dsa_verify(key, reinterpret_cast<const unsigned char*>(signature.data()),
                      static_cast<uint32_t>(signature.size()),
                      reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<uint32_t>(data.size()), word);
}

// Client and server contexts in SSH-2 framing without keys. Run dry, a side
// reads like a closed socket, so the packet layer fails instead of waiting.
struct Link {
    Endpoint client{true};
    Endpoint server{true};
    Link() {
        client.peer = &server;
        server.peer = &client;
    }
    PacketContext* Client() { return &client.context; }
    PacketContext* Server() { return &server.context; }
    void ServerSends(int type, const Bytes& payload = "") { SendPacket(Server(), type, payload); }
    bool ServerHasMessage() {
        return server.read_position < server.to_read.size() ||
               buffer_len(&server.context.input) > 0;
    }
    Messages ClientMessages() {
        Messages all;
        while (ServerHasMessage()) {
            const int type = packet_read(Server(), nullptr);
            int n = 0;
            unsigned char* bytes = packet_get_raw(Server(), &n);
            all.emplace_back(type, Bytes(reinterpret_cast<char*>(bytes), static_cast<size_t>(n)));
            buffer_consume(&server.context.incoming_packet, static_cast<uint32_t>(n));
        }
        return all;
    }
};
