#include <gtest/gtest.h>

#include <set>
#include <string>

#include "packet_test_support.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/crc32.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const unsigned char kSessionKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                       12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                       23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

// A wire frame built by hand: length, padding, type, payload, CRC.
std::string Frame(int type, const std::string& payload, char pad = 0) {
    uint32_t length = static_cast<uint32_t>(payload.size()) + 5;
    std::string body(8 - length % 8, pad);
    body += static_cast<char>(type);
    body += payload;
    body += BigEndian(ssh_crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
    return BigEndian(length) + body;
}

}  // namespace

class PacketSsh1Test : public SshTest {
  protected:
    int Poll(int* length = nullptr) { return packet_read_poll(&server_.context, length); }
    Endpoint client_, server_;
};

TEST_F(PacketSsh1Test, WireSizesAndPlainFraming) {
    std::string three = client_.Send(SSH_CMSG_STDIN_DATA, "abc");
    EXPECT_EQ(three.size(), 20u);  // L = 8: eight padding bytes
    EXPECT_EQ(three, Frame(SSH_CMSG_STDIN_DATA, "abc"));
    std::string two = client_.Send(SSH_CMSG_STDIN_DATA, "ab");
    EXPECT_EQ(two.size(), 12u);  // L = 7: one padding byte
    // The check bytes are the CRC of padding, type and payload.
    EXPECT_EQ(two, Frame(SSH_CMSG_STDIN_DATA, "ab"));
}

TEST_F(PacketSsh1Test, RoundTripForEveryCipher) {
    for (int number : {0, 3, 6}) {
        Endpoint client, server;
        packet_set_encryption_key(&client.context, kSessionKey, 32, number);
        packet_set_encryption_key(&server.context, kSessionKey, 32, number);
        for (size_t n = 0; n < 40; n++) {
            std::string payload(n, static_cast<char>('a' + n % 26));
            std::string wire = client.Send(SSH_SMSG_STDOUT_DATA, payload);
            EXPECT_EQ(wire.size(), 4 + ((n + 5 + 8) & ~size_t{7})) << number << " " << n;
            if (number != 0 && n >= 8) {
                EXPECT_EQ(wire.find(payload), std::string::npos) << "plaintext on the wire";
            }
        }
        // Delivered in awkward pieces: the parser waits for whole packets.
        int delivered = 0;
        for (size_t off = 0; off < client.sent.size(); off += 13) {
            server.Receive(client.sent.substr(off, 13));
            int length = 0;
            while (int type = packet_read_poll(&server.context, &length)) {
                EXPECT_EQ(type, SSH_SMSG_STDOUT_DATA);
                EXPECT_EQ(server.Payload(), std::string(static_cast<size_t>(delivered),
                                                        static_cast<char>('a' + delivered % 26)));
                EXPECT_EQ(length, delivered);
                delivered++;
            }
        }
        EXPECT_EQ(delivered, 40) << number;
    }
}

TEST_F(PacketSsh1Test, EncryptedPaddingIsRandom) {
    // Decrypting the wire by hand shows the padding: zeros would repeat.
    packet_set_encryption_key(&client_.context, kSessionKey, 32, 3);
    CipherContext reader{};
    cipher_set_key(&reader, 3, kSessionKey, 32);
    std::set<std::string> paddings;
    for (int i = 0; i < 8; i++) {
        std::string wire = client_.Send(SSH_CMSG_STDIN_DATA, "abc");
        std::string plain(16, '\0');
        cipher_decrypt(&reader, reinterpret_cast<unsigned char*>(plain.data()),
                       reinterpret_cast<const unsigned char*>(wire.data()) + 4, 16);
        EXPECT_EQ(plain.substr(8, 4), std::string("\x10"
                                                  "abc"));
        paddings.insert(plain.substr(0, 8));
    }
    EXPECT_EQ(paddings.size(), 8u);
}

TEST_F(PacketSsh1Test, BadLengthsAreFatal) {
    server_.Receive(BigEndian(4) + std::string(8, '\0'));
    EXPECT_EQ(FatalMessage([&] { Poll(); }), "Bad packet length 4.");
    Endpoint big;
    big.Receive(BigEndian(262145) + std::string(8, '\0'));
    EXPECT_EQ(FatalMessage([&] { packet_read_poll(&big.context, nullptr); }),
              "Bad packet length 262145.");
    // The largest length waits for its bytes instead.
    Endpoint largest;
    largest.Receive(BigEndian(262144) + std::string(8, '\0'));
    EXPECT_EQ(packet_read_poll(&largest.context, nullptr), 0);
    // A session key shorter than 32 bytes.
    EXPECT_EQ(
        FatalMessage([&] { packet_set_encryption_key(&client_.context, kSessionKey, 16, 3); }),
        "keylen too small: 16");
}

