// The session channel: opening it, the pseudo-terminal request, the read
// path with its window rule and channel checks, and what real servers send
// during a session besides data: each message kind, the reply RFC 4254 /
// RFC 4253 section 11.4 asks for (if any), and that the session goes on (or
// ends cleanly on a channel close).
#include "ssh/connection/ssh2_channel.h"
#include "ssh/transport/ssh2.h"
#include "ssh2_test_support.h"

namespace {

using Reply = std::vector<std::pair<int, Bytes>>;

class ChannelTest : public Ssh2Test {
  protected:
    ChannelTest() {
        channel_.remote_id = 7;
        channel_.remote_max_packet = 32768;
    }
    PacketContext* Client() { return link_.Client(); }
    void ServerSends(int type, const Bytes& payload = "") { link_.ServerSends(type, payload); }
    Reply Sent() { return link_.ClientMessages(); }
    // Reads until data arrives (or the channel closes); returns the data.
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
    // Only the request that wanted an answer is refused.
    EXPECT_EQ(
        (Reply{{SSH2_MSG_CHANNEL_OPEN, Str("session") + U32(0) + U32(1024 * 1024) + U32(16384)},
               {SSH2_MSG_REQUEST_FAILURE, ""},
               {SSH2_MSG_CHANNEL_REQUEST, U32(42) + Str("pty-req") + "\x01" + Str("cons25r") +
                                              U32(80) + U32(25) + U32(0) + U32(0) + Str("")},
               {SSH2_MSG_CHANNEL_REQUEST, U32(42) + Str("shell") + Bytes(1, '\0')}}),
        Sent());
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
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ("c", Read());  // half + 1 consumed before this read
    // Exactly what was consumed, not a fixed step.
    EXPECT_EQ((Reply{{SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(7) + U32(kHalf + 1)}}), Sent());
    EXPECT_EQ(1u, channel_.consumed);
}

TEST_F(ChannelTest, ReadFailures) {
    ServerSends(SSH2_MSG_CHANNEL_DATA, U32(3) + Str("x"));
    EXPECT_EQ("TSSH2Connection::GetBuffer. Channel 0 expected, but 3 found.",
              FatalMessage([&] { Read(); }));
    // The server went away: the packet layer's message.
    EXPECT_EQ("Connection closed by XXX", FatalMessage([&] { Read(); }));
}

TEST_F(ChannelTest, EachKindIsHandledAndAnsweredAsTheRfcsSay) {
    struct Case {
        const char* what;
        int type;
        Bytes payload;
        Reply reply;  // the client's answer; the message before it is number 0
    };
    const Case cases[] = {
        {"global keep-alive wanting a reply",
         SSH2_MSG_GLOBAL_REQUEST,
         Str("keepalive@openssh.com") + "\x01",
         {{SSH2_MSG_REQUEST_FAILURE, ""}}},
        {"global request without reply",
         SSH2_MSG_GLOBAL_REQUEST,
         Str("hostkeys-00@openssh.com") + Bytes(1, '\0') + Str("k"),
         {}},
        {"channel keep-alive",
         SSH2_MSG_CHANNEL_REQUEST,
         U32(0) + Str("keepalive@openssh.com") + "\x01",
         {{SSH2_MSG_CHANNEL_FAILURE, U32(7)}}},
        {"exit status", SSH2_MSG_CHANNEL_REQUEST, U32(0) + Str("exit-status") + '\0' + U32(0), {}},
        {"channel success", SSH2_MSG_CHANNEL_SUCCESS, U32(0), {}},
        {"channel failure", SSH2_MSG_CHANNEL_FAILURE, U32(0), {}},
        {"window adjust", SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(0) + U32(5000), {}},
        {"end of data", SSH2_MSG_CHANNEL_EOF, U32(0), {}},
        {"empty data is not a close", SSH2_MSG_CHANNEL_DATA, U32(0) + Str(""), {}},
        {"request answers nobody asked for", SSH2_MSG_REQUEST_SUCCESS, "", {}},
        {"the server did not understand us", SSH2_MSG_UNIMPLEMENTED, U32(3), {}},
        {"a forwarding nobody asked for",
         SSH2_MSG_CHANNEL_OPEN,
         Str("x11") + U32(44) + U32(1000) + U32(1000) + Str("127.0.0.1") + U32(6000),
         {{SSH2_MSG_CHANNEL_OPEN_FAILURE, U32(44) + U32(1) + Str("") + Str("")}}},
        // RFC 4253 section 11.4: the sequence number of the message received.
        {"unknown number", 200, "whatever", {{SSH2_MSG_UNIMPLEMENTED, U32(1)}}},
        {"user authentication after login", 60, Str("x"), {{SSH2_MSG_UNIMPLEMENTED, U32(1)}}},
        {"service accept out of place", 6, Str("ssh-userauth"), {{SSH2_MSG_UNIMPLEMENTED, U32(1)}}},
        {"channel number beyond the known ones", 101, U32(0), {{SSH2_MSG_UNIMPLEMENTED, U32(1)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Link link;
        Ssh2Channel channel;
        channel.remote_id = 7;
        channel.remote_max_packet = 32768;
        link.ServerSends(SSH2_MSG_CHANNEL_DATA, Data("before"));
        link.ServerSends(c.type, c.payload);
        link.ServerSends(SSH2_MSG_CHANNEL_DATA, Data("after"));
        char buffer[64];
        bool closed = false;
        int n = ssh2_channel_read(link.Client(), &channel, &lock_, buffer, sizeof buffer, &closed);
        EXPECT_EQ("before", Bytes(buffer, static_cast<size_t>(n)));
        n = ssh2_channel_read(link.Client(), &channel, &lock_, buffer, sizeof buffer, &closed);
        EXPECT_EQ("after", Bytes(buffer, static_cast<size_t>(n)));
        EXPECT_FALSE(closed);
        EXPECT_EQ(c.reply, link.ClientMessages());
    }
}

TEST_F(ChannelTest, ExtendedDataIsShownLikeDataAndCountsAgainstTheWindow) {
    ServerSends(SSH2_MSG_CHANNEL_EXTENDED_DATA, U32(0) + U32(1) + Str("error text\r\n"));
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data("out"));
    EXPECT_EQ("error text\r\n", Read());
    EXPECT_EQ("out", Read());
    EXPECT_EQ(kChannelWindowSize - 15, channel_.local_window);
    EXPECT_EQ(15u, channel_.consumed);
}

TEST_F(ChannelTest, ExitStatusAndSignalAreRecordedAndTheCloseEndsTheSession) {
    ServerSends(SSH2_MSG_CHANNEL_EOF, U32(0));
    ServerSends(SSH2_MSG_CHANNEL_REQUEST, U32(0) + Str("exit-signal") + Bytes(1, '\0') +
                                              Str("TERM") + Bytes(1, '\0') + Str("terminated") +
                                              Str(""));
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data("tail"));
    ServerSends(SSH2_MSG_CHANNEL_REQUEST, U32(0) + Str("exit-status") + Bytes(1, '\0') + U32(3));
    ServerSends(SSH2_MSG_CHANNEL_CLOSE, U32(0));
    EXPECT_EQ("tail", Read());  // data after the end of data is still shown
    EXPECT_FALSE(closed_);
    EXPECT_EQ("", Read());
    EXPECT_TRUE(closed_);
    EXPECT_TRUE(channel_.eof_received);
    EXPECT_EQ(3, channel_.exit_status);
    EXPECT_EQ("TERM", channel_.exit_signal);
    EXPECT_TRUE(channel_.gate.Closed());
    // One close answers the server's; nothing else is said.
    EXPECT_EQ((Reply{{SSH2_MSG_CHANNEL_CLOSE, U32(7)}}), Sent());
    // A writer after the close sends nothing.
    ssh2_channel_write(Client(), &channel_, &lock_, "late", 4);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ChannelTest, DataLargerThanTheReadIsKeptForTheNextRead) {
    ServerSends(SSH2_MSG_CHANNEL_DATA, Data("0123456789"));
    std::string joined;
    for (int i = 0; i < 3; i++) joined += Read(4);
    EXPECT_EQ("0123456789", joined);
    EXPECT_EQ(10u, channel_.consumed);
}

TEST_F(ChannelTest, OnlyTransportMessagesLeaveBetweenKexinitAndNewkeys) {
    packet_start(Client(), SSH2_MSG_KEXINIT);
    packet_send(Client());
    for (int type : {int{SSH2_MSG_CHANNEL_DATA}, int{SSH2_MSG_GLOBAL_REQUEST}, 50}) {
        packet_start(Client(), type);
        EXPECT_EQ("packet_send2: message " + std::to_string(type) + " during a key exchange",
                  FatalMessage([&] { packet_send(Client()); }));
    }
    // Transport messages may.
    for (int type : {int{SSH2_MSG_IGNORE}, int{SSH2_MSG_UNIMPLEMENTED}, int{SSH2_MSG_KEXDH_INIT}}) {
        packet_start(Client(), type);
        packet_send(Client());
    }
}

TEST_F(ChannelTest, ANewkeysWithoutAnExchangeIsStillFatal) {
    // Framed by hand: the server side's own packet layer would refuse it.
    // Length 12, padding 10, message 21, ten zero bytes.
    link_.client.to_read = U32(12) + Bytes(1, '\x0a') + Bytes(1, '\x15') + Bytes(10, '\0');
    EXPECT_EQ("packet_read_poll2: no KEX", FatalMessage([&] { Read(); }));
}

}  // namespace
