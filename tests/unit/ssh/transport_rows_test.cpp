// Known answers from outside for the SSH-2 algorithm rows (the
// chacha20-poly1305@openssh.com and AES-GCM constructions rebuilt from
// libcrypto's primitives here), and packet round trips through every new
// cipher and MAC row.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "packet_test_support.h"
#include "ssh/transport/cipher_table.h"
#include "ssh/transport/mac_table.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"

namespace {

std::vector<unsigned char> Pattern(size_t n, unsigned char seed) {
    std::vector<unsigned char> bytes(n);
    for (size_t i = 0; i < n; i++) bytes[i] = static_cast<unsigned char>(seed + i * 7);
    return bytes;
}

// libcrypto's ChaCha20 with the original 64-bit counter and nonce.
std::vector<unsigned char> ChaCha(const unsigned char* key, uint64_t counter, uint64_t nonce,
                                  const std::vector<unsigned char>& in) {
    unsigned char iv[16];
    for (int i = 0; i < 8; i++) iv[i] = static_cast<unsigned char>(counter >> (8 * i));
    for (int i = 0; i < 8; i++) iv[8 + i] = static_cast<unsigned char>(nonce >> (56 - 8 * i));
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    std::vector<unsigned char> out(in.size());
    int n = 0;
    EXPECT_EQ(1, EVP_EncryptInit_ex(c, EVP_chacha20(), nullptr, key, iv));
    EXPECT_EQ(1, EVP_EncryptUpdate(c, out.data(), &n, in.data(), static_cast<int>(in.size())));
    EVP_CIPHER_CTX_free(c);
    return out;
}

std::vector<unsigned char> Poly1305(const std::vector<unsigned char>& key,
                                    const std::vector<unsigned char>& data) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
    EVP_MAC_CTX* c = EVP_MAC_CTX_new(mac);
    std::vector<unsigned char> tag(16);
    size_t n = 0;
    EXPECT_EQ(1, EVP_MAC_init(c, key.data(), key.size(), nullptr));
    EXPECT_EQ(1, EVP_MAC_update(c, data.data(), data.size()));
    EXPECT_EQ(1, EVP_MAC_final(c, tag.data(), &n, tag.size()));
    EVP_MAC_CTX_free(c);
    EVP_MAC_free(mac);
    return tag;
}

struct StateFree {
    void operator()(CipherState* s) const { cipher_state_free(s); }
};
using StatePtr = std::unique_ptr<CipherState, StateFree>;

StatePtr Keyed(const char* name, bool encrypt, const std::vector<unsigned char>& key,
               const std::vector<unsigned char>& iv) {
    const CipherRow* row = cipher_row_find(name);
    EXPECT_NE(row, nullptr) << name;
    return StatePtr(cipher_state_new(row, encrypt, key.data(), static_cast<uint32_t>(key.size()),
                                     iv.data(), static_cast<uint32_t>(iv.size())));
}

// A packet of `body` bytes after the length, the length filled in.
std::vector<unsigned char> PlainPacket(uint32_t body) {
    std::vector<unsigned char> packet = Pattern(4 + body, 0x31);
    put_u32(packet.data(), body);
    return packet;
}

}  // namespace

class TransportRowsTest : public SshTest {};

