// The session channel: opening it, the pseudo-terminal request, and the
// read path with its window rule, channel checks and the answers to what a
// real server sends unasked.
#include "ssh/connection/ssh2_channel.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/xmalloc.h"
#include "ssh2_test_support.h"

namespace {

class ChannelTest : public Ssh2Test {
  protected:
    ChannelTest() {
        channel_.remote_id = 7;
        channel_.remote_max_packet = 32768;
    }
    PacketContext* Client() { return link_.Client(); }
    PacketContext* Server() { return link_.Server(); }
    void ServerSends(int type, const Bytes& payload = "") { link_.ServerSends(type, payload); }
    // The next message the client sent, as its type and payload.
    std::pair<int, Bytes> ClientSent() {
        if (!link_.ServerHasMessage()) return {0, ""};
        int length = 0;
        const int type = packet_read(Server(), &length);
        int n = 0;
        unsigned char* bytes = packet_get_raw(Server(), &n);
        Bytes payload(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
        buffer_consume(&link_.server.context.incoming_packet, static_cast<uint32_t>(n));
        return {type, payload};
    }
    Bytes Read(unsigned size = 32768) {
        char buffer[32768];
        closed_ = false;
        const int n = ssh2_channel_read(Client(), &channel_, &lock_, buffer, size, &closed_);
        return Bytes(buffer, static_cast<size_t>(n));
    }
    Bytes Data(const Bytes& bytes) { return U32(0) + Str(bytes); }

    Link link_;
    TCriticalSection lock_;
    Ssh2Channel channel_;
    bool closed_ = false;
};

TEST_F(ChannelTest, LoginSequenceSurvivesWhatOpensshSendsFirst) {
    // OpenSSH sends hostkeys-00@openssh.com unasked after authentication,
    // opens the channel with window 0, then adjusts it before answering the
    // pseudo-terminal request.
    ServerSends(SSH2_MSG_GLOBAL_REQUEST,
                Str("hostkeys-00@openssh.com") + Bytes(1, '\0') + Str("k"));
    ServerSends(SSH2_MSG_GLOBAL_REQUEST, Str("keepalive@example.org") + "\x01");
    ServerSends(SSH2_MSG_CHANNEL_OPEN_CONFIRMATION, U32(0) + U32(42) + U32(0) + U32(32768));
    ServerSends(SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(0) + U32(2097152));
    ServerSends(SSH2_MSG_CHANNEL_SUCCESS, U32(0));

    Ssh2Channel channel{};
    ssh2_channel_open(Client(), &channel, &lock_);
    EXPECT_EQ(42u, channel.remote_id);
    EXPECT_EQ(0u, channel.local_id);
    ssh2_channel_request_pty(Client(), &channel, &lock_, "cons25r", 80, 25);
    ssh2_channel_request_shell(Client(), &channel, &lock_);

    auto [type, payload] = ClientSent();
    EXPECT_EQ(SSH2_MSG_CHANNEL_OPEN, type);
    EXPECT_EQ(Str("session") + U32(0) + U32(1024 * 1024) + U32(16384), payload);
    std::tie(type, payload) = ClientSent();
    // Only the request that wanted an answer is refused.
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, type);
    EXPECT_EQ("", payload);
    std::tie(type, payload) = ClientSent();
    EXPECT_EQ(SSH2_MSG_CHANNEL_REQUEST, type);
    EXPECT_EQ(U32(42) + Str("pty-req") + "\x01" + Str("cons25r") + U32(80) + U32(25) + U32(0) +
                  U32(0) + Str(""),
              payload);
    std::tie(type, payload) = ClientSent();
    EXPECT_EQ(SSH2_MSG_CHANNEL_REQUEST, type);
    EXPECT_EQ(U32(42) + Str("shell") + Bytes(1, '\0'), payload);
    EXPECT_EQ(0, ClientSent().first);
}

TEST_F(ChannelTest, LoginRefusals) {
    Ssh2Channel channel{};
    ServerSends(SSH2_MSG_CHANNEL_OPEN_FAILURE, U32(0) + U32(1) + Str("no") + Str(""));
    EXPECT_EQ("TSSH2Connection::Login. Unable to open channel. Packet type = 92.",
              FatalMessage([&] { ssh2_channel_open(Client(), &channel, &lock_); }));
    ServerSends(SSH2_MSG_CHANNEL_FAILURE, U32(0));
    EXPECT_EQ("TSSH2Connection::Login. Unable to request pseudo-terminal. Packet type = 100.",
              FatalMessage(
                  [&] { ssh2_channel_request_pty(Client(), &channel, &lock_, "vt100", 80, 25); }));
}

TEST_F(ChannelTest, WindowIsReopenedAfterMoreThanHalfIsConsumed) {
    constexpr uint32_t kHalf = kChannelWindowSize / 2;
    constexpr uint32_t kPacket = 16384;
    static_assert(kHalf % kPacket == 0);
    for (uint32_t sent = 0; sent < kHalf; sent += kPacket)
        ServerSends(SSH2_MSG_CHANNEL_DATA, Data(Bytes(kPacket, 'a')));
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data("b"));
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data("c"));
    for (uint32_t read = 0; read < kHalf; read += kPacket) ASSERT_EQ(kPacket, Read().size());
    EXPECT_EQ("b", Read());  // exactly half consumed: no adjustment yet
    EXPECT_EQ(0, ClientSent().first);
    EXPECT_EQ("c", Read());  // half + 1 consumed before this read
    auto [type, payload] = ClientSent();
    EXPECT_EQ(SSH2_MSG_CHANNEL_WINDOW_ADJUST, type);
    // Exactly what was consumed, not a fixed step.
    EXPECT_EQ(U32(7) + U32(kHalf + 1), payload);
    EXPECT_EQ(1u, channel_.consumed);
}

