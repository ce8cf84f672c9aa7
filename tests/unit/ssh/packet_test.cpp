#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../base/case_file.h"
#include "packet_test_support.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/bufaux.h"

namespace {

struct StateFree {
    void operator()(CipherState* s) const { cipher_state_free(s); }
};
using StatePtr = std::unique_ptr<CipherState, StateFree>;

StatePtr Keyed(const std::string& name, bool encrypt, const std::string& key,
               const std::string& iv) {
    return StatePtr(cipher_state_new(cipher_row_find(name.c_str()), encrypt, UBytes(key),
                                     static_cast<uint32_t>(key.size()), UBytes(iv),
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

using PacketTest = SshTest;

TEST_F(PacketTest, HandFramedPackets) {
    log_set_level(SYSLOG_LEVEL_DEBUG);
    for (const TCase& c : ReadCases("ssh/frames")) {
        SCOPED_TRACE(c.where);
        Endpoint end(c[1] == "2");
        if (c[0] == "send") {
            EXPECT_EQ(Hex(end.Send(static_cast<int>(Num(c[2])), HexBytes(c[3]))), c[4]);
            continue;
        }
        end.to_read = HexBytes(c[2]);
        end.read_chunk = 1;
        std::string delivered;
        std::string outcome = Outcome([&] {
            for (;;) {
                const int type = packet_read(&end.context, nullptr);
                delivered += (delivered.empty() ? "" : " ") + std::to_string(type) + "/" +
                             Hex(end.Payload());
            }
        });
        EXPECT_EQ(delivered, c[3]);
        const size_t at = outcome.find(" at ");  // a source position
        if (at != std::string::npos) outcome.replace(at + 4, outcome.find('\r', at) - at - 4, "X");
        EXPECT_EQ(outcome, c[4]);
    }
}

// Exact wire sizes, no plaintext on the wire; equal keys and payloads tell
// first packets apart only by random padding, which needs a cipher.
TEST_F(PacketTest, Ssh1RoundTripsThroughEveryCipher) {
    const std::string key = "an SSH-1 session key of 32 bytes";
    for (int number : {SSH_CIPHER_NONE, SSH_CIPHER_3DES, SSH_CIPHER_BLOWFISH}) {
        SCOPED_TRACE(number);
        Endpoint client, server, twin;
        for (Endpoint* end : {&client, &server, &twin})
            packet_set_encryption_key(&end->context, UBytes(key), 32, number);
        EXPECT_EQ(client.Send(SSH_SMSG_STDOUT_DATA, "") == twin.Send(SSH_SMSG_STDOUT_DATA, ""),
                  number == SSH_CIPHER_NONE);
        for (size_t n = 1; n < 40; n++) {
            const std::string payload(n, static_cast<char>('a' + n % 26));
            const std::string wire = client.Send(SSH_SMSG_STDOUT_DATA, payload);
            ASSERT_EQ(wire.size(), 4 + ((n + 5 + 8) & ~size_t{7})) << n;
            EXPECT_TRUE(number == SSH_CIPHER_NONE || n < 8 ||
                        wire.find(payload) == std::string::npos);
        }
        server.Receive(client.sent);
        for (size_t n = 0; n < 40; n++) {
            ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH_SMSG_STDOUT_DATA);
            EXPECT_EQ(server.Payload(), std::string(n, static_cast<char>('a' + n % 26)));
        }
    }
    Endpoint other;
    EXPECT_EQ(Outcome([&] { packet_set_encryption_key(&other.context, UBytes(key), 19, 3); }),
              "! keylen too small: 19");
    EXPECT_EQ(Outcome([&] { packet_set_encryption_key(&other.context, UBytes(key), 20, 3); }), "");
}

// One SSH-2 connection through its first keys: each direction switches at
// its own NEWKEYS and wipes the keys it took; padding is random once
// encrypted; sequence numbers wrap; the used-up keys serve no second NEWKEYS.
TEST_F(PacketTest, Ssh2KeysSwitchPerDirection) {
    EXPECT_EQ(Outcome([] { Endpoint(true).Send(SSH2_MSG_NEWKEYS, ""); }), "! packet_send2: no KEX");
    Endpoint client(true), server(true), twin(true);
    packet_set_kex(&client.context, MakeKex(true, "3des-cbc", "hmac-md5", true));
    packet_set_kex(&twin.context, MakeKex(true, "3des-cbc", "hmac-md5", true));
    packet_set_kex(&server.context, MakeKex(false, "3des-cbc", "hmac-md5", true));
    KexResult* keys = client.context.kex;
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    EXPECT_EQ(keys->enc[MODE_OUT].key, nullptr);
    EXPECT_EQ(keys->mac[MODE_OUT].enabled, 1);
    EXPECT_NE(keys->enc[MODE_IN].key, nullptr);
    EXPECT_EQ(keys->mac[MODE_IN].enabled, 0);
    EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_NEWKEYS);
    twin.Send(SSH2_MSG_NEWKEYS, "");
    const std::string wire = client.Send(SSH2_MSG_CHANNEL_DATA, "abc");
    EXPECT_NE(wire, twin.Send(SSH2_MSG_CHANNEL_DATA, "abc"));
    server.Receive(wire);
    EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
    EXPECT_EQ(server.Payload(), "abc");

    client.context.send_seqnr = server.context.read_seqnr = 0xffffffffu;
    EXPECT_EQ(StderrOf([&] {
                  server.Receive(client.Send(SSH2_MSG_CHANNEL_DATA, "last"));
                  EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
              }),
              "outgoing seqnr wraps around\r\nincoming seqnr wraps around\r\n");
    EXPECT_EQ(server.Payload(), "last");
    // The next packet goes and is checked with number 0.
    EXPECT_EQ(Outcome([&] { client.Send(SSH2_MSG_NEWKEYS, ""); }), "! packet_send2: no KEX");
    packet_write_wait(&client.context);  // the packet itself was queued
    server.Receive(client.sent.substr(client.sent.size() - 32));
    EXPECT_EQ(Outcome([&] { packet_read_poll(&server.context, nullptr); }),
              "! packet_read_poll2: no KEX");
}

TEST_F(PacketTest, IncompleteKeyExchangeResultsAreRefused) {
    const std::vector<std::function<void(KexResult*)>> faults = {
        [](KexResult* kex) { xfree(std::exchange(kex->mac[MODE_IN].key, nullptr)); },
        [](KexResult* kex) { xfree(std::exchange(kex->enc[MODE_OUT].iv, nullptr)); },
        [](KexResult* kex) { kex->enc[MODE_IN].block_size = 12; },
        [](KexResult* kex) { kex->mac[MODE_OUT].mac_len = 20; },  // more than MD5 holds
        [](KexResult* kex) { kex->enc[MODE_OUT].key_len = kex->need + 1; },
    };
    Endpoint client(true);
    for (const auto& fault : faults) {
        KexResult* kex = MakeKex(true, "3des-cbc", "hmac-md5", true);
        fault(kex);
        EXPECT_EQ(Outcome([&] { packet_set_kex(&client.context, kex); }), "! bad KEX");
        EXPECT_EQ(client.context.kex, nullptr);
    }
    packet_set_kex(&client.context, MakeKex(true, "3des-cbc", "hmac-md5", true));
    KexResult* waiting = MakeKex(true, "3des-cbc", "hmac-md5", true);  // the first awaits NEWKEYS
    EXPECT_EQ(Outcome([&] { packet_set_kex(&client.context, waiting); }), "! bad KEX");
}

// Each packet decompresses on arrival (a partial flush after each), the
// dictionary carries over, output of several steps arrives in order.
TEST_F(PacketTest, NegotiatedCompressionIsStartedAndUsed) {
    Endpoint client(true), server(true);
    Rekey(client, server, "blowfish-cbc", "hmac-sha1", true, COMP_ZLIB);
    EXPECT_EQ(client.context.compression_started, 1);
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = static_cast<char>((i * i * 2654435761u) >> 13);
    const std::string line = "The quick brown fox jumps over the lazy dog again and again.";
    std::vector<size_t> sizes;
    for (const std::string& text : {line, line, std::string(), noise}) {
        const std::string wire = client.Send(SSH2_MSG_CHANNEL_DATA, text);
        sizes.push_back(wire.size());
        server.Receive(wire);
        EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
        EXPECT_EQ(server.Payload(), text);
    }
    EXPECT_LT(sizes[1], sizes[0] - 20);
    EXPECT_GT(sizes[3], 4096u * 4);  // several steps of compressed output
}

TEST_F(PacketTest, MisuseAndReadFailuresAreFatal) {
    Endpoint end;
    end.to_read = HexBytes("000000050000000f90bf1d91");  // FAILURE, not SUCCESS
    EXPECT_EQ(Outcome([&] { packet_read_expect(&end.context, nullptr, SSH_SMSG_SUCCESS); }),
              "! Protocol error: expected packet type 14, got 15");
    end.read_error = ECONNRESET;
    EXPECT_EQ(Outcome([&] { packet_read(&end.context, nullptr); }),
              std::string("! Read from socket failed: ") + std::strerror(ECONNRESET));
    EXPECT_EQ(Outcome([&] { packet_send(&end.context); }), "! packet_send: no packet started");
    packet_input_reserve(&end.context, 10);
    EXPECT_EQ(Outcome([&] { packet_input_commit(&end.context, 10, 11); }),
              "! packet_input_commit: 11 bytes used of 10");
}

// Known answers sealed and opened, the length read on its own (a bad tag is
// refused in BadLengthAndBadMacEndTheSameWay).
TEST_F(PacketTest, AeadKnownAnswersAndLengths) {
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
            cipher_state_aead_seal(sender.get(), seqnr, UBytes(wire), UBytes(packet), size);
            EXPECT_EQ(Hex(wire), row[i]) << i;
            EXPECT_EQ(cipher_state_aead_length(receiver.get(), seqnr, UBytes(wire)), size - 4);
            ASSERT_TRUE(
                cipher_state_aead_open(receiver.get(), seqnr, UBytes(clear), UBytes(wire), size));
            EXPECT_EQ(clear, packet);
        }
    }