// The construction checked step by step: the length under K_1 (the second
// half of the key), the Poly1305 key from block 0 under K_2, the body from
// block 1, the tag over encrypted length and body.
TEST_F(TransportRowsTest, ChachaPolyMatchesTheConstructionByHand) {
    const std::vector<unsigned char> key = Pattern(64, 0x42);
    const uint32_t seqnr = 0x01020304;
    const std::vector<unsigned char> packet = PlainPacket(28);
    StatePtr sender = Keyed("chacha20-poly1305@openssh.com", true, key, {});
    std::vector<unsigned char> wire(packet.size() + 16);
    cipher_state_aead_seal(sender.get(), seqnr, wire.data(), packet.data(),
                           static_cast<uint32_t>(packet.size()));

    const unsigned char* k2 = key.data();
    const unsigned char* k1 = key.data() + 32;
    std::vector<unsigned char> length(packet.begin(), packet.begin() + 4);
    std::vector<unsigned char> body(packet.begin() + 4, packet.end());
    std::vector<unsigned char> expected = ChaCha(k1, 0, seqnr, length);
    std::vector<unsigned char> encrypted_body = ChaCha(k2, 1, seqnr, body);
    expected.insert(expected.end(), encrypted_body.begin(), encrypted_body.end());
    std::vector<unsigned char> poly_key = ChaCha(k2, 0, seqnr, std::vector<unsigned char>(32, 0));
    std::vector<unsigned char> tag = Poly1305(poly_key, expected);
    expected.insert(expected.end(), tag.begin(), tag.end());
    EXPECT_EQ(Hex(wire.data(), wire.size()), Hex(expected.data(), expected.size()));

    StatePtr receiver = Keyed("chacha20-poly1305@openssh.com", false, key, {});
    EXPECT_EQ(cipher_state_aead_length(receiver.get(), seqnr, wire.data()), 28u);
    std::vector<unsigned char> clear(packet.size());
    ASSERT_TRUE(cipher_state_aead_open(receiver.get(), seqnr, clear.data(), wire.data(),
                                       static_cast<uint32_t>(packet.size())));
    EXPECT_EQ(clear, packet);
    // Another sequence number, or one flipped bit anywhere, fails the tag.
    EXPECT_FALSE(cipher_state_aead_open(receiver.get(), seqnr + 1, clear.data(), wire.data(),
                                        static_cast<uint32_t>(packet.size())));
    for (size_t i : {size_t{0}, size_t{4}, wire.size() - 1}) {
        std::vector<unsigned char> bad = wire;
        bad[i] ^= 0x01;
        EXPECT_FALSE(cipher_state_aead_open(receiver.get(), seqnr, clear.data(), bad.data(),
                                            static_cast<uint32_t>(packet.size())))
            << i;
    }
}

// RFC 5647 as used on the wire: the length is additional data in clear, the
// 12-byte nonce's last 8 bytes count packets.
TEST_F(TransportRowsTest, GcmMatchesLibcryptoWithTheInvocationCounter) {
    const std::vector<unsigned char> key = Pattern(16, 0x11);
    // The counter's last byte carries into the next one at the second packet.
    const std::vector<unsigned char> iv = {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xff};
    StatePtr sender = Keyed("aes128-gcm@openssh.com", true, key, iv);
    for (int n = 0; n < 2; n++) {
        const std::vector<unsigned char> packet = PlainPacket(32);
        std::vector<unsigned char> wire(packet.size() + 16);
        cipher_state_aead_seal(sender.get(), 0, wire.data(), packet.data(),
                               static_cast<uint32_t>(packet.size()));

        std::vector<unsigned char> nonce = iv;
        if (n == 1) {
            nonce[11] = 0x00;
            nonce[10] = 0x01;
        }
        EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
        std::vector<unsigned char> expected(packet.begin(), packet.begin() + 4);
        expected.resize(packet.size() + 16);
        int out = 0;
        ASSERT_EQ(1, EVP_EncryptInit_ex(c, EVP_aes_128_gcm(), nullptr, key.data(), nonce.data()));
        ASSERT_EQ(1, EVP_EncryptUpdate(c, nullptr, &out, packet.data(), 4));
        ASSERT_EQ(1, EVP_EncryptUpdate(c, expected.data() + 4, &out, packet.data() + 4, 32));
        ASSERT_EQ(1, EVP_EncryptFinal_ex(c, expected.data() + 36, &out));
        ASSERT_EQ(1, EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, 16, expected.data() + 36));
        EVP_CIPHER_CTX_free(c);
        EXPECT_EQ(Hex(wire.data(), wire.size()), Hex(expected.data(), expected.size())) << n;
    }
}

