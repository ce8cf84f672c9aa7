// Known answers from outside for the AEAD rows (tests/data/ssh/aead_vectors),
// and packet round trips through every cipher and MAC, the rows in
// tests/data/ssh/packet_rows.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>
#include <vector>

#include "packet_test_support.h"
#include "ssh/transport/cipher_table.h"
#include "ssh/transport/mac_table.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Vec(const std::string& hex) {
    const std::string bytes = HexBytes(hex);
    return Bytes(bytes.begin(), bytes.end());
}

std::vector<unsigned char> Pattern(size_t n, unsigned char seed) {
    std::vector<unsigned char> bytes(n);
    for (size_t i = 0; i < n; i++) bytes[i] = static_cast<unsigned char>(seed + i * 7);
    return bytes;
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

}  // namespace

class TransportRowsTest : public SshTest {};

// The known answers of ssh/aead_vectors, sealed and opened; the length is
// the packet's own, and another sequence number or one flipped bit anywhere
// fails the tag.
TEST_F(TransportRowsTest, AeadKnownAnswers) {
    const auto rows = DataRows("ssh/aead_vectors");
    EXPECT_EQ(rows.size(), 2u);
    for (const auto& row : rows) {
        ASSERT_GE(row.size(), 6u);
        SCOPED_TRACE(row[0]);
        const char* name = row[0].c_str();
        const Bytes key = Vec(row[1]), iv = row[2] == "-" ? Bytes() : Vec(row[2]);
        const auto seqnr = static_cast<uint32_t>(std::stoul(row[3]));
        const Bytes packet = Vec(row[4]);
        const auto size = static_cast<uint32_t>(packet.size());
        StatePtr sender = Keyed(name, true, key, iv), receiver = Keyed(name, false, key, iv);
        Bytes wire(size + 16), clear(size);
        for (size_t i = 5; i < row.size(); i++) {
            cipher_state_aead_seal(sender.get(), seqnr, wire.data(), packet.data(), size);
            EXPECT_EQ(wire, Vec(row[i])) << i;
            EXPECT_EQ(cipher_state_aead_length(receiver.get(), seqnr, wire.data()), size - 4);
            ASSERT_TRUE(
                cipher_state_aead_open(receiver.get(), seqnr, clear.data(), wire.data(), size));
            EXPECT_EQ(clear, packet);
        }
        const Bytes first = Vec(row[5]);
        for (size_t i : {size_t{0}, size_t{4}, first.size() - 1, first.size()}) {
            Bytes bad = first;
            uint32_t bad_seqnr = seqnr;
            if (i < bad.size()) {
                bad[i] ^= 0x01;
            } else if (row[2] == "-") {
                bad_seqnr++;  // chacha takes the number; GCM counts packets itself
            } else {
                continue;
            }
            StatePtr fresh = Keyed(name, false, key, iv);
            EXPECT_FALSE(
                cipher_state_aead_open(fresh.get(), bad_seqnr, clear.data(), bad.data(), size))
                << i;
        }
    }
}

namespace {

// Keys for one row of ssh/packet_rows, the same for a direction on both
// ends, so a client's outgoing keys are the server's incoming ones.
struct KeySet {
    std::string cipher, mac;
    bool by_number;

    KexResult* Make(bool client) const {
        const CipherRow* row = cipher_row_find(cipher.c_str());
        const MacRow* mac_row = mac == "-" ? nullptr : mac_row_find(mac.c_str());
        auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
        *kex = KexResult{};
        kex->need = 64;
        for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
            const unsigned char seed = (mode == MODE_OUT) == client ? 0x10 : 0x80;
            Enc& enc = kex->enc[mode];
            enc.row = by_number ? nullptr : row;
            enc.type = by_number && row != nullptr ? row->legacy_number : SSH_CIPHER_NONE;
            enc.block_size = row != nullptr ? static_cast<int>(row->block_size) : 8;
            enc.key_len = row != nullptr ? row->key_len : 16;
            enc.iv_len = row != nullptr ? row->iv_len : 8;
            Mac& mac_keys = kex->mac[mode];
            unsigned char** blocks[] = {&enc.key, &enc.iv, &mac_keys.key};
            for (int i = 0; i < 3; i++) {
                const std::vector<unsigned char> bytes = Pattern(64, seed + i);
                *blocks[i] = static_cast<unsigned char*>(xmalloc(64));
                std::memcpy(*blocks[i], bytes.data(), 64);
            }
            mac_keys.key_len = 16;
            if (mac_row != nullptr) {
                mac_keys.md = EVP_get_digestbyname(mac_row->digest);
                mac_keys.mac_len = static_cast<int>(mac_row->mac_len);
                mac_keys.key_len = mac_row->key_len;
                mac_keys.etm = mac_row->etm;
            }
        }
        return kex;
    }
    // The bytes a packet of `payload` bytes takes on the wire (RFC 4253
    // section 6: 4 to block + 3 padding bytes; the length stays outside the
    // padded part with AEAD and encrypt-then-MAC).
    size_t WireSize(size_t payload) const {
        const CipherRow* row = cipher_row_find(cipher.c_str());
        const MacRow* mac_row = mac == "-" ? nullptr : mac_row_find(mac.c_str());
        const bool aead = row != nullptr && cipher_row_is_aead(row);
        const bool length_apart = aead || (mac_row != nullptr && mac_row->etm);
        const size_t block = row != nullptr ? row->block_size : 8;
        const size_t unpadded = 4 + 1 + 1 + payload - (length_apart ? 4 : 0);
        size_t padding = block - unpadded % block;
        if (padding < 4) padding += block;
        return unpadded + padding + (length_apart ? 4 : 0) + (aead ? row->tag_len : 0) +
               (mac_row != nullptr ? mac_row->mac_len : 0);
    }
    // Hands over keys on both ends and exchanges NEWKEYS both ways.
    void Rekey(Endpoint* client, Endpoint* server) const {
        packet_set_kex(&client->context, Make(true));
        packet_set_kex(&server->context, Make(false));
        server->Receive(client->Send(SSH2_MSG_NEWKEYS, ""));
        ASSERT_EQ(packet_read_poll(&server->context, nullptr), SSH2_MSG_NEWKEYS);
        client->Receive(server->Send(SSH2_MSG_NEWKEYS, ""));
        ASSERT_EQ(packet_read_poll(&client->context, nullptr), SSH2_MSG_NEWKEYS);
    }
};