TEST_F(PacketSsh1Test, CorruptedCheckBytesAreFatal) {
    std::string frame = Frame(SSH_SMSG_STDOUT_DATA, "payload");
    frame[14] ^= 0x01;
    server_.Receive(frame);
    EXPECT_EQ(FatalMessage([&] { Poll(); }), "Corrupted check bytes on input.");
}

TEST_F(PacketSsh1Test, TransportMessagesAreFiltered) {
    std::string wire = Frame(SSH_MSG_IGNORE, SshString("junk")) +
                       Frame(SSH_MSG_DEBUG, SshString("note")) +
                       Frame(SSH_SMSG_STDOUT_DATA, SshString("data"));
    server_.Receive(wire);
    int length = 0;
    EXPECT_EQ(Poll(&length), SSH_SMSG_STDOUT_DATA);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(Poll(), 0);

    server_.Receive(Frame(SSH_MSG_DISCONNECT, SshString("bye %s")));
    EXPECT_EQ(FatalMessage([&] { Poll(); }), "Received disconnect: bye %s");
    Endpoint other;
    other.Receive(Frame(SSH_MSG_DISCONNECT, SshString(std::string(1000, 'z'))));
    EXPECT_EQ(FatalMessage([&] { packet_read_poll(&other.context, nullptr); }),
              "Received disconnect: " + std::string(900, 'z'));
}

TEST_F(PacketSsh1Test, StatusMessagesMustBeEmpty) {
    server_.to_read = Frame(SSH_SMSG_SUCCESS, "") + Frame(SSH_SMSG_SUCCESS, "x");
    EXPECT_EQ(packet_read(&server_.context, nullptr), SSH_SMSG_SUCCESS);
    CaptureStderr();
    std::string message = FatalMessage([&] { packet_read(&server_.context, nullptr); });
    std::string logged = GetCapturedStderr();
    EXPECT_EQ(message, "Packet integrity error. (14)");
    EXPECT_EQ(logged.rfind("Packet integrity error (1 != 0) at ", 0), 0u) << logged;
}

TEST_F(PacketSsh1Test, ReadPullsThroughTheHookByteByByte) {
    server_.to_read = Frame(SSH_SMSG_STDOUT_DATA, SshString("hello"));
    server_.read_chunk = 1;
    int length = 0;
    EXPECT_EQ(packet_read(&server_.context, &length), SSH_SMSG_STDOUT_DATA);
    uint32_t text_length = 0;
    XmallocPtr<char> text(static_cast<char*>(packet_get_string(&server_.context, &text_length)));
    EXPECT_STREQ(text.get(), "hello");
    EXPECT_EQ(packet_remaining(&server_.context), 0);

    EXPECT_EQ(FatalMessage([&] { packet_read(&server_.context, nullptr); }),
              "Connection closed by XXX");
    server_.read_error = ECONNRESET;
    EXPECT_EQ(FatalMessage([&] { packet_read(&server_.context, nullptr); }),
              std::string("Read from socket failed: ") + std::strerror(ECONNRESET));
}

TEST_F(PacketSsh1Test, MisuseIsFatal) {
    server_.to_read = Frame(SSH_SMSG_FAILURE, "");
    EXPECT_EQ(
        FatalMessage([&] { packet_read_expect(&server_.context, nullptr, SSH_SMSG_SUCCESS); }),
        "Protocol error: expected packet type 14, got 15");
    EXPECT_EQ(FatalMessage([&] { packet_send(&client_.context); }),
              "packet_send: no packet started");
    PacketContext bare{};
    packet_start(&bare, SSH_CMSG_EOF);
    packet_send(&bare);
    EXPECT_EQ(FatalMessage([&] { packet_write_wait(&bare); }),
              "packet_write_poll: no write hook installed");
    EXPECT_EQ(FatalMessage([&] { packet_read(&bare, nullptr); }),
              "packet_read: no read hook installed");
    packet_free(&bare);
}
