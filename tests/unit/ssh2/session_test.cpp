// A session channel against the fake server in its own thread, with the
// session's reader and writer threads running. Flow control both ways (RFC
// 4254 section 5.2): our data stays within the server's window and maximum
// packet size; our window is re-opened by exactly what the session took;
// waits end on cancellation and on close. Re-keying (RFC 4253 section 9):
// server- and client-initiated exchanges, data both ways before, during and
// after, nothing lost or doubled, the session id kept, the old keys
// replaced, and no channel data between our KEXINIT and our NEWKEYS.
#include <atomic>
#include <thread>

#include "fake_ssh2_server.h"
#include "platform/cancel.h"
#include "ssh/connection/ssh2_channel.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh2_test_support.h"

namespace {

// Numbered lines, so a lost, doubled or reordered piece shows.
std::string Lines(int first, int count) {
    std::string text;
    for (int i = first; i < first + count; i++) text += std::to_string(i) + "\n";
    return text;
}

// The fake server, our channel on it (remote id 5) and the session's threads.
struct Session {
    FakeSsh2Server server;
    Ssh2Channel channel;
    TCriticalSection lock;
    std::string received;  // the reader's, once joined
    std::atomic<uint64_t> taken{0};
    std::string reader_error, writer_error;

    Session(uint32_t window, uint32_t max_packet) {
        channel.remote_id = 5;
        channel.remote_max_packet = max_packet;
        channel.gate.SetWindow(window);
    }
    // Delivers data in reads of `size` bytes until the channel closes.
    std::thread StartReader(unsigned size = 4096) {
        return std::thread([this, size] {
            try {
                char buffer[32768];
                bool closed = false;
                while (!closed) {
                    const int n =
                        ssh2_channel_read(server.Client(), &channel, &lock, buffer, size, &closed);
                    received.append(buffer, static_cast<size_t>(n));
                    taken += static_cast<uint64_t>(n);
                }
            } catch (const TException& e) {
                reader_error = e.Message();
            }
        });
    }
    std::thread StartWriter(const std::string& text, unsigned piece) {
        return std::thread([this, &text, piece] {
            try {
                for (std::size_t at = 0; at < text.size(); at += piece) {
                    const unsigned n =
                        static_cast<unsigned>(std::min<std::size_t>(piece, text.size() - at));
                    ssh2_channel_write(server.Client(), &channel, &lock, text.data() + at, n);
                }
            } catch (const TException& e) {
                writer_error = e.Message();
            }
        });
    }
    void SendData(const std::string& text) {
        server.Send(SSH2_MSG_CHANNEL_DATA, U32(0) + Str(text));
    }
    void SendClose() { server.Send(SSH2_MSG_CHANNEL_CLOSE, U32(0)); }
};

using FlowControlTest = Ssh2Test;

TEST_F(FlowControlTest, NoPacketExceedsTheWindowOrTheMaximumPacketSize) {
    struct Case {
        uint32_t window;
        uint32_t max_packet;
        uint32_t grant;  // each WINDOW_ADJUST
        std::size_t total;
    };
    const Case cases[] = {
        {1000, 100, 1000, 20000},  // the brief's small server
        {1000, 100, 37, 5000},     // grants smaller than a packet
        {0, 16384, 700, 9000},     // window 0 at first, as OpenSSH opens
        {50000, 1, 50000, 300},    // one byte per packet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        Session s(c.window, c.max_packet);
        std::string text;
        for (std::size_t i = 0; text.size() < c.total; i++) text += std::to_string(i) + ",";
        text.resize(c.total);
        std::thread reader = s.StartReader(256);
        std::thread writer = s.StartWriter(text, static_cast<unsigned>(text.size()));
        // The server keeps its own account of the window it granted.
        uint64_t granted = c.window;
        uint64_t used = 0;
        std::string received;
        bool ok = true;
        while (received.size() < text.size() && ok) {
            if (used == granted) {
                s.server.Send(SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(0) + U32(c.grant));
                granted += c.grant;
            }
            auto [type, payload] = s.server.Read();
            ASSERT_EQ(SSH2_MSG_CHANNEL_DATA, type);
            ASSERT_EQ(U32(5), payload.substr(0, 4));
            const std::string data = payload.substr(8);
            EXPECT_LE(data.size(), c.max_packet);
            EXPECT_GT(data.size(), 0u);
            used += data.size();
            EXPECT_LE(used, granted);
            ok = used <= granted && data.size() <= c.max_packet;
            received += data;
        }
        writer.join();
        EXPECT_EQ(text, received);
        s.SendClose();
        reader.join();
    }
}

TEST_F(FlowControlTest, OurWindowIsReopenedByExactlyWhatWasTaken) {
    struct Case {
        uint64_t total;   // bytes the server has to send
        uint32_t piece;   // its largest message
        unsigned buffer;  // the session's read size
    };
    const Case cases[] = {
        {200000, 16384, 32768},
        {100000, 16384, 1000},
        {50000, 3000, 4096},
        {20000, 8193, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.buffer);
        Session s(0, 32768);
        s.channel.remote_id = 9;
        std::thread reader = s.StartReader(c.buffer);
        // The server sends what its window allows, as a real one does.
        uint64_t window = kChannelWindowSize;
        uint64_t sent = 0;
        uint64_t adjusted = 0;
        while (sent < c.total) {
            if (window > 0) {
                const uint64_t n = std::min<uint64_t>({window, c.piece, c.total - sent});
                s.SendData(std::string(static_cast<size_t>(n), 'q'));
                window -= n;
                sent += n;
                continue;
            }
            auto [type, payload] = s.server.Read();
            ASSERT_EQ(SSH2_MSG_CHANNEL_WINDOW_ADJUST, type);
            ASSERT_EQ(U32(9), payload.substr(0, 4));
            const uint32_t adjust = WireGetU32(payload, 4);
            adjusted += adjust;
            window += adjust;
            // Never more than the session took, never past the window size.
            EXPECT_LE(adjusted, s.taken.load());
            EXPECT_LE(window, kChannelWindowSize);
        }
        s.SendClose();
        reader.join();
        EXPECT_EQ(c.total, s.taken.load());
        // Whatever adjustments are still on their way balance the account.
        for (;;) {
            auto [type, payload] = s.server.Read();
            if (type == SSH2_MSG_CHANNEL_CLOSE) break;
            ASSERT_EQ(SSH2_MSG_CHANNEL_WINDOW_ADJUST, type);
            adjusted += WireGetU32(payload, 4);
        }
        EXPECT_EQ(s.taken.load() - s.channel.consumed, adjusted);
    }
}

TEST_F(FlowControlTest, ServerWindowNeverWrapsPastTwoToThe32) {
    Ssh2SendGate gate;
    gate.SetWindow(UINT32_MAX - 10);
    gate.Open(100);
    EXPECT_EQ(UINT32_MAX, gate.Window());
    gate.Open(UINT32_MAX);
    EXPECT_EQ(UINT32_MAX, gate.Window());
    EXPECT_EQ(UINT32_MAX - 1, gate.Take(UINT32_MAX - 1));
    EXPECT_EQ(1u, gate.Take(500));
    EXPECT_EQ(0u, gate.Take(500));
    // Held back during a key exchange, whatever the window.
    gate.Open(1000);
    gate.BeginKex();
    EXPECT_EQ(0u, gate.Take(10));
    gate.EndKex();
    EXPECT_EQ(10u, gate.Take(10));
    gate.Close();
    EXPECT_EQ(0u, gate.Take(10));
}

TEST_F(FlowControlTest, AWaitingWriterEndsOnCancellationWithoutHoldingTheSendLock) {
    Session s(0, 100);
    TCancellation cancel;
    std::atomic<bool> cancelled{false};
    std::thread writer([&] {
        SetCurrentCancellation(&cancel);
        try {
            ssh2_channel_write(s.server.Client(), &s.channel, &s.lock, "abc", 3);
        } catch (const TThreadCancelled&) {
            cancelled = true;
        }
        SetCurrentCancellation(nullptr);
    });
    // While the writer waits, the reader can still answer the server.
    s.server.Send(SSH2_MSG_GLOBAL_REQUEST, Str("keepalive@openssh.com") + "\x01");
    s.SendData("x");
    char buffer[16];
    bool closed = false;
    EXPECT_EQ(1, ssh2_channel_read(s.server.Client(), &s.channel, &s.lock, buffer, sizeof buffer,
                                   &closed));
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, s.server.Read().first);
    cancel.Cancel();
    writer.join();
    EXPECT_TRUE(cancelled);
}

