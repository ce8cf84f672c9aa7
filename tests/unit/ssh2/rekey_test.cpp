// Re-keying during a session (RFC 4253 section 9) against a fake server in
// its own thread, with the session's reader and writer threads running:
// server-initiated and client-initiated exchanges, data both ways before,
// during and after, nothing lost or doubled, the session id kept, the old
// keys replaced, and no channel data between our KEXINIT and our NEWKEYS.
#include <atomic>
#include <thread>

#include "fake_ssh2_server.h"
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

class RekeyTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        // The login's exchange, client and server each in their thread.
        std::thread server([&] { server_.Kex(false); });
        ssh2_key_exchange(server_.Client());
        server.join();
        session_id_.assign(reinterpret_cast<char*>(server_.Client()->session_id2),
                           server_.Client()->session_id2_len);
        ASSERT_EQ(server_.SessionId(), session_id_);
        channel_.remote_id = 5;
        channel_.remote_max_packet = 16384;
        channel_.gate.SetWindow(UINT32_MAX);
    }
    std::thread StartReader() {
        return std::thread([this] {
            try {
                char buffer[4096];
                bool closed = false;
                while (!closed) {
                    const int n = ssh2_channel_read(server_.Client(), &channel_, &lock_, buffer,
                                                    sizeof buffer, &closed);
                    received_.append(buffer, static_cast<size_t>(n));
                }
            } catch (const TException& e) {
                reader_error_ = e.Message();
            }
        });
    }
    std::thread StartWriter(const std::string& text, unsigned piece) {
        return std::thread([this, &text, piece] {
            try {
                for (std::size_t at = 0; at < text.size(); at += piece) {
                    const unsigned n =
                        static_cast<unsigned>(std::min<std::size_t>(piece, text.size() - at));
                    ssh2_channel_write(server_.Client(), &channel_, &lock_, text.data() + at, n);
                }
            } catch (const TException& e) {
                writer_error_ = e.Message();
            }
        });
    }
    FakeSsh2Server server_;
    Ssh2Channel channel_;
    TCriticalSection lock_;
    std::string session_id_;
    std::string received_;
    std::string reader_error_;
    std::string writer_error_;
};

TEST_F(RekeyTest, ServerStartedRekeysKeepEveryByteBothWays) {
    std::thread reader = StartReader();
    const std::string upload = Lines(0, 20000);
    std::thread writer = StartWriter(upload, 333);

    std::string expected_download;
    std::string uploaded;
    std::vector<std::pair<int, std::string>> before;
    // Three exchanges, the second with another cipher, data in between.
    const char* ciphers[] = {"3des-cbc", "blowfish-cbc", "3des-cbc"};
    for (int round = 0; round < 3; round++) {
        const std::string text = Lines(round * 1000, 1000);
        server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString(text));
        expected_download += text;
        before.clear();
        server_.Kex(true, &before, ciphers[round]);
        for (const auto& [type, payload] : before)
            if (type == SSH2_MSG_CHANNEL_DATA) uploaded += payload.substr(8);
        server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString("after " + text));
        expected_download += "after " + text;
    }
    // The rest of the upload, under the last keys.
    while (uploaded.size() < upload.size()) {
        auto [type, payload] = server_.Read();
        ASSERT_NE(0, type) << "upload stopped at " << uploaded.size();
        ASSERT_NE(SSH2_MSG_KEXINIT, type);
        if (type == SSH2_MSG_CHANNEL_DATA) uploaded += payload.substr(8);
    }
    writer.join();
    server_.Send(SSH2_MSG_CHANNEL_CLOSE, WireU32(0));
    reader.join();

    EXPECT_EQ("", reader_error_);
    EXPECT_EQ("", writer_error_);
    EXPECT_EQ(upload, uploaded);
    EXPECT_EQ(expected_download, received_);
    EXPECT_EQ(3, channel_.rekey.exchanges);
    // The session id is still the first exchange's.
    EXPECT_EQ(session_id_, std::string(reinterpret_cast<char*>(server_.Client()->session_id2),
                                       server_.Client()->session_id2_len));
    // Both directions use the newest keys, and only one record is left.
    PacketContext* client = server_.Client();
    EXPECT_EQ(client->kex, client->keys_in_force[MODE_IN]);
    EXPECT_EQ(client->kex, client->keys_in_force[MODE_OUT]);
    EXPECT_EQ(SSH_CIPHER_3DES_CBC, client->kex->enc[MODE_OUT].type);
}

