#include "net/file_connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/exception.h"
#include "config/host_config.h"

namespace fs = std::filesystem;

namespace {

THostConfig Replay(const std::string& name, const std::string* bytes) {
    if (bytes != nullptr) std::ofstream(name, std::ios::binary) << *bytes;
    THostConfig host;
    host.SetProtocol(kProtocolFile);
    host.SetAddress(name);
    return host;
}

}  // namespace

// One byte a call, binary throughout, then 0 with the connection still open,
// each such poll waiting a while; "out.fc" is replaced by an empty one (in
// the current directory: the test runs in a fresh one); a write raises the
// read-only message, also when empty; an empty file is open and gives
// nothing; a missing one is not opened.
TEST(Replay, DeliversOneByteAPerCallThenWaitsWhileOpen) {
    char dir[] = "/tmp/quenlor-replay-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path old_dir = fs::current_path();
    fs::current_path(dir);
    char buffer[64];
    std::ofstream("out.fc") << "earlier content";
    const std::string bytes("\0\x1a\xff", 3);
    THostConfig host = Replay("capture.bin", &bytes);
    {
        TFileConnection connection(&host, 2);
        EXPECT_EQ(fs::file_size("out.fc"), 0u);
        EXPECT_EQ(connection.GetState(), kStateOpen);
        EXPECT_TRUE(connection.WaitForData(0));
        for (char expected : bytes) {
            ASSERT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 1);
            EXPECT_EQ(buffer[0], expected);
        }
        constexpr int kCalls = 4;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCalls; ++i) {
            EXPECT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 0);
            EXPECT_EQ(connection.GetState(), kStateOpen);
        }
        EXPECT_GE(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(kCalls * kReplayIdleDelayMs));
        for (unsigned length : {3u, 0u}) {
            try {
                connection.PutBuffer("xyz", length, false);
                ADD_FAILURE() << "a write went through";
            } catch (const TException& e) {
                EXPECT_STREQ(
                    e.what(),
                    "TFileConnection::PutBuffer. TFileConnection is read only connection.");
            }
        }
        EXPECT_FALSE(connection.ReportWindowSize(nullptr));
    }
    EXPECT_EQ(fs::file_size("out.fc"), 0u);
    // An empty file is open and gives nothing; a missing one is not opened.
    const std::string none;
    THostConfig empty = Replay("empty.bin", &none), missing = Replay("missing.bin", nullptr);
    TFileConnection open(&empty, 0), closed(&missing, 0);
    EXPECT_EQ(open.GetState(), kStateOpen);
    EXPECT_EQ(closed.GetState(), kStateCreated);
    for (TFileConnection* c : {&open, &closed})
        EXPECT_EQ(c->GetBuffer(buffer, sizeof buffer, false), 0);
    fs::current_path(old_dir);
    fs::remove_all(dir);
}
