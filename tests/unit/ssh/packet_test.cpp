#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "../base/case_file.h"
#include "packet_test_support.h"
#include "ssh/transport/ssh1.h"

namespace {

unsigned char* U(const std::string& bytes) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
}

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
        const std::string outcome = Outcome([&] {
            for (;;) {
                const int type = packet_read(&end.context, nullptr);
                delivered += (delivered.empty() ? "" : " ") + std::to_string(type) + "/" +
                             Hex(end.Payload());
            }
        });
        EXPECT_EQ(delivered, c[3]);
        EXPECT_EQ(std::regex_replace(outcome, std::regex(" at \\S+"), " at X"), c[4]);
    }
}

// Exact wire sizes, no plaintext on the wire, random padding once
// encrypted, and only whole packets from awkward pieces.
TEST_F(PacketTest, Ssh1RoundTripsThroughEveryCipher) {
    std::string key(32, '\0');
    for (size_t i = 0; i < key.size(); i++) key[i] = static_cast<char>(i * 13 + 1);
    for (int number : {SSH_CIPHER_NONE, SSH_CIPHER_3DES, SSH_CIPHER_BLOWFISH}) {
        SCOPED_TRACE(number);
        Endpoint client, server;
        packet_set_encryption_key(&client.context, U(key), 32, number);
        packet_set_encryption_key(&server.context, U(key), 32, number);
        CipherContext reader{};
        cipher_set_key(&reader, number, U(key), 32);
        std::set<std::string> paddings;
        for (size_t n = 0; n < 40; n++) {
            const std::string payload(n, static_cast<char>('a' + n % 26));
            const std::string wire = client.Send(SSH_SMSG_STDOUT_DATA, payload);
            ASSERT_EQ(wire.size(), 4 + ((n + 5 + 8) & ~size_t{7})) << n;
            EXPECT_TRUE(number == SSH_CIPHER_NONE || n < 8 ||
                        wire.find(payload) == std::string::npos);
            std::string plain(wire.size() - 4, '\0');
            cipher_decrypt(&reader, U(plain), U(wire) + 4, static_cast<uint32_t>(plain.size()));
            const size_t padding = 8 - (n + 5) % 8;
            EXPECT_EQ(plain.substr(padding, n + 1), "\x11" + payload);
            if (padding >= 4) paddings.insert(plain.substr(0, 4));
        }
        EXPECT_EQ(paddings.size(), number == SSH_CIPHER_NONE ? 1u : 25u);
        cipher_cleanup(&reader);
        size_t delivered = 0;
        for (size_t at = 0; at < client.sent.size(); at += 13) {
            server.Receive(client.sent.substr(at, 13));
            int length = 0;
            while (const int type = packet_read_poll(&server.context, &length)) {
                EXPECT_EQ(type, SSH_SMSG_STDOUT_DATA);
                EXPECT_EQ(length, static_cast<int>(delivered));
                EXPECT_EQ(server.Payload(),
                          std::string(delivered, static_cast<char>('a' + delivered % 26)));
                delivered++;
            }
        }
        EXPECT_EQ(delivered, 40u);
    }
    Endpoint other;
    EXPECT_EQ(Outcome([&] { packet_set_encryption_key(&other.context, U(key), 19, 3); }),
              "! keylen too small: 19");
    EXPECT_EQ(Outcome([&] { packet_set_encryption_key(&other.context, U(key), 20, 3); }), "");
}