TEST_F(FlowControlTest, AChannelCloseEndsAWaitingWriterAndIsAnswered) {
    Session s(10, 100);
    std::thread reader = s.StartReader();
    const std::string text(50, 'w');
    std::thread writer = s.StartWriter(text, 50);
    auto [type, payload] = s.server.Read();
    EXPECT_EQ(SSH2_MSG_CHANNEL_DATA, type);
    EXPECT_EQ(U32(5) + Str(std::string(10, 'w')), payload);
    s.SendClose();
    writer.join();  // the rest is dropped: the channel is gone
    reader.join();
    EXPECT_EQ("", s.reader_error);
    std::tie(type, payload) = s.server.Read();
    EXPECT_EQ(SSH2_MSG_CHANNEL_CLOSE, type);
    EXPECT_EQ(U32(5), payload);
}

// After the login's exchange, client and server each in their thread.
class RekeyTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        std::thread server([&] { s_.server.Kex(false); });
        ssh2_key_exchange(s_.server.Client());
        server.join();
        session_id_ = SessionId();
        ASSERT_EQ(s_.server.SessionId(), session_id_);
    }
    std::string SessionId() {
        PacketContext* client = s_.server.Client();
        return std::string(reinterpret_cast<char*>(client->session_id2), client->session_id2_len);
    }
    // Reads the upload the writer is sending until `size` bytes came; every
    // KEXINIT of the client's is answered with a whole exchange.
    int ReadUpload(std::string* uploaded, size_t size) {
        int exchanges = 0;
        while (uploaded->size() < size) {
            auto [type, payload] = s_.server.Read();
            if (type == SSH2_MSG_CHANNEL_DATA) {
                *uploaded += payload.substr(8);
                continue;
            }
            EXPECT_EQ(SSH2_MSG_KEXINIT, type) << "upload stopped at " << uploaded->size();
            if (type != SSH2_MSG_KEXINIT) break;
            s_.server.KexAfterClientKexinit(payload);
            exchanges++;
        }
        return exchanges;
    }
    Session s_{UINT32_MAX, 16384};
    std::string session_id_;
};

