// Helpers shared by the SSH-1 unit tests: RSA keys made by libcrypto, MD5
// computed apart from the code under test, and an in-memory wire between the
// client's packet context and a scripted server context.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "../ssh/ssh_test_support.h"
#include "base/exception.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"

// The SSH tests' raising fatal hook per test.
using Ssh1Test = SshTest;

struct RsaFree {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RsaHandle = std::unique_ptr<RSA, RsaFree>;
using BnHandle = BignumPtr;

inline BnHandle BnFromHex(const char* hex) {
    BIGNUM* number = nullptr;
    BN_hex2bn(&number, hex);
    return BnHandle(number);
}

inline BnHandle BnFromBytes(const std::string& bytes) {
    return BnHandle(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<int>(bytes.size()), nullptr));
}

inline std::string BnBytes(const BIGNUM* number) {
    std::string bytes(static_cast<size_t>(BN_num_bytes(number)), '\0');
    BN_bn2bin(number, reinterpret_cast<unsigned char*>(bytes.data()));
    return bytes;
}

// A fresh private key of `bits` with public exponent 65537.
inline RsaHandle GenerateRsa(int bits) {
    RsaHandle rsa(RSA_new());
    BnHandle e(BN_new());
    BN_set_word(e.get(), RSA_F4);
    EXPECT_EQ(RSA_generate_key_ex(rsa.get(), bits, e.get(), nullptr), 1);
    return rsa;
}

// A private key of `bits` made once per test program (key generation is slow
// enough to matter when every test asks for one). Not owned by the caller.
inline RSA* SharedRsa(int bits) {
    static std::map<int, RsaHandle> keys;
    auto& key = keys[bits];
    if (!key) key = GenerateRsa(bits);
    return key.get();
}

// libcrypto's PKCS #1 v1.5 operations, as byte strings.
inline std::string LibraryRsaEncrypt(const RSA* key, const std::string& message) {
    std::string out(static_cast<size_t>(RSA_size(key)), '\0');
    int n = RSA_public_encrypt(
        static_cast<int>(message.size()), reinterpret_cast<const unsigned char*>(message.data()),
        reinterpret_cast<unsigned char*>(out.data()), const_cast<RSA*>(key), RSA_PKCS1_PADDING);
    EXPECT_EQ(n, RSA_size(key));
    return out;
}
inline std::string LibraryRsaDecrypt(RSA* key, const std::string& bytes) {
    std::string out(static_cast<size_t>(RSA_size(key)), '\0');
    int n = RSA_private_decrypt(
        static_cast<int>(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.data()),
        reinterpret_cast<unsigned char*>(out.data()), key, RSA_PKCS1_PADDING);
    EXPECT_GT(n, 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

inline std::string Md5(const std::string& data) {
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

// SSH-1 multiple-precision integer: 16-bit bit count, then the magnitude.
inline std::string Mpint1(const BIGNUM* number) {
    int bits = BN_num_bits(number);
    std::string out;
    out += static_cast<char>(bits >> 8);
    out += static_cast<char>(bits);
    return out + BnBytes(number);
}

// The server's side of a connection under test: its packet context and a
// way to send it a whole packet.
class ServerEnd {
  public:
    virtual ~ServerEnd() = default;
    virtual PacketContext* Server() = 0;
    // Sends one packet with a raw payload.
    virtual void Send(int type, const std::string& payload = "") = 0;
};

// The client's and a server's packet context joined in memory. Whenever the
// client needs bytes and none are queued, `server` runs once: it reads what
// the client sent (Next) and answers (Send). When it queues nothing the client
// sees the connection closed, so a script that ends early can never hang.
class Ssh1Wire : public ServerEnd {
  public:
    PacketContext client{};
    PacketContext server{};
    std::function<void(Ssh1Wire&)> script;
    int script_runs = 0;

    Ssh1Wire() {
        client.owner = reinterpret_cast<TSSHConnection*>(this);
        server.owner = reinterpret_cast<TSSHConnection*>(this);
        packet_set_io_hooks(&client, ClientWrite, ClientRead);
        packet_set_io_hooks(&server, ServerWrite, nullptr);
    }
    ~Ssh1Wire() {
        packet_free(&client);
        packet_free(&server);
    }
    Ssh1Wire(const Ssh1Wire&) = delete;
    Ssh1Wire& operator=(const Ssh1Wire&) = delete;

    PacketContext* Server() override { return &server; }
    void Send(int type, const std::string& payload = "") override {
        SendPacket(&server, type, payload);
    }
    // Server side: raw bytes for the client, outside any packet.
    void SendRaw(const std::string& bytes) { to_client_ += bytes; }
    // Server side: the next packet the client sent, or 0 when none is whole.
    int Next() {
        packet_process_incoming(&server, to_server_.data(),
                                static_cast<uint32_t>(to_server_.size()));
        to_server_.clear();
        int length = 0;
        return packet_read_poll(&server, &length);
    }
    std::string Payload() {
        int length = 0;
        unsigned char* bytes = packet_get_raw(&server, &length);
        return std::string(reinterpret_cast<char*>(bytes), static_cast<size_t>(length));
    }
    // Every packet type the client sent that the script has not read.
    std::string UnreadTypes() {
        std::string types;
        for (int type; (type = Next()) != 0;) types += std::to_string(type) + " ";
        return types;
    }

  private:
    std::string to_server_;
    std::string to_client_;

    static Ssh1Wire* Of(PacketContext* context) {
        return reinterpret_cast<Ssh1Wire*>(context->owner);
    }
    static void ClientWrite(PacketContext* context, const void* bytes, uint32_t n) {
        Of(context)->to_server_.append(static_cast<const char*>(bytes), n);
    }
    static void ServerWrite(PacketContext* context, const void* bytes, uint32_t n) {
        Of(context)->to_client_.append(static_cast<const char*>(bytes), n);
    }
    static int ClientRead(PacketContext* context, void* buffer, uint32_t n) {
        Ssh1Wire* self = Of(context);
        if (self->to_client_.empty() && self->script && self->script_runs < 100) {
            self->script_runs++;
            self->script(*self);
        }
        size_t count = std::min<size_t>(n, self->to_client_.size());
        std::memcpy(buffer, self->to_client_.data(), count);
        self->to_client_.erase(0, count);
        return static_cast<int>(count);
    }
};