TEST_F(ChannelTest, HousekeepingMessagesAreDroppedOrAnswered) {
    ServerSends(SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(0) + U32(100));
    ServerSends(SSH2_MSG_GLOBAL_REQUEST, Str("keepalive@openssh.com") + "\x01");
    ServerSends(SSH2_MSG_CHANNEL_REQUEST, U32(0) + Str("keepalive@openssh.com") + "\x01");
    ServerSends(SSH2_MSG_CHANNEL_REQUEST, U32(0) + Str("exit-status") + Bytes(1, '\0') + U32(0));
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data(""));  // nothing to deliver: not a close
    ServerSends(SSH2_MSG_CHANNEL_EOF, U32(0));
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data("tail"));
    ServerSends(SSH2_MSG_CHANNEL_CLOSE, U32(0));

    EXPECT_EQ("tail", Read());
    EXPECT_FALSE(closed_);
    EXPECT_EQ("", Read());
    EXPECT_TRUE(closed_);

    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, ClientSent().first);
    auto [type, payload] = ClientSent();
    EXPECT_EQ(SSH2_MSG_CHANNEL_FAILURE, type);
    EXPECT_EQ(U32(7), payload);
    // No reply to exit-status; the close is answered with a close.
    std::tie(type, payload) = ClientSent();
    EXPECT_EQ(SSH2_MSG_CHANNEL_CLOSE, type);
    EXPECT_EQ(U32(7), payload);
    EXPECT_EQ(0, ClientSent().first);
}

TEST_F(ChannelTest, ReadFailures) {
    ServerSends(SSH2_MSG_CHANNEL_DATA, U32(3) + Str("x"));
    EXPECT_EQ("TSSH2Connection::GetBuffer. Channel 0 expected, but 3 found.",
              FatalMessage([&] { Read(); }));
    // The server went away: the packet layer's message.
    EXPECT_EQ("Connection closed by XXX", FatalMessage([&] { Read(); }));
}

TEST_F(ChannelTest, WritesAreSplitToTheServersPacketSize) {
    channel_.remote_max_packet = 1000;
    channel_.gate.SetWindow(UINT32_MAX);
    const Bytes text(2500, 'z');
    ssh2_channel_write(Client(), &channel_, &lock_, text.data(),
                       static_cast<unsigned>(text.size()));
    Bytes joined;
    for (int i = 0; i < 3; i++) {
        auto [type, payload] = ClientSent();
        ASSERT_EQ(SSH2_MSG_CHANNEL_DATA, type);
        ASSERT_EQ(U32(7), payload.substr(0, 4));
        joined += payload.substr(8);
        EXPECT_LE(payload.size() - 8, 1000u);
    }
    EXPECT_EQ(text, joined);
    EXPECT_EQ(0, ClientSent().first);
}

}  // namespace