TEST_F(RekeyTest, ServerStartedRekeysKeepEveryByteBothWays) {
    std::thread reader = s_.StartReader();
    const std::string upload = Lines(0, 20000);
    std::thread writer = s_.StartWriter(upload, 333);

    std::string expected_download;
    std::string uploaded;
    std::vector<std::pair<int, std::string>> before;
    // Three exchanges, the second with another cipher, data in between.
    const char* ciphers[] = {"3des-cbc", "blowfish-cbc", "3des-cbc"};
    for (int round = 0; round < 3; round++) {
        const std::string text = Lines(round * 1000, 1000);
        s_.SendData(text);
        expected_download += text;
        before.clear();
        s_.server.Kex(true, &before, ciphers[round]);
        for (const auto& [type, payload] : before)
            if (type == SSH2_MSG_CHANNEL_DATA) uploaded += payload.substr(8);
        s_.SendData("after " + text);
        expected_download += "after " + text;
    }
    // The rest of the upload, under the last keys: no exchange of the client's.
    EXPECT_EQ(0, ReadUpload(&uploaded, upload.size()));
    writer.join();
    s_.SendClose();
    reader.join();

    EXPECT_EQ("", s_.reader_error);
    EXPECT_EQ("", s_.writer_error);
    EXPECT_EQ(upload, uploaded);
    EXPECT_EQ(expected_download, s_.received);
    EXPECT_EQ(3, s_.channel.rekey.exchanges);
    // The session id is still the first exchange's.
    EXPECT_EQ(session_id_, SessionId());
    // Both directions use the newest keys, and only one record is left.
    PacketContext* client = s_.server.Client();
    EXPECT_EQ(client->kex, client->keys_in_force[MODE_IN]);
    EXPECT_EQ(client->kex, client->keys_in_force[MODE_OUT]);
    EXPECT_EQ(SSH_CIPHER_3DES_CBC, client->kex->enc[MODE_OUT].type);
}