// One SSH-2 connection through its first keys: each direction switches at
// its own NEWKEYS and wipes the keys it took; padding is random once
// encrypted; sequence numbers wrap; the used-up keys serve no second NEWKEYS.
TEST_F(PacketTest, Ssh2KeysSwitchPerDirection) {
    Endpoint client(true), server(true);
    EXPECT_EQ(Outcome([] { Endpoint(true).Send(SSH2_MSG_NEWKEYS, ""); }), "! packet_send2: no KEX");
    packet_set_kex(&client.context, MakeKex(true, "3des-cbc", "hmac-md5", true));
    packet_set_kex(&server.context, MakeKex(false, "3des-cbc", "hmac-md5", true));
    KexResult* keys = client.context.kex;
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    EXPECT_EQ(keys->enc[MODE_OUT].key, nullptr);
    EXPECT_EQ(keys->enc[MODE_OUT].iv, nullptr);
    EXPECT_EQ(keys->mac[MODE_OUT].enabled, 1);
    EXPECT_NE(keys->enc[MODE_IN].key, nullptr);
    EXPECT_EQ(keys->mac[MODE_IN].enabled, 0);
    EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_NEWKEYS);

    KexResult* reader_keys = MakeKex(false, "3des-cbc", "hmac-md5", true);
    CipherContext reader{};
    cipher_set_key_iv(&reader, SSH_CIPHER_3DES_CBC, reader_keys->enc[MODE_IN].key, 24,
                      reader_keys->enc[MODE_IN].iv, 8);
    kex_result_free(reader_keys);
    std::set<std::string> paddings;
    for (int i = 0; i < 6; i++) {
        const std::string wire = client.Send(SSH2_MSG_CHANNEL_DATA, "abc");
        ASSERT_EQ(wire.size(), 16u + 16);
        std::string plain(16, '\0');
        cipher_decrypt(&reader, U(plain), U(wire), 16);
        EXPECT_EQ(Hex(plain.substr(0, 9)), "0000000c075e616263");
        paddings.insert(plain.substr(9));
        server.Receive(wire);
        EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
        EXPECT_EQ(server.Payload(), "abc");
    }
    EXPECT_EQ(paddings.size(), 6u);

    client.context.send_seqnr = 0xffffffffu;
    server.context.read_seqnr = 0xffffffffu;
    EXPECT_EQ(StderrOf([&] {
                  server.Receive(client.Send(SSH2_MSG_CHANNEL_DATA, "last"));
                  server.Receive(client.Send(SSH2_MSG_CHANNEL_DATA, "first"));
              }),
              "outgoing seqnr wraps around\r\n");
    std::string payloads;
    EXPECT_EQ(StderrOf([&] {
                  while (packet_read_poll(&server.context, nullptr) != 0)
                      payloads += server.Payload() + ",";
              }),
              "incoming seqnr wraps around\r\n");
    EXPECT_EQ(payloads, "last,first,");
    EXPECT_EQ(client.context.send_seqnr, 1u);
    EXPECT_EQ(server.context.read_seqnr, 1u);

    EXPECT_EQ(Outcome([&] { client.Send(SSH2_MSG_NEWKEYS, ""); }), "! packet_send2: no KEX");
    packet_write_wait(&client.context);  // the packet itself was queued
    server.Receive(client.sent.substr(client.sent.size() - 32));
    EXPECT_EQ(Outcome([&] { packet_read_poll(&server.context, nullptr); }),
              "! packet_read_poll2: no KEX");
    cipher_cleanup(&reader);
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
    KexResult* second = MakeKex(true, "3des-cbc", "hmac-md5", true);
    EXPECT_EQ(Outcome([&] { packet_set_kex(&client.context, second); }), "! bad KEX");
}

TEST_F(PacketTest, NegotiatedCompressionIsStartedAndUsed) {
    Endpoint client(true), server(true);
    Rekey(client, server, "blowfish-cbc", "hmac-sha1", true, COMP_ZLIB);
    EXPECT_EQ(client.context.compression_started, 1);
    const std::string text(3000, 'z');
    for (int i = 0; i < 3; i++) {
        const std::string wire = client.Send(SSH2_MSG_CHANNEL_DATA, text);
        EXPECT_LT(wire.size(), 200u);
        server.Receive(wire);
        EXPECT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
        EXPECT_EQ(server.Payload(), text);
    }
    server.Receive(client.Send(SSH2_MSG_CHANNEL_EOF, ""));
    int length = -1;
    EXPECT_EQ(packet_read_poll(&server.context, &length), SSH2_MSG_CHANNEL_EOF);
    EXPECT_EQ(length, 0);
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
    PacketContext bare{};
    packet_start(&bare, SSH_CMSG_EOF);
    packet_send(&bare);
    EXPECT_EQ(Outcome([&] { packet_write_wait(&bare); }),
              "! packet_write_poll: no write hook installed");
    EXPECT_EQ(Outcome([&] { packet_read(&bare, nullptr); }),
              "! packet_read: no read hook installed");
    packet_free(&bare);
}
