#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "packet_test_support.h"
#include "ssh/wire/bufaux.h"

namespace {

unsigned char* U(const std::string& bytes) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
}

struct StateFree {
    void operator()(CipherState* s) const { cipher_state_free(s); }
};
using StatePtr = std::unique_ptr<CipherState, StateFree>;

StatePtr Keyed(const std::string& name, bool encrypt, const std::string& key,
               const std::string& iv) {
    return StatePtr(cipher_state_new(cipher_row_find(name.c_str()), encrypt, U(key),
                                     static_cast<uint32_t>(key.size()), U(iv),
                                     static_cast<uint32_t>(iv.size())));
}

// Bytes received in place into the packet input, with more room reserved
// than they fill: nothing of the room left over may count as received.
void Feed(Endpoint* to, const std::string& bytes, uint32_t spare) {
    const auto n = static_cast<uint32_t>(bytes.size());
    unsigned char* room = packet_input_reserve(&to->context, n + spare);
    std::memset(room, 0xee, n + spare);
    std::memcpy(room, bytes.data(), n);
    packet_input_commit(&to->context, n + spare, n);
}

const std::vector<size_t> kSizes = {0, 1, 2, 3, 10, 11, 15, 16, 57, 255, 1000, 16384};

}  // namespace

using TransportRowsTest = SshTest;

// Sealed and opened; the length is the packet's own, and another sequence
// number or one flipped bit anywhere fails the tag.
TEST_F(TransportRowsTest, AeadKnownAnswers) {
    const auto rows = DataRows("ssh/aead_vectors");
    EXPECT_EQ(rows.size(), 2u);
    for (const auto& row : rows) {
        ASSERT_GE(row.size(), 6u);
        SCOPED_TRACE(row[0]);
        const std::string key = HexBytes(row[1]), iv = row[2] == "-" ? "" : HexBytes(row[2]);
        const auto seqnr = static_cast<uint32_t>(std::stoul(row[3]));
        const std::string packet = HexBytes(row[4]);
        const auto size = static_cast<uint32_t>(packet.size());
        StatePtr sender = Keyed(row[0], true, key, iv), receiver = Keyed(row[0], false, key, iv);
        std::string wire(size + 16, '\0'), clear(size, '\0');
        for (size_t i = 5; i < row.size(); i++) {
            cipher_state_aead_seal(sender.get(), seqnr, U(wire), U(packet), size);
            EXPECT_EQ(Hex(wire), row[i]) << i;
            EXPECT_EQ(cipher_state_aead_length(receiver.get(), seqnr, U(wire)), size - 4);
            ASSERT_TRUE(cipher_state_aead_open(receiver.get(), seqnr, U(clear), U(wire), size));
            EXPECT_EQ(clear, packet);
        }
        const std::string first = HexBytes(row[5]);
        for (size_t i : {size_t{0}, size_t{4}, first.size() - 1, first.size()}) {
            std::string bad = first;
            uint32_t bad_seqnr = seqnr;
            if (i < bad.size()) bad[i] ^= 0x01;
            // chacha takes the number; GCM counts packets itself
            if (i == bad.size() && row[2] != "-") continue;
            if (i == bad.size()) bad_seqnr++;
            StatePtr fresh = Keyed(row[0], false, key, iv);
            EXPECT_FALSE(cipher_state_aead_open(fresh.get(), bad_seqnr, U(clear), U(bad), size))
                << i;
        }
    }
}

// The length decrypted for one packet never stands in for another's: not
// for the packet after or before it, one whose length was never read, nor
// one (number 3) whose length bytes on the wire equal it.
TEST_F(TransportRowsTest, ChachaLengthBelongsToItsOwnPacket) {
    std::string key(64, '\0');
    for (size_t i = 0; i < key.size(); i++) key[i] = static_cast<char>(i * 7 + 1);
    const std::string name = "chacha20-poly1305@openssh.com";
    StatePtr seal = Keyed(name, true, key, ""), open = Keyed(name, false, key, "");
    std::vector<std::string> clear, wire;
    for (uint32_t seqnr = 0; seqnr < 4; seqnr++) {
        std::string packet = BigEndian(16 + seqnr) + std::string(16, static_cast<char>(seqnr));
        std::string sealed(36, '\0');
        cipher_state_aead_seal(seal.get(), seqnr, U(sealed), U(packet), 20);
        for (int i = 0; seqnr == 3 && i < 4; i++) packet[i] ^= sealed[i] ^ wire[0][i];
        cipher_state_aead_seal(seal.get(), seqnr, U(sealed), U(packet), 20);
        clear.push_back(packet);
        wire.push_back(sealed);
    }
    ASSERT_EQ(wire[3].substr(0, 4), wire[0].substr(0, 4));
    const std::pair<int, int> orders[] = {{0, 0}, {2, 1}, {-1, 2}, {1, 0}, {1, 1}, {0, 3}};
    for (auto [length_of, opened] : orders) {
        SCOPED_TRACE(std::to_string(length_of) + " " + std::to_string(opened));
        if (length_of >= 0) {
            EXPECT_EQ(cipher_state_aead_length(open.get(), length_of, U(wire[length_of])),
                      get_u32(U(clear[length_of])));
        }
        std::string out(20, '\0');
        ASSERT_TRUE(cipher_state_aead_open(open.get(), opened, U(out), U(wire[opened]), 20));
        EXPECT_EQ(out, clear[opened]);
    }
}

// Both directions, many sizes, exact wire sizes. The first two packets
// arrive byte by byte (a first block decrypted twice breaks the chain and
// the MAC), the rest at once.
TEST_F(TransportRowsTest, RoundTripsThroughEveryCipherAndMac) {
    const auto rows = DataRows("ssh/packet_rows");
    EXPECT_EQ(rows.size(), 21u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3 + kSizes.size());
        SCOPED_TRACE(row[0] + " " + row[1]);
        Endpoint client(true), server(true);
        Rekey(client, server, row[0], row[1], row[2] == "number");
        for (Endpoint* from : {&client, &server}) {
            Endpoint* to = from == &client ? &server : &client;
            std::string stream;
            for (size_t i = 0; i < kSizes.size(); i++) {
                const std::string payload(kSizes[i], static_cast<char>(kSizes[i]));
                const std::string wire = from->Send(SSH2_MSG_CHANNEL_DATA, payload);
                EXPECT_EQ(wire.size(), std::stoul(row[3 + i])) << kSizes[i];
                EXPECT_TRUE(row[0] == "none" || kSizes[i] < 10 ||
                            wire.find(payload) == std::string::npos);
                stream += wire;
            }
            const size_t first = std::stoul(row[3]), split = first + std::stoul(row[4]);
            for (size_t i = 0; i < split; i++) {
                Feed(to, stream.substr(i, 1), static_cast<uint32_t>(i % 3 * 40));
                EXPECT_TRUE(i + 1 >= first || packet_read_poll(&to->context, nullptr) == 0) << i;
                if (i + 1 != first) continue;
                ASSERT_EQ(packet_read_poll(&to->context, nullptr), SSH2_MSG_CHANNEL_DATA);
                EXPECT_EQ(to->Payload(), "");
            }
            Feed(to, stream.substr(split), 100000);
            for (size_t n : kSizes) {
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

// A bad MAC or tag and a bad length end alike, and only once the amount
// the length claimed has arrived; nothing of the packet is dumped.
TEST_F(TransportRowsTest, BadLengthAndBadMacEndTheSameWay) {
    for (const auto& row : DataRows("ssh/packet_rows")) {
        const CipherRow* cipher = cipher_row_find(row[0].c_str());
        if (row[1] == "-" && (cipher == nullptr || !cipher_row_is_aead(cipher))) continue;
        SCOPED_TRACE(row[0] + " " + row[1]);
        Endpoint client(true), server(true);
        Rekey(client, server, row[0], row[1], row[2] == "number");
        std::string flipped = client.Send(SSH2_MSG_CHANNEL_DATA, std::string(40, 'x'));
        flipped.back() ^= 0x20;
        server.Receive(flipped.substr(0, flipped.size() - 1));
        EXPECT_EQ(packet_read_poll(&server.context, nullptr), 0);
        server.Receive(flipped.substr(flipped.size() - 1));
        EXPECT_EQ(Outcome([&] { packet_read_poll(&server.context, nullptr); }),
                  "! Corrupted HMAC on input.");

        std::string bad = server.Send(SSH2_MSG_CHANNEL_DATA, std::string(40, 'x'));
        bad.replace(0, 4, 4, '\x7f');
        client.Receive(bad);
        EXPECT_EQ(packet_read_poll(&client.context, nullptr), 0);
        client.Receive(std::string(kMaxPacketLength, '\0'));
        EXPECT_EQ(Outcome([&] { packet_read_poll(&client.context, nullptr); }),
                  "! Corrupted HMAC on input.");
    }
}
