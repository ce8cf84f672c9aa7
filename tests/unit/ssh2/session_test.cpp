// A session channel against the fake server, with the session's reader and
// writer threads running: flow control, and re-keys started by either side;
// and the connection's identification exchange.
#include <thread>

#include "../net/fake_peer.h"
#include "config/host_config.h"
#include "fake_ssh2_server.h"
#include "platform/cancel.h"
#include "ssh/connection/ssh2_channel.h"
#include "ssh/connection/ssh2_connection.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh2_test_support.h"

namespace {

// Numbered lines, so a lost, doubled or reordered piece shows.
Bytes Lines(int first, int count) {
    Bytes text;
    for (int i = first; i < first + count; i++) text += std::to_string(i) + "\n";
    return text;
}

// The fake server, our channel on it (remote id 5) and the session's threads.
struct Session {
    FakeSsh2Server server;
    Ssh2Channel channel;
    TCriticalSection lock;
    Bytes received, reader_error, writer_error;  // the threads', once joined
    std::vector<std::thread> threads;

    Session(uint32_t window, uint32_t max_packet) {
        channel.remote_id = 5;
        channel.remote_max_packet = max_packet;
        channel.gate.SetWindow(window);
    }
    // Delivers data until the channel closes.
    void StartReader() {
        threads.emplace_back([this] {
            try {
                for (Bytes got = Read(); !got.empty(); got = Read()) received += got;
            } catch (const TException& e) {
                reader_error = e.Message();
            }
        });
    }
    void StartWriter(const Bytes& text, unsigned piece) {
        threads.emplace_back([this, text, piece] {
            try {
                for (std::size_t at = 0; at < text.size(); at += piece)
                    ssh2_channel_write(
                        server.Client(), &channel, &lock, text.data() + at,
                        static_cast<unsigned>(std::min<size_t>(piece, text.size() - at)));
            } catch (const TException& e) {
                writer_error = e.Message();
            }
        });
    }
    Bytes Read() {
        char buffer[4096];
        bool closed = false;
        const int n = ssh2_channel_read(server.Client(), &channel, &lock, buffer, 4096, &closed);
        return Bytes(buffer, static_cast<size_t>(n));
    }
    void SendData(const Bytes& text) { server.Send(SSH2_MSG_CHANNEL_DATA, U32(0) + Str(text)); }
    // The server closes the channel; the threads end without an error.
    void Close() {
        server.Send(SSH2_MSG_CHANNEL_CLOSE, U32(0));
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ("", reader_error);
        EXPECT_EQ("", writer_error);
    }
};

using SessionTest = Ssh2Test;

// The server grants its window in steps: every packet of ours within the
// window and the maximum packet size, none empty, nothing lost.
TEST_F(SessionTest, OurDataStaysWithinTheServersWindowAndPacketSize) {
    const struct {
        uint32_t window, max_packet, grant;  // grant: each WINDOW_ADJUST
        std::size_t upload;
    } cases[] = {
        {1000, 100, 1000, 20000},
        {1000, 100, 37, 5000},  // grants smaller than a packet
        {0, 16384, 700, 9000},  // window 0 at first, as OpenSSH opens
        {50000, 1, 50000, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.upload);
        Session s(c.window, c.max_packet);
        const Bytes text = Lines(0, 5000).substr(0, c.upload);
        s.StartReader();
        s.StartWriter(text, static_cast<unsigned>(text.size()));
        uint64_t granted = c.window;
        Bytes received;
        while (received.size() < text.size()) {
            if (received.size() == granted) {
                s.server.Send(SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(0) + U32(c.grant));
                granted += c.grant;
            }
            auto [type, payload] = s.server.Read();
            ASSERT_EQ(SSH2_MSG_CHANNEL_DATA, type);
            ASSERT_EQ(U32(5), payload.substr(0, 4));
            ASSERT_LE(payload.size() - 8, c.max_packet);
            ASSERT_GT(payload.size(), 8u);
            received += payload.substr(8);
            ASSERT_LE(received.size(), granted);
        }
        EXPECT_EQ(text, received);
        s.Close();
    }
}

// While the writer waits for the window the reader still answers the
// server (the writer holds no lock); cancellation or a close ends the wait.
TEST_F(SessionTest, AWaitingWriterEndsOnCancellationOrClose) {
    Session s(0, 100);
    TCancellation cancel;
    bool cancelled = false;  // read once the writer is joined
    std::thread writer([&] {
        SetCurrentCancellation(&cancel);
        try {
            ssh2_channel_write(s.server.Client(), &s.channel, &s.lock, "abc", 3);
        } catch (const TThreadCancelled&) {
            cancelled = true;
        }
    });
    s.server.Send(SSH2_MSG_GLOBAL_REQUEST, Str("keepalive@openssh.com") + "\x01");
    s.SendData("x");
    EXPECT_EQ("x", s.Read());
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, s.server.Read().first);
    cancel.Cancel();
    writer.join();
    EXPECT_TRUE(cancelled);

    s.channel.gate.SetWindow(10);
    s.StartReader();
    s.StartWriter(Bytes(50, 'w'), 50);
    EXPECT_EQ(U32(5) + Str(Bytes(10, 'w')), s.server.Read().second);
    s.Close();  // the rest is dropped: the channel is gone
    EXPECT_EQ((Messages{{SSH2_MSG_CHANNEL_CLOSE, U32(5)}}), Messages{s.server.Read()});
}