// Every new cipher row with an encrypt-then-MAC and a classic MAC (the
// AEAD rows need none): both directions, many sizes, exact wire sizes.
struct RowCase {
    const char* cipher;
    const char* mac;  // null for AEAD
};

class TransportRowsRoundTrip : public SshTest, public ::testing::WithParamInterface<RowCase> {
  protected:
    static KexResult* Make(bool client) {
        auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
        *kex = KexResult{};
        kex->need = 64;
        for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
            const bool to_server = (mode == MODE_OUT) == client;
            const unsigned char seed = to_server ? 0x10 : 0x80;
            const CipherRow* row = cipher_row_find(GetParam().cipher);
            Enc& enc = kex->enc[mode];
            enc.row = row;
            enc.type = SSH_CIPHER_NONE;
            enc.block_size = static_cast<int>(row->block_size);
            enc.key_len = row->key_len;
            enc.iv_len = row->iv_len;
            enc.key = static_cast<unsigned char*>(xmalloc(64));
            enc.iv = static_cast<unsigned char*>(xmalloc(64));
            std::vector<unsigned char> k = Pattern(64, seed), v = Pattern(64, seed + 1);
            std::memcpy(enc.key, k.data(), 64);
            std::memcpy(enc.iv, v.data(), 64);
            Mac& mac = kex->mac[mode];
            mac.key = static_cast<unsigned char*>(xmalloc(64));
            std::vector<unsigned char> m = Pattern(64, seed + 2);
            std::memcpy(mac.key, m.data(), 64);
            if (GetParam().mac != nullptr) {
                const MacRow* mac_row = mac_row_find(GetParam().mac);
                mac.md = EVP_get_digestbyname(mac_row->digest);
                mac.mac_len = static_cast<int>(mac_row->mac_len);
                mac.key_len = mac_row->key_len;
                mac.etm = mac_row->etm;
            }
        }
        return kex;
    }
    void Rekey() {
        packet_set_kex(&client_.context, Make(true));
        packet_set_kex(&server_.context, Make(false));
        server_.Receive(client_.Send(SSH2_MSG_NEWKEYS, ""));
        ASSERT_EQ(packet_read_poll(&server_.context, nullptr), SSH2_MSG_NEWKEYS);
        client_.Receive(server_.Send(SSH2_MSG_NEWKEYS, ""));
        ASSERT_EQ(packet_read_poll(&client_.context, nullptr), SSH2_MSG_NEWKEYS);
    }
    size_t WireSize(size_t payload) const {
        const CipherRow* row = cipher_row_find(GetParam().cipher);
        const MacRow* mac = GetParam().mac != nullptr ? mac_row_find(GetParam().mac) : nullptr;
        const bool length_apart = cipher_row_is_aead(row) || (mac != nullptr && mac->etm);
        const size_t block = row->block_size;
        size_t unpadded = 4 + 1 + 1 + payload - (length_apart ? 4 : 0);
        size_t padding = block - unpadded % block;
        if (padding < 4) padding += block;
        return unpadded + padding + (length_apart ? 4 : 0) + row->tag_len +
               (mac != nullptr ? mac->mac_len : 0);
    }
    Endpoint client_{true}, server_{true};
};

