// What real servers send during a session besides data: each message kind,
// the reply RFC 4254 / RFC 4253 section 11.4 asks for (if any), and that the
// session goes on (or ends cleanly on a channel close).
#include "ssh/connection/ssh2_channel.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh2_test_support.h"

namespace {

class MessagesTest : public Ssh2Test {
  protected:
    MessagesTest() {
        channel_.remote_id = 7;
        channel_.remote_max_packet = 32768;
    }
    // Reads until data arrives (or the channel closes); returns the data.
    Bytes Read() {
        char buffer[4096];
        closed_ = false;
        const int n =
            ssh2_channel_read(link_.Client(), &channel_, &lock_, buffer, sizeof buffer, &closed_);
        return Bytes(buffer, static_cast<size_t>(n));
    }
    // Everything the client sent, as (type, payload) pairs.
    std::vector<std::pair<int, Bytes>> Sent() {
        std::vector<std::pair<int, Bytes>> all;
        while (link_.ServerHasMessage()) {
            const int type = packet_read(link_.Server(), nullptr);
            int n = 0;
            unsigned char* bytes = packet_get_raw(link_.Server(), &n);
            all.emplace_back(type, Bytes(reinterpret_cast<char*>(bytes), static_cast<size_t>(n)));
            buffer_consume(&link_.server.context.incoming_packet, static_cast<uint32_t>(n));
        }
        return all;
    }

    Link link_;
    TCriticalSection lock_;
    Ssh2Channel channel_;
    bool closed_ = false;
};

using Reply = std::vector<std::pair<int, Bytes>>;

TEST_F(MessagesTest, EachKindIsHandledAndAnsweredAsTheRfcsSay) {
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
        {"channel success", SSH2_MSG_CHANNEL_SUCCESS, U32(0), {}},
        {"channel failure", SSH2_MSG_CHANNEL_FAILURE, U32(0), {}},
        {"window adjust", SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(0) + U32(5000), {}},
        {"end of data", SSH2_MSG_CHANNEL_EOF, U32(0), {}},
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
        link.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str("before"));
        link.ServerSends(c.type, c.payload);
        link.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str("after"));
        char buffer[64];
        bool closed = false;
        int n = ssh2_channel_read(link.Client(), &channel, &lock_, buffer, sizeof buffer, &closed);
        EXPECT_EQ("before", Bytes(buffer, static_cast<size_t>(n)));
        n = ssh2_channel_read(link.Client(), &channel, &lock_, buffer, sizeof buffer, &closed);
        EXPECT_EQ("after", Bytes(buffer, static_cast<size_t>(n)));
        EXPECT_FALSE(closed);
        Reply sent;
        while (link.ServerHasMessage()) {
            const int type = packet_read(link.Server(), nullptr);
            int length = 0;
            unsigned char* bytes = packet_get_raw(link.Server(), &length);
            sent.emplace_back(type,
                              Bytes(reinterpret_cast<char*>(bytes), static_cast<size_t>(length)));
            buffer_consume(&link.server.context.incoming_packet, static_cast<uint32_t>(length));
        }
        EXPECT_EQ(c.reply, sent);
    }
}

TEST_F(MessagesTest, ExtendedDataIsShownLikeDataAndCountsAgainstTheWindow) {
    link_.ServerSends(SSH2_MSG_CHANNEL_EXTENDED_DATA, U32(0) + U32(1) + Str("error text\r\n"));
    link_.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str("out"));
    EXPECT_EQ("error text\r\n", Read());
    EXPECT_EQ("out", Read());
    EXPECT_EQ(kChannelWindowSize - 15, channel_.local_window);
    EXPECT_EQ(15u, channel_.consumed);
}

TEST_F(MessagesTest, ExitStatusAndSignalAreRecordedAndTheCloseEndsTheSession) {
    link_.ServerSends(SSH2_MSG_CHANNEL_EOF, U32(0));
    link_.ServerSends(SSH2_MSG_CHANNEL_REQUEST, U32(0) + Str("exit-signal") + Bytes(1, '\0') +
                                                    Str("TERM") + Bytes(1, '\0') +
                                                    Str("terminated") + Str(""));
    link_.ServerSends(SSH2_MSG_CHANNEL_REQUEST,
                      U32(0) + Str("exit-status") + Bytes(1, '\0') + U32(3));
    link_.ServerSends(SSH2_MSG_CHANNEL_CLOSE, U32(0));
    EXPECT_EQ("", Read());
    EXPECT_TRUE(closed_);
    EXPECT_TRUE(channel_.eof_received);
    EXPECT_EQ(3, channel_.exit_status);
    EXPECT_EQ("TERM", channel_.exit_signal);
    EXPECT_TRUE(channel_.gate.Closed());
    // One close answers the server's; nothing else is said.
    EXPECT_EQ((Reply{{SSH2_MSG_CHANNEL_CLOSE, U32(7)}}), Sent());
    // A writer after the close sends nothing.
    ssh2_channel_write(link_.Client(), &channel_, &lock_, "late", 4);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MessagesTest, DataLargerThanTheReadIsKeptForTheNextRead) {
    link_.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str("0123456789"));
    char buffer[4];
    bool closed = false;
    std::string joined;
    for (int i = 0; i < 3; i++) {
        const int n = ssh2_channel_read(link_.Client(), &channel_, &lock_, buffer, 4, &closed);
        joined.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ("0123456789", joined);
    EXPECT_EQ(10u, channel_.consumed);
}

TEST_F(MessagesTest, OnlyTransportMessagesLeaveBetweenKexinitAndNewkeys) {
    PacketContext* client = link_.Client();
    packet_start(client, SSH2_MSG_KEXINIT);
    packet_send(client);
    for (int type : {int{SSH2_MSG_CHANNEL_DATA}, int{SSH2_MSG_GLOBAL_REQUEST}, 50}) {
        packet_start(client, type);
        EXPECT_EQ("packet_send2: message " + std::to_string(type) + " during a key exchange",
                  FatalMessage([&] { packet_send(client); }));
    }
    // Transport messages may.
    for (int type : {int{SSH2_MSG_IGNORE}, int{SSH2_MSG_UNIMPLEMENTED}, int{SSH2_MSG_KEXDH_INIT}}) {
        packet_start(client, type);
        packet_send(client);
    }
}

TEST_F(MessagesTest, ANewkeysWithoutAnExchangeIsStillFatal) {
    // Framed by hand: the server side's own packet layer would refuse it.
    // Length 12, padding 10, message 21, ten zero bytes.
    link_.client.incoming = U32(12) + Bytes(1, '\x0a') + Bytes(1, '\x15') + Bytes(10, '\0');
    EXPECT_EQ("packet_read_poll2: no KEX", FatalMessage([&] { Read(); }));
}

}  // namespace