std::vector<KeySet> KeySets() {
    std::vector<KeySet> sets;
    for (const auto& row : DataRows("ssh/packet_rows")) {
        EXPECT_EQ(row.size(), 3u);
        if (row.size() == 3) sets.push_back({row[0], row[1], row[2] == "number"});
    }
    EXPECT_EQ(sets.size(), 21u);
    return sets;
}

}  // namespace

// Both directions, many sizes, exact wire sizes; the first packets arrive
// byte by byte (a first block decrypted twice breaks the chain and the MAC),
// the rest all at once.
TEST_F(TransportRowsTest, RoundTripsThroughEveryCipherAndMac) {
    for (const KeySet& keys : KeySets()) {
        SCOPED_TRACE(keys.cipher + " " + keys.mac);
        Endpoint client(true), server(true);
        keys.Rekey(&client, &server);
        const std::vector<size_t> sizes = {0, 1, 2, 3, 10, 11, 15, 16, 57, 255, 1000, 16384};
        for (Endpoint* from : {&client, &server}) {
            Endpoint* to = from == &client ? &server : &client;
            std::string stream;
            for (size_t n : sizes) {
                const std::string payload(n, static_cast<char>(n));
                const std::string wire = from->Send(SSH2_MSG_CHANNEL_DATA, payload);
                EXPECT_EQ(wire.size(), keys.WireSize(n)) << n;
                if (keys.cipher != "none" && n >= 10) {
                    EXPECT_EQ(wire.find(payload), std::string::npos) << "plaintext on the wire";
                }
                stream += wire;
            }
            const size_t first = keys.WireSize(0), split = first + keys.WireSize(1);
            for (size_t i = 0; i < split; i++) {
                to->Receive(stream.substr(i, 1));
                if (i + 1 < first) {
                    EXPECT_EQ(packet_read_poll(&to->context, nullptr), 0);
                }
                if (i + 1 == first) {
                    ASSERT_EQ(packet_read_poll(&to->context, nullptr), SSH2_MSG_CHANNEL_DATA);
                    EXPECT_EQ(to->Payload(), "");
                }
            }
            to->Receive(stream.substr(split));
            for (size_t n : sizes) {
                if (n == 0) continue;
                int length = -1;
                ASSERT_EQ(packet_read_poll(&to->context, &length), SSH2_MSG_CHANNEL_DATA) << n;
                EXPECT_EQ(length, static_cast<int>(n));
                EXPECT_EQ(to->Payload(), std::string(n, static_cast<char>(n)));
            }
            EXPECT_EQ(packet_read_poll(&to->context, nullptr), 0);
        }
        EXPECT_EQ(client.context.send_seqnr, 13u);
        EXPECT_EQ(server.context.read_seqnr, 13u);
    }
}

// A bad length and a bad MAC or tag end alike, and only once the amount the
// length claimed has arrived.
TEST_F(TransportRowsTest, BadLengthAndBadMacEndTheSameWay) {
    for (const KeySet& keys : KeySets()) {
        if (keys.mac == "-" && keys.cipher.find("poly1305") == std::string::npos &&
            keys.cipher.find("gcm") == std::string::npos)
            continue;
        SCOPED_TRACE(keys.cipher + " " + keys.mac);
        Endpoint client(true), server(true);
        keys.Rekey(&client, &server);
        std::string flipped = client.Send(SSH2_MSG_CHANNEL_DATA, std::string(40, 'x'));
        flipped.back() ^= 0x20;
        server.Receive(flipped.substr(0, flipped.size() - 1));
        EXPECT_EQ(packet_read_poll(&server.context, nullptr), 0);
        server.Receive(flipped.substr(flipped.size() - 1));
        std::string mac_failure;
        std::string log = StderrOf([&] {
            mac_failure = FatalMessage([&] { packet_read_poll(&server.context, nullptr); });
        });
        EXPECT_EQ(mac_failure, "Corrupted HMAC on input.");
        EXPECT_EQ(log, "");

        // A length far beyond the limit: 256 KB plus the trailer are read first.
        Endpoint sender(true), receiver(true);
        packet_set_kex(&sender.context, keys.Make(true));
        packet_set_kex(&receiver.context, keys.Make(false));
        receiver.Receive(sender.Send(SSH2_MSG_NEWKEYS, ""));
        ASSERT_EQ(packet_read_poll(&receiver.context, nullptr), SSH2_MSG_NEWKEYS);
        std::string bad = sender.Send(SSH2_MSG_CHANNEL_DATA, std::string(40, 'x'));
        for (size_t i = 0; i < 4; i++) bad[i] = '\x7f';
        receiver.Receive(bad);
        EXPECT_EQ(packet_read_poll(&receiver.context, nullptr), 0);
        receiver.Receive(std::string(kMaxPacketLength, '\0'));
        std::string length_failure;
        log = StderrOf([&] {
            length_failure = FatalMessage([&] { packet_read_poll(&receiver.context, nullptr); });
        });
        EXPECT_EQ(length_failure, mac_failure);
        EXPECT_EQ(log, "");  // nothing of the packet is dumped
    }
}