TEST_F(RekeyTest, TheClientRekeysAfterItsByteLimit) {
    channel_.rekey.byte_limit = 20000;
    std::thread reader = StartReader();
    const std::string upload = Lines(0, 30000);  // about 180 KB
    std::thread writer = StartWriter(upload, 1000);

    std::string uploaded;
    int exchanges = 0;
    while (uploaded.size() < upload.size()) {
        auto [type, payload] = server_.Read();
        ASSERT_NE(0, type) << "upload stopped at " << uploaded.size();
        if (type == SSH2_MSG_CHANNEL_DATA) {
            uploaded += payload.substr(8);
            continue;
        }
        ASSERT_EQ(SSH2_MSG_KEXINIT, type);
        // The client started: the fake server goes on with the exchange
        // from the client's KEXINIT it has just read.
        server_.KexAfterClientKexinit(payload);
        exchanges++;
    }
    writer.join();
    // About nine times the limit went out (with the packets' own bytes).
    EXPECT_GE(exchanges, 7);
    EXPECT_LE(exchanges, 10);
    server_.Send(SSH2_MSG_CHANNEL_CLOSE, WireU32(0));
    reader.join();
    EXPECT_EQ("", reader_error_);
    EXPECT_EQ("", writer_error_);
    EXPECT_EQ(upload, uploaded);
    EXPECT_EQ(exchanges, channel_.rekey.exchanges);
}

TEST_F(RekeyTest, TheClientRekeysAfterReceivingItsByteLimit) {
    channel_.rekey.byte_limit = 16384;
    std::thread reader = StartReader();
    std::string download;
    int exchanges = 0;
    for (int i = 0; i < 20; i++) {
        const std::string text = Lines(i * 500, 500);
        download += text;
        server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString(text));
    }
    // The client's KEXINIT comes once it has read past the limit; the server
    // goes on sending meanwhile (data may cross the client's KEXINIT).
    while (exchanges < 2) {
        auto [type, payload] = server_.Read();
        ASSERT_NE(0, type);
        if (type != SSH2_MSG_KEXINIT) continue;
        server_.KexAfterClientKexinit(payload);
        exchanges++;
        for (int i = 0; i < 10; i++) {
            const std::string text = Lines(100000 + exchanges * 10000 + i * 500, 500);
            download += text;
            server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString(text));
        }
    }
    server_.Send(SSH2_MSG_CHANNEL_CLOSE, WireU32(0));
    reader.join();
    EXPECT_EQ("", reader_error_);
    EXPECT_EQ(download, received_);
}

TEST_F(RekeyTest, RepliesOwedDuringOurExchangeFollowItsNewkeys) {
    // The client has sent its KEXINIT (time limit passed); before the
    // server's KEXINIT arrive a keep-alive and data.
    channel_.rekey.second_limit = 1;
    channel_.rekey.keys_since -= std::chrono::seconds(2);
    server_.Send(SSH2_MSG_GLOBAL_REQUEST, WireString("keepalive@openssh.com") + "\x01");
    server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString("x"));
    char buffer[16];
    bool closed = false;
    EXPECT_EQ(
        1, ssh2_channel_read(server_.Client(), &channel_, &lock_, buffer, sizeof buffer, &closed));
    auto [type, payload] = server_.Read();
    ASSERT_EQ(SSH2_MSG_KEXINIT, type);  // and no reply before it, none after
    EXPECT_TRUE(channel_.rekey.own_sent);
    EXPECT_EQ(1u, channel_.rekey.held.size());
    std::thread server([&] {
        server_.KexAfterClientKexinit(payload);
        server_.Send(SSH2_MSG_CHANNEL_DATA, WireU32(0) + WireString("y"));
    });
    EXPECT_EQ(
        1, ssh2_channel_read(server_.Client(), &channel_, &lock_, buffer, sizeof buffer, &closed));
    server.join();
    EXPECT_EQ('y', buffer[0]);
    EXPECT_EQ(SSH2_MSG_REQUEST_FAILURE, server_.Read().first);
    EXPECT_FALSE(channel_.rekey.own_sent);
    EXPECT_EQ(1, channel_.rekey.exchanges);
}

}  // namespace