TEST_F(RekeyTest, TheClientRekeysAfterItsByteLimit) {
    s_.channel.rekey.byte_limit = 20000;
    std::thread reader = s_.StartReader();
    const std::string upload = Lines(0, 30000);  // about 180 KB
    std::thread writer = s_.StartWriter(upload, 1000);
    std::string uploaded;
    const int exchanges = ReadUpload(&uploaded, upload.size());
    writer.join();
    // About nine times the limit went out (with the packets' own bytes).
    EXPECT_GE(exchanges, 7);
    EXPECT_LE(exchanges, 10);
    s_.SendClose();
    reader.join();
    EXPECT_EQ("", s_.reader_error);
    EXPECT_EQ("", s_.writer_error);
    EXPECT_EQ(upload, uploaded);
    EXPECT_EQ(exchanges, s_.channel.rekey.exchanges);
}

TEST_F(RekeyTest, TheClientRekeysAfterReceivingItsByteLimit) {
    s_.channel.rekey.byte_limit = 16384;
    std::thread reader = s_.StartReader();
    std::string download;
    int exchanges = 0;
    for (int i = 0; i < 20; i++) {
        download += Lines(i * 500, 500);
        s_.SendData(Lines(i * 500, 500));
    }
    // The client's KEXINIT comes once it has read past the limit; the server
    // goes on sending meanwhile (data may cross the client's KEXINIT).
    while (exchanges < 2) {
        auto [type, payload] = s_.server.Read();
        ASSERT_NE(0, type);
        if (type != SSH2_MSG_KEXINIT) continue;
        s_.server.KexAfterClientKexinit(payload);
        exchanges++;
        for (int i = 0; i < 10; i++) {
            const std::string text = Lines(100000 + exchanges * 10000 + i * 500, 500);
            download += text;
            s_.SendData(text);
        }
    }
    s_.SendClose();
    reader.join();
    EXPECT_EQ("", s_.reader_error);
    EXPECT_EQ(download, s_.received);
}

TEST_F(RekeyTest, RepliesOwedDuringOurExchangeFollowItsNewkeys) {
    // The client has sent its KEXINIT (time limit passed); before the
    // server's KEXINIT arrive a keep-alive and data.
    s_.channel.rekey.second_limit = 1;
    s_.channel.rekey.keys_since -= std::chrono::seconds(2);
    s_.server.Send(SSH2_MSG_GLOBAL_REQUEST, Str("keepalive@openssh.com") + "\x01");
    s_.SendData("x");
    char buffer[16];
    bool closed = false;
    PacketContext* client = s_.server.Client();
    EXPECT_EQ(1, ssh2_channel_read(client, &s_.channel, &s_.lock, buffer, sizeof buffer, &closed));
    auto [type, payload] = s_.server.Read();
    ASSERT_EQ(SSH2_MSG_KEXINIT, type);  // and no reply before it, none after
    EXPECT_TRUE(s_.channel.rekey.own_sent);
    EXPECT_EQ(1u, s_.channel.rekey.held.size());
    std::thread server([&] {
        s_.server.KexAfterClientKexinit(payload);
        s_.SendData("y");
    });
    EXPECT_EQ(1, ssh2_channel_read(client, &s_.channel, &s_.lock, buffer, sizeof buffer, &closed));
    server.join();
    EXPECT_EQ('y', buffer[0]);
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, s_.server.Read().first);
    EXPECT_FALSE(s_.channel.rekey.own_sent);
    EXPECT_EQ(1, s_.channel.rekey.exchanges);
}

}  // namespace