TEST_P(TransportRowsRoundTrip, BothDirectionsWithExactWireSizes) {
    Rekey();
    for (Endpoint* from : {&client_, &server_}) {
        Endpoint* to = from == &client_ ? &server_ : &client_;
        std::string stream;
        const std::vector<size_t> sizes = {0, 1, 2, 3, 10, 11, 15, 16, 57, 255, 1000, 16384};
        for (size_t n : sizes) {
            std::string wire = from->Send(SSH2_MSG_CHANNEL_DATA, std::string(n, char(n)));
            EXPECT_EQ(wire.size(), WireSize(n)) << n;
            stream += wire;
        }
        // Byte by byte for the first packets, then all the rest at once.
        size_t split = WireSize(0) + WireSize(1);
        for (size_t i = 0; i < split; i++) {
            to->Receive(stream.substr(i, 1));
            if (i + 1 < WireSize(0)) {
                EXPECT_EQ(packet_read_poll(&to->context, nullptr), 0);
            }
            if (i + 1 == WireSize(0)) {
                ASSERT_EQ(packet_read_poll(&to->context, nullptr), SSH2_MSG_CHANNEL_DATA);
                EXPECT_EQ(to->Payload(), "");
            }
        }
        to->Receive(stream.substr(split));
        for (size_t n : sizes) {
            if (n == 0) continue;
            int length = -1;
            ASSERT_EQ(packet_read_poll(&to->context, &length), SSH2_MSG_CHANNEL_DATA) << n;
            EXPECT_EQ(to->Payload(), std::string(n, char(n)));
        }
        EXPECT_EQ(packet_read_poll(&to->context, nullptr), 0);
    }
}

// A bad length and a bad MAC or tag end alike, and only once the amount the
// length claimed has arrived.
TEST_P(TransportRowsRoundTrip, BadLengthAndBadMacEndTheSameWay) {
    Rekey();
    std::string wire = client_.Send(SSH2_MSG_CHANNEL_DATA, std::string(40, 'x'));
    std::string flipped = wire;
    flipped.back() ^= 0x20;
    server_.Receive(flipped.substr(0, flipped.size() - 1));
    EXPECT_EQ(packet_read_poll(&server_.context, nullptr), 0);
    server_.Receive(flipped.substr(flipped.size() - 1));
    std::string mac_failure;
    std::string log = StderrOf(
        [&] { mac_failure = FatalMessage([&] { packet_read_poll(&server_.context, nullptr); }); });
    EXPECT_EQ(mac_failure, "Corrupted HMAC on input.");
    EXPECT_EQ(log, "");

    // A length far beyond the limit: 256 KB plus the trailer are read first.
    Endpoint client(true), server(true);
    packet_set_kex(&client.context, Make(true));
    packet_set_kex(&server.context, Make(false));
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_NEWKEYS);
    std::string bad = client.Send(SSH2_MSG_CHANNEL_DATA, std::string(40, 'x'));
    for (size_t i = 0; i < 4; i++) bad[i] = '\x7f';
    server.Receive(bad);
    EXPECT_EQ(packet_read_poll(&server.context, nullptr), 0);
    server.Receive(std::string(kMaxPacketLength, '\0'));
    std::string length_failure;
    log = StderrOf([&] {
        length_failure = FatalMessage([&] { packet_read_poll(&server.context, nullptr); });
    });
    EXPECT_EQ(length_failure, mac_failure);
    EXPECT_EQ(log, "");  // nothing of the packet is dumped
}

INSTANTIATE_TEST_SUITE_P(Rows, TransportRowsRoundTrip,
                         ::testing::Values(RowCase{"chacha20-poly1305@openssh.com", nullptr},
                                           RowCase{"aes128-gcm@openssh.com", nullptr},
                                           RowCase{"aes256-gcm@openssh.com", nullptr},
                                           RowCase{"aes128-ctr", "hmac-sha2-256-etm@openssh.com"},
                                           RowCase{"aes192-ctr", "hmac-sha2-512"},
                                           RowCase{"aes256-ctr", "hmac-sha1-etm@openssh.com"},
                                           RowCase{"aes128-cbc", "hmac-sha2-256"},
                                           RowCase{"aes192-cbc", "hmac-sha2-512-etm@openssh.com"},
                                           RowCase{"aes256-cbc", "hmac-sha1"},
                                           RowCase{"3des-cbc", "hmac-sha2-256-etm@openssh.com"},
                                           RowCase{"arcfour", "hmac-sha1-etm@openssh.com"}),
                         [](const auto& info) {
                             std::string name =
                                 std::string(info.param.cipher) + "_" +
                                 (info.param.mac != nullptr ? info.param.mac : "aead");
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });
