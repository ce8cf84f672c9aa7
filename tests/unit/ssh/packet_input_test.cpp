// Received bytes written in place into the packet input, and the
// chacha20-poly1305 length that the receive side decrypts only once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "packet_test_support.h"
#include "ssh/transport/cipher_table.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"

namespace {

// A packet arriving in pieces through reserve/commit, with more room
// reserved than each piece uses, reads back whole; nothing of the unused
// room is taken as data.
TEST(PacketInputTest, ReservedRoomKeepsOnlyWhatWasUsed) {
    struct Case {
        uint32_t reserve;
        uint32_t piece;
    };
    const std::vector<Case> cases = {{1, 1}, {64, 7}, {8192, 100}, {100000, 4096}};
    for (const Case& c : cases) {
        Endpoint sender(true), receiver(true);
        const std::string wire = sender.Send(SSH2_MSG_CHANNEL_DATA, std::string(3000, 'x')) +
                                 sender.Send(SSH2_MSG_CHANNEL_EXTENDED_DATA, "tail");
        size_t at = 0;
        int type = 0;
        while (type == 0 && at < wire.size()) {
            const auto used = static_cast<uint32_t>(std::min<size_t>(c.piece, wire.size() - at));
            unsigned char* room = packet_input_reserve(&receiver.context, c.reserve);
            std::memset(room, 0xee, c.reserve);
            std::memcpy(room, wire.data() + at, used);
            packet_input_commit(&receiver.context, c.reserve, used);
            at += used;
            type = packet_read_poll(&receiver.context, nullptr);
        }
        EXPECT_EQ(SSH2_MSG_CHANNEL_DATA, type) << c.reserve << "/" << c.piece;
        EXPECT_EQ(std::string(3000, 'x'), receiver.Payload());
        while (at < wire.size()) {
            const auto used = static_cast<uint32_t>(std::min<size_t>(c.piece, wire.size() - at));
            std::memcpy(packet_input_reserve(&receiver.context, used), wire.data() + at, used);
            packet_input_commit(&receiver.context, used, used);
            at += used;
        }
        EXPECT_EQ(SSH2_MSG_CHANNEL_EXTENDED_DATA, packet_read_poll(&receiver.context, nullptr));
        EXPECT_EQ("tail", receiver.Payload());
        EXPECT_EQ(0, packet_read_poll(&receiver.context, nullptr));
    }
}

TEST(PacketInputTest, UsingMoreThanReservedIsFatal) {
    Endpoint receiver(true);
    packet_input_reserve(&receiver.context, 10);
    EXPECT_ANY_THROW(packet_input_commit(&receiver.context, 10, 11));
}

// The length decrypted for one packet never stands in for another's: the
// clear length bytes of a packet opened right after, before or without
// reading its own length are its own.
TEST(PacketInputTest, ChachaLengthBelongsToItsOwnPacket) {
    const CipherRow* row = cipher_row_find("chacha20-poly1305@openssh.com");
    ASSERT_NE(nullptr, row);
    std::vector<unsigned char> key(64);
    for (size_t i = 0; i < key.size(); i++) key[i] = static_cast<unsigned char>(i * 7 + 1);
    CipherState* seal = cipher_state_new(row, true, key.data(), 64, nullptr, 0);
    CipherState* open = cipher_state_new(row, false, key.data(), 64, nullptr, 0);
    struct Packet {
        std::vector<unsigned char> clear, wire;
    };
    std::vector<Packet> packets;
    for (uint32_t seqnr = 0; seqnr < 3; seqnr++) {
        Packet p;
        p.clear.assign(4 + 16, static_cast<unsigned char>(seqnr));
        put_u32(p.clear.data(), 16 + seqnr);
        p.wire.resize(p.clear.size() + 16);
        cipher_state_aead_seal(seal, seqnr, p.wire.data(), p.clear.data(), 20);
        packets.push_back(p);
    }
    // (length read for packet, packet opened)
    const std::vector<std::pair<int, int>> orders = {{0, 0}, {2, 1}, {-1, 2}, {1, 0}, {1, 1}};
    for (auto [length_of, opened] : orders) {
        if (length_of >= 0) {
            EXPECT_EQ(16u + length_of,
                      cipher_state_aead_length(open, static_cast<uint32_t>(length_of),
                                               packets[length_of].wire.data()));
        }
        std::vector<unsigned char> out(20 + 16);
        ASSERT_TRUE(cipher_state_aead_open(open, static_cast<uint32_t>(opened), out.data(),
                                           packets[opened].wire.data(), 20));
        EXPECT_EQ(packets[opened].clear, std::vector<unsigned char>(out.begin(), out.begin() + 20))
            << length_of << " " << opened;
    }
    // Length bytes equal to those of the packet whose length was just read
    // still decrypt under their own sequence number.
    Packet twin;
    twin.clear.assign(20, 7);
    twin.wire.resize(36);
    cipher_state_aead_seal(seal, 3, twin.wire.data(), twin.clear.data(), 20);
    for (int i = 0; i < 4; i++) twin.clear[i] ^= twin.wire[i] ^ packets[0].wire[i];
    cipher_state_aead_seal(seal, 3, twin.wire.data(), twin.clear.data(), 20);
    ASSERT_EQ(0, std::memcmp(twin.wire.data(), packets[0].wire.data(), 4));
    cipher_state_aead_length(open, 0, packets[0].wire.data());
    std::vector<unsigned char> out(20);
    ASSERT_TRUE(cipher_state_aead_open(open, 3, out.data(), twin.wire.data(), 20));
    EXPECT_EQ(twin.clear, out);
    cipher_state_free(seal);
    cipher_state_free(open);
}

}  // namespace
