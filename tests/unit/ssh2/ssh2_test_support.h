// Helpers of the SSH-2 unit tests: the raising fatal hook, and two packet
// contexts joined back to back in memory (no socket), so that a test plays
// the server with the same packet layer and inspects what the client sent.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../ssh/packet_test_support.h"
#include "base/exception.h"
#include "ssh/keys/dsa.h"
#include "ssh/keys/key.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/buffer.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

// Wire encodings built independently of the code under test (RFC 4251).
using Bytes = std::string;
inline Bytes U32(uint32_t v) {
    return BigEndian(v);
}
inline Bytes Str(const Bytes& s) {
    return SshString(s);
}

// The public-key blob of a DSA key.
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

// The SSH tests' raising fatal hook per test.
using Ssh2Test = SshTest;

// Client and server contexts in SSH-2 framing without keys, joined back to
// back in memory. Run dry, a side reads like a closed socket: the packet
// layer then fails with its "Connection closed" message instead of waiting.
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
    // True while client bytes wait for the server side, in the link or
    // already taken into the server context's input buffer.
    bool ServerHasMessage() {
        return server.read_position < server.to_read.size() ||
               buffer_len(&server.context.input) > 0;
    }
    // Every message the client sent that the server side has not read yet.
    std::vector<std::pair<int, Bytes>> ClientMessages() {
        std::vector<std::pair<int, Bytes>> all;
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
