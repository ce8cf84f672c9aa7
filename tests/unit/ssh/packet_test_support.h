// A pair of packet contexts joined by an in-memory wire, for the packet tests.
#pragma once

#include <openssl/evp.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "ssh/transport/cipher.h"
#include "ssh/transport/cipher_table.h"
#include "ssh/transport/mac_table.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

// One end of the wire. The hooks find it through the context's owner field,
// which here points at the Endpoint instead of a connection.
struct Endpoint {
    PacketContext context{};
    std::string sent;     // everything the write hook was given
    std::string to_read;  // what the read hook hands out
    size_t read_position = 0;
    size_t read_chunk = 8192;  // most bytes per read hook call
    int read_error = 0;        // errno to fail with once to_read is exhausted
    Endpoint* peer = nullptr;  // when set, writes go to its to_read instead of `sent`

    explicit Endpoint(bool ssh2 = false) {
        context.owner = reinterpret_cast<TSSHConnection*>(this);
        packet_set_io_hooks(&context, WriteHook, ReadHook);
        if (ssh2) {
            context.compat20 = 1;
            packet_set_ssh2_format(&context);
        }
    }
    ~Endpoint() { packet_free(&context); }
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    static Endpoint* Of(PacketContext* context) {
        return reinterpret_cast<Endpoint*>(context->owner);
    }
    static void WriteHook(PacketContext* context, const void* bytes, uint32_t n) {
        Endpoint* self = Of(context);
        (self->peer != nullptr ? self->peer->to_read : self->sent)
            .append(static_cast<const char*>(bytes), n);
    }
    static int ReadHook(PacketContext* context, void* buffer, uint32_t n) {
        Endpoint* self = Of(context);
        size_t left = self->to_read.size() - self->read_position;
        if (left == 0 && self->read_error != 0) {
            errno = self->read_error;
            return -1;
        }
        size_t count = std::min({left, static_cast<size_t>(n), self->read_chunk});
        std::memcpy(buffer, self->to_read.data() + self->read_position, count);
        self->read_position += count;
        return static_cast<int>(count);
    }

    // Sends one packet and returns the bytes it put on the wire.
    std::string Send(int type, const std::string& payload) {
        size_t before = sent.size();
        SendPacket(&context, type, payload);
        return sent.substr(before);
    }
    void Receive(const std::string& bytes) {
        packet_process_incoming(&context, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    // The payload of the packet last read.
    std::string Payload() {
        int length = 0;
        unsigned char* bytes = packet_get_raw(&context, &length);
        return std::string(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
    }
};

// A key exchange result whose keys depend on the direction only, so that a
// client's outgoing keys are the server's incoming ones. The cipher goes over
// as its row, or with `by_number` as its legacy number only, as the older
// negotiation hands it over ("none" has no row); `mac` "-" is none.
inline KexResult* MakeKex(bool client, const std::string& cipher, const std::string& mac,
                          bool by_number = false, int compression = COMP_NONE) {
    const CipherRow* row = cipher_row_find(cipher.c_str());
    const MacRow* mac_row = mac == "-" ? nullptr : mac_row_find(mac.c_str());
    auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
    *kex = KexResult{};
    kex->need = 64;
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        Enc& enc = kex->enc[mode];
        Mac& keys = kex->mac[mode];
        enc.row = by_number ? nullptr : row;
        enc.type = by_number && row != nullptr ? row->legacy_number : SSH_CIPHER_NONE;
        enc.block_size = row != nullptr ? static_cast<int>(row->block_size) : 8;
        enc.key_len = row != nullptr ? row->key_len : 16;
        enc.iv_len = row != nullptr ? row->iv_len : 8;
        unsigned char** blocks[] = {&enc.key, &enc.iv, &keys.key};
        const int seed = (mode == MODE_OUT) == client ? 0x10 : 0x80;
        for (int i = 0; i < 3; i++) {
            *blocks[i] = static_cast<unsigned char*>(xmalloc(64));
            for (int k = 0; k < 64; k++)
                (*blocks[i])[k] = static_cast<unsigned char>(seed + i * 32 + k * 7);
        }
        keys.key_len = mac_row != nullptr ? mac_row->key_len : 16;
        if (mac_row != nullptr) {
            keys.md = EVP_get_digestbyname(mac_row->digest);
            keys.mac_len = static_cast<int>(mac_row->mac_len);
            keys.etm = mac_row->etm;
        }
        kex->comp[mode].type = compression;
    }
    return kex;
}

// Hands both ends their keys and exchanges NEWKEYS both ways.
inline void Rekey(Endpoint& client, Endpoint& server, const std::string& cipher,
                  const std::string& mac, bool by_number = false, int compression = COMP_NONE) {
    packet_set_kex(&client.context, MakeKex(true, cipher, mac, by_number, compression));
    packet_set_kex(&server.context, MakeKex(false, cipher, mac, by_number, compression));
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_NEWKEYS);
    client.Receive(server.Send(SSH2_MSG_NEWKEYS, ""));
    EXPECT_EQ(packet_read_poll(&client.context, nullptr), SSH2_MSG_NEWKEYS);
}