// After the login: replies owed during our exchange (its time had come)
// follow its NEWKEYS; then three exchanges of the server's and the client's
// own past the byte limit, sending and receiving, with data both ways.
TEST_F(SessionTest, EveryByteArrivesOnceThroughRekeysOfEitherSide) {
    Session s(UINT32_MAX, 16384);
    std::thread login([&] { s.server.Kex(); });
    ssh2_key_exchange(s.server.Client());
    login.join();
    PacketContext* client = s.server.Client();
    const Bytes session_id(reinterpret_cast<char*>(client->session_id2), 20);
    ASSERT_EQ(s.server.SessionId(), session_id);

    s.channel.rekey.second_limit = 1;
    s.channel.rekey.keys_since -= std::chrono::seconds(2);
    s.server.Send(SSH2_MSG_GLOBAL_REQUEST, Str("keepalive@openssh.com") + "\x01");
    s.SendData("x");
    EXPECT_EQ("x", s.Read());
    auto [type, payload] = s.server.Read();
    ASSERT_EQ(SSH2_MSG_KEXINIT, type);  // and no reply before it
    std::thread server([&] {
        s.server.Kex(payload);
        s.SendData("y");
    });
    EXPECT_EQ("y", s.Read());
    server.join();
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, s.server.Read().first);
    EXPECT_FALSE(s.channel.rekey.own_sent);

    s.channel.rekey.second_limit = 0;
    s.channel.rekey.byte_limit = 20000;
    s.StartReader();
    const Bytes upload = Lines(0, 30000);
    s.StartWriter(upload, 333);
    Bytes download, uploaded;
    int exchanges = 1;
    for (const char* cipher : {"3des-cbc", "blowfish-cbc", "3des-cbc"}) {
        const Bytes text = Lines(static_cast<int>(download.size()), 1000);
        s.SendData(text);
        FakeSsh2Server::Messages before;
        s.server.Kex("", cipher, &before);
        exchanges++;
        for (const auto& [type, payload] : before)
            if (type == SSH2_MSG_CHANNEL_DATA) uploaded += payload.substr(8);
        s.SendData("after " + text);
        download += text + "after " + text;
    }
    // The writer's, about nine in the 180 KB upload.
    while (uploaded.size() < upload.size()) {
        auto [type, payload] = s.server.Read();
        if (type == SSH2_MSG_CHANNEL_DATA) {
            uploaded += payload.substr(8);
            continue;
        }
        ASSERT_EQ(SSH2_MSG_KEXINIT, type) << "at " << uploaded.size();
        s.server.Kex(payload);
        exchanges++;
    }
    EXPECT_EQ(upload, uploaded);
    EXPECT_GE(exchanges, 9);
    // The reader's: more than the limit each time, the server sending on
    // while the client's KEXINIT is under way.
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < 2; i++) {
            download += Lines(100000 + round * 10000 + i * 2000, 2000);
            s.SendData(Lines(100000 + round * 10000 + i * 2000, 2000));
        }
        auto message = s.server.Read();
        for (; message.first != SSH2_MSG_KEXINIT; message = s.server.Read())
            ASSERT_NE(0, message.first);
        s.server.Kex(message.second);
        exchanges++;
    }
    s.Close();
    EXPECT_EQ(download, s.received);
    EXPECT_EQ(exchanges, s.channel.rekey.exchanges);
    EXPECT_EQ(session_id, Bytes(reinterpret_cast<char*>(client->session_id2), 20));
    // Both directions use the newest keys, and only one record is left.
    EXPECT_EQ(client->kex, client->keys_in_force[MODE_IN]);
    EXPECT_EQ(client->kex, client->keys_in_force[MODE_OUT]);
}

// The identification exchange over a real loopback socket
// (tests/data/ssh2/identification).
TEST_F(SessionTest, IdentificationExchange) {
    TFakeServer server;
    THostConfig host;
    host.SetAddress("127.0.0.1");
    host.SetPort(server.Port());
    host.SetProtocol(kProtocolSsh2);
    for (const TCase& c : ReadCases("ssh2/identification")) {
        SCOPED_TRACE(c.where);
        TSSH2Connection connection(&host, 0);
        const int fd = server.Accept();
        ASSERT_GE(fd, 0);
        SendBytes(fd, c[1]);
        if (c[0] == "fail") {
            if (c[2] == "1") server.Close(fd);
            EXPECT_EQ(c[3], FatalMessage([&] { connection.ExchangeVersions(); }));
            continue;
        }
        connection.ExchangeVersions();
        EXPECT_EQ(c[2], connection.GetContext()->server_version_string);
        EXPECT_EQ(Num(c[3]), connection.GetContext()->datafellows);
        EXPECT_EQ("SSH-2.1-Quenlor_3.24.00\n", ReadBytes(fd, 24));
        char rest[16];
        if (c.size() > 4 && !c[4].empty()) {
            EXPECT_EQ(c[4], Bytes(rest, connection.GetBuffer(rest, sizeof rest, true)));
        }
    }
}

}  // namespace
