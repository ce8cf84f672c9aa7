// Channel flow control both ways (RFC 4254 section 5.2): our data stays
// within the server's window and maximum packet size while a writer thread,
// the reader thread and the server run at once; our window is re-opened by
// exactly what the session took; waits end on cancellation and on close.
#include <atomic>
#include <thread>

#include "fake_ssh2_server.h"
#include "platform/cancel.h"
#include "ssh/connection/ssh2_channel.h"
#include "ssh/transport/ssh2.h"
#include "ssh2_test_support.h"

namespace {

class FlowControlTest : public Ssh2Test {
  protected:
    // A channel as the server confirmed it.
    void Confirm(uint32_t window, uint32_t max_packet) {
        channel_.remote_id = 5;
        channel_.remote_max_packet = max_packet;
        channel_.gate.SetWindow(window);
    }
    // The reader thread: delivers data until the channel closes.
    std::thread StartReader() {
        return std::thread([this] {
            try {
                char buffer[4096];
                bool closed = false;
                while (!closed)
                    ssh2_channel_read(server_.Client(), &channel_, &lock_, buffer, sizeof buffer,
                                      &closed);
            } catch (const TException& e) {
                reader_error_ = e.Message();
            }
        });
    }

    FakeSsh2Server server_;
    Ssh2Channel channel_;
    TCriticalSection lock_;
    std::string reader_error_;
};

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
        FakeSsh2Server server;
        Ssh2Channel channel;
        channel.remote_id = 5;
        channel.remote_max_packet = c.max_packet;
        channel.gate.SetWindow(c.window);
        std::string text;
        for (std::size_t i = 0; text.size() < c.total; i++) text += std::to_string(i) + ",";
        text.resize(c.total);

        std::thread reader([&] {
            try {
                char buffer[256];
                bool closed = false;
                while (!closed)
                    ssh2_channel_read(server.Client(), &channel, &lock_, buffer, sizeof buffer,
                                      &closed);
            } catch (const TException&) {
            }
        });
        std::thread writer([&] {
            ssh2_channel_write(server.Client(), &channel, &lock_, text.data(),
                               static_cast<unsigned>(text.size()));
        });

        // The server keeps its own account of the window it granted.
        uint64_t granted = c.window;
        uint64_t used = 0;
        std::string received;
        bool ok = true;
        while (received.size() < text.size() && ok) {
            if (used == granted) {
                server.Send(SSH2_MSG_CHANNEL_WINDOW_ADJUST, WireU32(0) + WireU32(c.grant));
                granted += c.grant;
            }
            auto [type, payload] = server.Read();
            ASSERT_EQ(SSH2_MSG_CHANNEL_DATA, type);
            ASSERT_EQ(WireU32(5), payload.substr(0, 4));
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
        server.Send(SSH2_MSG_CHANNEL_CLOSE, WireU32(0));
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
        FakeSsh2Server server;
        Ssh2Channel channel;
        channel.remote_id = 9;
        channel.remote_max_packet = 32768;
        std::atomic<uint64_t> taken{0};
        std::thread reader([&] {
            try {
                char buffer[32768];
                bool closed = false;
                while (!closed)
                    taken += static_cast<uint64_t>(ssh2_channel_read(
                        server.Client(), &channel, &lock_, buffer, c.buffer, &closed));
            } catch (const TException&) {
            }
        });
        // The server sends what its window allows, as a real one does.
        uint64_t window = kChannelWindowSize;
        uint64_t sent = 0;
        uint64_t adjusted = 0;
        while (sent < c.total) {
            if (window > 0) {
                const uint64_t n = std::min<uint64_t>({window, c.piece, c.total - sent});
                server.Send(SSH2_MSG_CHANNEL_DATA,
                            WireU32(0) + WireString(std::string(static_cast<size_t>(n), 'q')));
                window -= n;
                sent += n;
                continue;
            }
            auto [type, payload] = server.Read();
            ASSERT_EQ(SSH2_MSG_CHANNEL_WINDOW_ADJUST, type);
            ASSERT_EQ(WireU32(9), payload.substr(0, 4));
            const uint32_t adjust = WireGetU32(payload, 4);
            adjusted += adjust;
            window += adjust;
            // Never more than the session took, never past the window size.
            EXPECT_LE(adjusted, taken.load());
            EXPECT_LE(window, kChannelWindowSize);
        }
        server.Send(SSH2_MSG_CHANNEL_CLOSE, WireU32(0));
        reader.join();
        EXPECT_EQ(c.total, taken.load());
        // Whatever adjustments are still on their way balance the account.
        for (;;) {
            auto [type, payload] = server.Read();
            if (type == SSH2_MSG_CHANNEL_CLOSE) break;
            ASSERT_EQ(SSH2_MSG_CHANNEL_WINDOW_ADJUST, type);
            adjusted += WireGetU32(payload, 4);
        }
        EXPECT_EQ(taken.load() - channel.consumed, adjusted);
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
    Confirm(0, 100);
    TCancellation cancel;
    std::atomic<bool> cancelled{false};
    std::thread writer([&] {
        SetCurrentCancellation(&cancel);
        try {
            ssh2_channel_write(server_.Client(), &channel_, &lock_, "abc", 3);
        } catch (const TThreadCancelled&) {
            cancelled = true;
        }
        SetCurrentCancellation(nullptr);
    });
    // While the writer waits, the reader can still answer the server.
    server_.Send(SSH2_MSG_GLOBAL_REQUEST, WireString("keepalive@openssh.com") + "\x01");
    server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString("x"));
    char buffer[16];
    bool closed = false;
    EXPECT_EQ(
        1, ssh2_channel_read(server_.Client(), &channel_, &lock_, buffer, sizeof buffer, &closed));
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, server_.Read().first);
    cancel.Cancel();
    writer.join();
    EXPECT_TRUE(cancelled);
}

TEST_F(FlowControlTest, AChannelCloseEndsAWaitingWriterAndIsAnswered) {
    Confirm(10, 100);
    std::thread reader = StartReader();
    const std::string text(50, 'w');
    std::thread writer(
        [&] { ssh2_channel_write(server_.Client(), &channel_, &lock_, text.data(), 50); });
    auto [type, payload] = server_.Read();
    EXPECT_EQ(SSH2_MSG_CHANNEL_DATA, type);
    EXPECT_EQ(WireU32(5) + WireString(std::string(10, 'w')), payload);
    server_.Send(SSH2_MSG_CHANNEL_CLOSE, WireU32(0));
    writer.join();  // the rest is dropped: the channel is gone
    reader.join();
    EXPECT_EQ("", reader_error_);
    std::tie(type, payload) = server_.Read();
    EXPECT_EQ(SSH2_MSG_CHANNEL_CLOSE, type);
    EXPECT_EQ(WireU32(5), payload);
}

}  // namespace
