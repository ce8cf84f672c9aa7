#include "net/file_connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/exception.h"
#include "config/host_config.h"
#include "platform/thread.h"

namespace fs = std::filesystem;

namespace {

// Each test runs in a fresh directory of its own, since the connection
// creates "out.fc" in the current directory.
class ReplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_dir_ = fs::current_path();
        char pattern[] = "/tmp/quenlor-replay-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_dir_);
        fs::remove_all(dir_);
    }

    THostConfig Replay(const std::string& bytes, const std::string& name = "capture.bin") {
        std::ofstream(name, std::ios::binary) << bytes;
        return ReplayOf(name);
    }
    static THostConfig ReplayOf(const std::string& name) {
        THostConfig host;
        host.SetProtocol(kProtocolFile);
        host.SetAddress(name);
        return host;
    }
    static std::string Slurp(const std::string& name) {
        std::ifstream file(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    fs::path old_dir_;
    fs::path dir_;
};

}  // namespace

TEST_F(ReplayTest, DeliversOneByteAPerCallThenZeroWhileOpen) {
    // The connection replaces an old "out.fc" with an empty one.
    std::ofstream("out.fc") << "earlier content";
    // A zero byte, the old end-of-text mark 0x1A and 0xFF: binary throughout.
    const std::string bytes("\0\x1a\xff", 3);
    THostConfig host = Replay(bytes);
    {
        TFileConnection connection(&host, 2);
        EXPECT_EQ(Slurp("out.fc"), "");
        EXPECT_EQ(connection.GetState(), kStateOpen);
        EXPECT_TRUE(connection.WaitForData(0));

        char buffer[32768];
        for (char expected : bytes) {
            ASSERT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 1);
            EXPECT_EQ(buffer[0], expected);
        }
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 0);
            EXPECT_EQ(connection.GetState(), kStateOpen);
        }
    }
    ASSERT_TRUE(fs::exists("out.fc"));
    EXPECT_EQ(Slurp("out.fc"), "");
}

TEST_F(ReplayTest, EmptyAndMissingFiles) {
    char buffer[16];
    THostConfig empty = Replay("");
    TFileConnection open(&empty, 0);
    EXPECT_EQ(open.GetState(), kStateOpen);
    EXPECT_EQ(open.GetBuffer(buffer, sizeof buffer, false), 0);

    THostConfig missing = ReplayOf("no-such-capture.bin");
    TFileConnection closed(&missing, 0);  // no exception
    EXPECT_EQ(closed.GetState(), kStateCreated);
    EXPECT_EQ(closed.GetBuffer(buffer, sizeof buffer, false), 0);
}

TEST_F(ReplayTest, WritingRaisesTheReadOnlyMessage) {
    THostConfig host = Replay("abc");
    TFileConnection connection(&host, 0);
    for (unsigned length : {3u, 0u}) {
        try {
            connection.PutBuffer("xyz", length, false);
            ADD_FAILURE() << "a write went through";
        } catch (const TException& e) {
            EXPECT_STREQ(e.what(),
                         "TFileConnection::PutBuffer. TFileConnection is read only connection.");
        }
    }
    EXPECT_EQ(connection.GetState(), kStateOpen);
    EXPECT_FALSE(connection.ReportWindowSize(nullptr));
}

TEST_F(ReplayTest, PollingAfterTheEndWaitsBetweenReads) {
    THostConfig host = Replay("z");
    TFileConnection connection(&host, 0);
    char buffer[4];
    ASSERT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 1);
    constexpr int kCalls = 6;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i)
        ASSERT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kCalls * kReplayIdleDelayMs));
}

TEST_F(ReplayTest, CancellingTheSessionEndsThePolling) {
    THostConfig host = Replay("abc");
    TFileConnection connection(&host, 0);
    TThread thread;
    std::atomic<int> bytes{0};
    std::atomic<bool> left_loop{false};
    thread.Start([&] {
        char buffer[16];
        for (;;) bytes += connection.GetBuffer(buffer, sizeof buffer, false);
        left_loop = true;
    });
    usleep(300000);
    EXPECT_FALSE(thread.Finished());
    EXPECT_EQ(bytes, 3);
    thread.Cancel();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!thread.Finished() && std::chrono::steady_clock::now() < deadline) usleep(1000);
    EXPECT_TRUE(thread.Finished());
    thread.Join();
    EXPECT_FALSE(left_loop);
}
