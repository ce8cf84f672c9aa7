// Tests that run threads; CI runs this executable under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "packet_test_support.h"
#include "ssh/wire/random.h"

// Under a race the shared state would be corrupted or handed out twice;
// 100000 RC4 words hold only a handful of chance repeats.
TEST(Threads, RandomWordsAndFatalHooksArePerProcessAndPerThread) {
    constexpr int kDraws = 50000;
    std::vector<uint32_t> a(kDraws), b(kDraws);
    std::string first_text, second_text;
    std::thread first([&] {
        fatal_set_hook([](const char* text) { throw std::string(text); });
        for (uint32_t& word : a) word = random_word();
        try {
            fatal("first %d", 1);
        } catch (const std::string& text) {
            first_text = text;
        }
    });
    std::thread second([&] {
        for (uint32_t& word : b) word = random_word();
        random_stir();
        second_text = FatalMessage([] { fatal("second %d", 2); });  // no hook here
    });
    first.join();
    second.join();
    std::set<uint32_t> distinct(a.begin(), a.end());
    distinct.insert(b.begin(), b.end());
    EXPECT_GT(distinct.size(), 2u * kDraws - 50);
    EXPECT_EQ(first_text, "first 1");
    EXPECT_EQ(second_text, "second 2");
}

// The input thread sends on a connection while its session thread reads from
// it: the two paths of one context must share no unguarded state. The hooks
// touch disjoint members: `sent` for writing, `to_read` for reading.
TEST(Threads, SendingAndReceivingOnOneContextAtOnce) {
    constexpr int kPackets = 300;
    Endpoint client(true), server(true);
    packet_set_kex(&client.context, MakeKex(true, "blowfish-cbc", "hmac-sha1", true));
    packet_set_kex(&server.context, MakeKex(false, "blowfish-cbc", "hmac-sha1", true));
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    client.sent.clear();
    ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_NEWKEYS);
    client.to_read = server.Send(SSH2_MSG_NEWKEYS, "");
    for (int i = 0; i < kPackets; i++)
        client.to_read += server.Send(SSH2_MSG_CHANNEL_DATA, "down " + std::to_string(i));
    client.read_chunk = 100;  // several hook calls per packet

    std::string received;
    std::thread reader([&] {
        fatal_set_hook(RaisingFatalHook);
        try {
            for (int i = 0; i <= kPackets; i++) {
                received += std::to_string(packet_read(&client.context, nullptr));
                received += " " + client.Payload() + ",";
            }
        } catch (const TException& e) {
            received += e.Message();
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < kPackets; i++)
            SendPacket(&client.context, SSH2_MSG_CHANNEL_DATA, "up " + std::to_string(i));
    });
    reader.join();
    writer.join();
    std::string expected = "21 ,";
    for (int i = 0; i < kPackets; i++) expected += "94 down " + std::to_string(i) + ",";
    EXPECT_EQ(received, expected);

    server.Receive(client.sent);
    for (int i = 0; i < kPackets; i++) {
        ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
        EXPECT_EQ(server.Payload(), "up " + std::to_string(i));
    }
}
