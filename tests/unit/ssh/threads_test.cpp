// Tests that run threads; CI runs this executable under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "packet_test_support.h"
#include "ssh/wire/random.h"

// Under a race the shared state would be corrupted or handed out twice;
// 100000 RC4 words hold only a handful of chance repeats. Each thread has
// its own fatal hook.
TEST(Threads, RandomWordsAreSharedAndFatalHooksAreNot) {
    std::vector<uint32_t> a(50000), b(50000);
    std::thread first([&] {
        fatal_set_hook([](const char* text) { throw std::string(text); });
        for (uint32_t& word : a) word = random_word();
        EXPECT_THROW(fatal("first"), std::string);
    });
    std::thread second([&] {
        for (uint32_t& word : b) word = random_word();
        random_stir();
        EXPECT_EQ(FatalMessage([] { fatal("second %d", 2); }), "second 2");
    });
    first.join();
    second.join();
    std::set<uint32_t> distinct(a.begin(), a.end());
    distinct.insert(b.begin(), b.end());
    EXPECT_GT(distinct.size(), 99950u);
}

// The input thread sends on a connection while its session thread reads from
// it: the two paths of one context must share no unguarded state. The hooks
// touch disjoint members: `sent` for writing, `to_read` for reading.
TEST(Threads, SendingAndReceivingOnOneContextAtOnce) {
    Endpoint client(true), server(true);
    Rekey(client, server, "blowfish-cbc", "hmac-sha1", true);
    client.sent.clear();
    std::string expected;
    for (int i = 0; i < 300; i++) {
        client.to_read += server.Send(SSH2_MSG_CHANNEL_DATA, "down " + std::to_string(i));
        expected += "94 down " + std::to_string(i) + ",";
    }
    client.read_chunk = 100;  // several hook calls per packet
    std::string received;
    std::thread reader([&] {
        fatal_set_hook(RaisingFatalHook);
        try {
            for (int i = 0; i < 300; i++) {
                received += std::to_string(packet_read(&client.context, nullptr));
                received += " " + client.Payload() + ",";
            }
        } catch (const TException& e) {
            received += e.Message();
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < 300; i++)
            SendPacket(&client.context, SSH2_MSG_CHANNEL_DATA, "up " + std::to_string(i));
    });
    reader.join();
    writer.join();
    EXPECT_EQ(received, expected);
    server.Receive(client.sent);
    for (int i = 0; i < 300; i++) {
        ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
        EXPECT_EQ(server.Payload(), "up " + std::to_string(i));
    }
}
