// A pair of packet contexts joined by an in-memory wire, for the packet tests.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "ssh/transport/cipher.h"
#include "ssh/transport/packet.h"
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

inline std::string StringOf(const void* bytes, size_t n) {
    return std::string(static_cast<const char*>(bytes), n);
}

// Key exchange results for tests: every block holds kNeed bytes.
constexpr uint32_t kNeed = 24;  // key material per key, IV and MAC key

inline unsigned char* Material(unsigned char seed) {
    auto* bytes = static_cast<unsigned char*>(xmalloc(kNeed));
    for (uint32_t i = 0; i < kNeed; i++) bytes[i] = static_cast<unsigned char>(seed + i * 13);
    return bytes;
}

// Keys of one direction depend on the direction only, so a client's outgoing
// keys are the server's incoming ones.
inline void FillDirection(KexResult* kex, int mode, bool client_to_server, int cipher,
                          const EVP_MD* md, int block_size, int compression) {
    unsigned char seed = client_to_server ? 0x10 : 0x80;
    Enc& enc = kex->enc[mode];
    enc.type = cipher;
    enc.block_size = block_size;
    enc.key = Material(seed);
    enc.iv = Material(seed + 1);
    enc.key_len = cipher == SSH_CIPHER_3DES_CBC ? 24 : 16;
    enc.iv_len = 8;
    enc.name = xstrdup(cipher_name(cipher));
    Mac& mac = kex->mac[mode];
    mac.md = md;
    mac.mac_len = md != nullptr ? EVP_MD_get_size(md) : 0;
    mac.key = Material(seed + 2);
    mac.key_len = md != nullptr ? static_cast<uint32_t>(EVP_MD_get_size(md)) : 16;
    kex->comp[mode].type = compression;
}

inline KexResult* MakeKex(bool client, int cipher, const EVP_MD* md, int block_size = 8,
                          int compression = COMP_NONE) {
    auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
    *kex = KexResult{};
    kex->need = kNeed;
    FillDirection(kex, MODE_IN, !client, cipher, md, block_size, compression);
    FillDirection(kex, MODE_OUT, client, cipher, md, block_size, compression);
    return kex;
}
