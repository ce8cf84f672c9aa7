// Tests that run threads; CI runs this executable under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/exception.h"
#include "packet_test_support.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/log.h"
#include "ssh/wire/random.h"

TEST(RandomThreads, TwoThreadsDrawWithoutRacing) {
    constexpr int kDraws = 50000;
    std::vector<uint32_t> a(kDraws), b(kDraws);
    std::thread first([&] {
        for (uint32_t& word : a) word = random_word();
    });
    std::thread second([&] {
        for (uint32_t& word : b) word = random_word();
        random_stir();
    });
    first.join();
    second.join();
    // Under a race the shared state would be corrupted or handed out twice;
    // 100000 RC4 words should hold only a handful of chance repeats.
    std::set<uint32_t> distinct(a.begin(), a.end());
    distinct.insert(b.begin(), b.end());
    EXPECT_GT(distinct.size(), 2u * kDraws - 50);
}

namespace {
struct FirstThreadFailure {
    std::string text;
};
void FirstThreadHook(const char* text) {
    throw FirstThreadFailure{text};
}
}  // namespace

TEST(FatalHookThreads, EachThreadHasItsOwnHook) {
    std::string seen_first, seen_second;
    std::thread first([&] {
        fatal_set_hook(FirstThreadHook);
        try {
            fatal("first %d", 1);
        } catch (const FirstThreadFailure& failure) {
            seen_first = failure.text;
        }
    });
    first.join();
    std::thread second([&] {
        // No hook installed here: the plain TException path.
        try {
            fatal("second %d", 2);
        } catch (const TException& e) {
            seen_second = e.Message();
        }
    });
    second.join();
    EXPECT_EQ(seen_first, "first 1");
    EXPECT_EQ(seen_second, "second 2");
}

// The input thread sends on a connection while its session thread reads from
// it: the two paths of one context must share no unguarded state.
TEST(PacketThreads, SendingAndReceivingOnOneContextAtOnce) {
    fatal_set_hook(RaisingFatalHook);
    constexpr int kPackets = 300;
    Endpoint client(true), server(true);
    packet_set_kex(&client.context, MakeKex(true, SSH_CIPHER_BLOWFISH_CBC, EVP_sha1()));
    packet_set_kex(&server.context, MakeKex(false, SSH_CIPHER_BLOWFISH_CBC, EVP_sha1()));
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    client.sent.clear();
    ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_NEWKEYS);
    client.to_read = server.Send(SSH2_MSG_NEWKEYS, "");
    for (int i = 0; i < kPackets; i++)
        client.to_read += server.Send(SSH2_MSG_CHANNEL_DATA, "down " + std::to_string(i));
    client.read_chunk = 100;  // several hook calls per packet

    // The hooks touch disjoint members: `sent` for writing, `to_read` for reading.
    std::string received_error;
    int received = 0;
    std::thread reader([&] {
        fatal_set_hook(RaisingFatalHook);
        try {
            EXPECT_EQ(packet_read(&client.context, nullptr), SSH2_MSG_NEWKEYS);
            for (; received < kPackets; received++) {
                EXPECT_EQ(packet_read(&client.context, nullptr), SSH2_MSG_CHANNEL_DATA);
                EXPECT_EQ(client.Payload(), "down " + std::to_string(received));
            }
        } catch (const TException& e) {
            received_error = e.Message();
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < kPackets; i++)
            SendPacket(&client.context, SSH2_MSG_CHANNEL_DATA,
                       SshString("up " + std::to_string(i)));
    });
    reader.join();
    writer.join();
    EXPECT_EQ(received_error, "");
    EXPECT_EQ(received, kPackets);

    server.Receive(client.sent);
    for (int i = 0; i < kPackets; i++) {
        ASSERT_EQ(packet_read_poll(&server.context, nullptr), SSH2_MSG_CHANNEL_DATA);
        uint32_t length = 0;
        XmallocPtr<char> text(static_cast<char*>(packet_get_string(&server.context, &length)));
        EXPECT_EQ(std::string(text.get(), length), "up " + std::to_string(i));
    }
    fatal_set_hook(nullptr);
}