    // The length decrypted for one chacha packet never stands in for
    // another's: not for the packet after or before it, one whose length was
    // never read, nor one (number 3) whose length bytes on the wire equal it.
    const std::string key(64, '\x3c'), name = "chacha20-poly1305@openssh.com";
    StatePtr seal = Keyed(name, true, key, ""), open = Keyed(name, false, key, "");
    std::vector<std::string> clear, wire;
    for (uint32_t seqnr = 0; seqnr < 4; seqnr++) {
        std::string packet = BigEndian(16 + seqnr) + std::string(16, static_cast<char>(seqnr));
        std::string sealed(36, '\0');
        cipher_state_aead_seal(seal.get(), seqnr, UBytes(sealed), UBytes(packet), 20);
        for (int i = 0; seqnr == 3 && i < 4; i++) packet[i] ^= sealed[i] ^ wire[0][i];
        cipher_state_aead_seal(seal.get(), seqnr, UBytes(sealed), UBytes(packet), 20);
        clear.push_back(packet);
        wire.push_back(sealed);
    }
    const std::pair<int, int> orders[] = {{0, 0}, {2, 1}, {-1, 2}, {1, 0}, {1, 1}, {0, 3}};
    for (auto [length_of, opened] : orders) {
        if (length_of >= 0) {
            EXPECT_EQ(cipher_state_aead_length(open.get(), length_of, UBytes(wire[length_of])),
                      get_u32(UBytes(clear[length_of])));
        }
        std::string out(20, '\0');
        ASSERT_TRUE(
            cipher_state_aead_open(open.get(), opened, UBytes(out), UBytes(wire[opened]), 20));
        EXPECT_EQ(out, clear[opened]) << length_of << " " << opened;
    }
}

// Both directions, many sizes, exact wire sizes. The first two packets
// arrive byte by byte (a first block decrypted twice breaks the chain and
// the MAC), the rest at once.
TEST_F(PacketTest, RoundTripsThroughEveryCipherAndMac) {
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
TEST_F(PacketTest, BadLengthAndBadMacEndTheSameWay) {
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
