#include <gtest/gtest.h>

#include <set>
#include <string>

#include "packet_test_support.h"
#include "ssh/transport/ssh2.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// A plaintext SSH-2 frame built by hand.
std::string Frame(const std::string& body, int padding = -1) {
    uint32_t used = 5 + static_cast<uint32_t>(body.size());
    if (padding < 0) {
        padding = static_cast<int>(8 - used % 8);
        if (padding < 4) padding += 8;
    }
    std::string frame = BigEndian(used - 4 + static_cast<uint32_t>(padding));
    frame += static_cast<char>(padding);
    return frame + body + std::string(static_cast<size_t>(padding), '\0');
}

std::string Message(int type, const std::string& rest) {
    return std::string(1, char(type)) + rest;
}

}  // namespace

class PacketSsh2Test : public SshTest {
  protected:
    // Hands over keys and exchanges NEWKEYS both ways.
    void Rekey(int cipher, const EVP_MD* md, int block_size = 8, int compression = COMP_NONE) {
        packet_set_kex(&client_.context, MakeKex(true, cipher, md, block_size, compression));
        packet_set_kex(&server_.context, MakeKex(false, cipher, md, block_size, compression));
        server_.Receive(client_.Send(SSH2_MSG_NEWKEYS, ""));
        EXPECT_EQ(Poll(server_), SSH2_MSG_NEWKEYS);
        client_.Receive(server_.Send(SSH2_MSG_NEWKEYS, ""));
        EXPECT_EQ(Poll(client_), SSH2_MSG_NEWKEYS);
    }
    static int Poll(Endpoint& e, int* length = nullptr) {
        return packet_read_poll(&e.context, length);
    }
    Endpoint client_{true}, server_{true};
};

TEST_F(PacketSsh2Test, PlainFramingBeforeKeys) {
    std::string wire = client_.Send(SSH2_MSG_SERVICE_REQUEST, std::string(10, 'p'));
    // 4 + 1 + 11 = 16 bytes, so P = 8 and the length field says 20.
    ASSERT_EQ(wire.size(), 24u);
    EXPECT_EQ(wire, Frame(Message(SSH2_MSG_SERVICE_REQUEST, std::string(10, 'p'))));
    server_.Receive(wire);
    int length = 0;
    EXPECT_EQ(Poll(server_, &length), SSH2_MSG_SERVICE_REQUEST);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(server_.Payload(), std::string(10, 'p'));
}

TEST_F(PacketSsh2Test, KeysAreWipedAndReleasedAtNewkeys) {
    packet_set_kex(&client_.context, MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1()));
    EXPECT_NE(client_.context.kex->enc[MODE_OUT].key, nullptr);
    client_.Send(SSH2_MSG_NEWKEYS, "");
    EXPECT_EQ(client_.context.kex->enc[MODE_OUT].key, nullptr);
    EXPECT_EQ(client_.context.kex->enc[MODE_OUT].iv, nullptr);
    EXPECT_EQ(client_.context.kex->mac[MODE_OUT].enabled, 1);
    // The incoming direction waits for its own NEWKEYS.
    EXPECT_NE(client_.context.kex->enc[MODE_IN].key, nullptr);
    EXPECT_EQ(client_.context.kex->mac[MODE_IN].enabled, 0);
}

TEST_F(PacketSsh2Test, PaddingIsRandomOnceEncrypted) {
    Rekey(SSH_CIPHER_3DES_CBC, EVP_md5());
    // A reader keyed like the server's incoming side sees the plaintext.
    KexResult* keys = MakeKex(false, SSH_CIPHER_3DES_CBC, EVP_md5());
    CipherContext reader{};
    cipher_set_key_iv(&reader, SSH_CIPHER_3DES_CBC, keys->enc[MODE_IN].key, 24,
                      keys->enc[MODE_IN].iv, 8);
    kex_result_free(keys);
    std::set<std::string> paddings;
    for (int i = 0; i < 6; i++) {
        std::string wire = client_.Send(SSH2_MSG_CHANNEL_DATA, "abc");
        ASSERT_EQ(wire.size(), 16u + 16);
        std::string plain(16, '\0');
        cipher_decrypt(&reader, reinterpret_cast<unsigned char*>(plain.data()),
                       reinterpret_cast<const unsigned char*>(wire.data()), 16);
        // 4 + 1 + 1 + 3 = 9 bytes: seven padding bytes make 16.
        EXPECT_EQ(plain.substr(0, 9), BigEndian(12) +
                                          "\x07"
                                          "\x5e"
                                          "abc");
        paddings.insert(plain.substr(9));
    }
    EXPECT_EQ(paddings.size(), 6u);
}

TEST_F(PacketSsh2Test, BadLengthsAreFatal) {
    server_.Receive(BigEndian(4) + "\x01\x02\x03\x04");
    std::string message;
    EXPECT_EQ(StderrOf([&] { message = FatalMessage([&] { Poll(server_); }); }),
              " 00 00 00 04 01 02 03 04\n");
    EXPECT_EQ(message, "Bad packet length 4.");

    Endpoint big(true);
    big.Receive(BigEndian(262145) + std::string(4, '\0'));
    StderrOf([&] { EXPECT_EQ(FatalMessage([&] { Poll(big); }), "Bad packet length 262145."); });

    Endpoint odd(true);
    odd.Receive(BigEndian(13) + std::string(4, '\0'));
    EXPECT_EQ(FatalMessage([&] { Poll(odd); }), "padding error: need 9 block 8 mod 1");
}

TEST_F(PacketSsh2Test, BadPaddingIsFatal) {
    // Length 12: padding length byte, type, 7 payload bytes, 3 padding bytes.
    server_.Receive(Frame(Message(SSH2_MSG_CHANNEL_DATA, "1234567"), 3));
    EXPECT_EQ(FatalMessage([&] { Poll(server_); }), "Corrupted padlen 3 on input.");

    // Padding that leaves no room for the type byte.
    Endpoint greedy(true);
    std::string frame = BigEndian(12) + "\x0b" + std::string(11, '\0');
    greedy.Receive(frame);
    EXPECT_EQ(FatalMessage([&] { Poll(greedy); }), "Corrupted padlen 11 on input.");

    // One less leaves exactly the type: a valid empty message.
    Endpoint tight(true);
    tight.Receive(BigEndian(12) +
                  "\x0a"
                  "\x60" +
                  std::string(10, '\0'));
    int length = -1;
    EXPECT_EQ(Poll(tight, &length), SSH2_MSG_CHANNEL_EOF);
    EXPECT_EQ(length, 0);
}

TEST_F(PacketSsh2Test, IgnoreAndDebugAreNeverDelivered) {
    server_.Receive(
        Frame(Message(SSH2_MSG_IGNORE, SshString("padding"))) +
        Frame(Message(SSH2_MSG_DEBUG, std::string("\x01") + SshString("hello") + SshString("en"))) +
        Frame(Message(SSH2_MSG_CHANNEL_DATA, "x")));
    EXPECT_EQ(Poll(server_), SSH2_MSG_CHANNEL_DATA);
    EXPECT_EQ(server_.Payload(), "x");
    EXPECT_EQ(Poll(server_), 0);
}

TEST_F(PacketSsh2Test, DisconnectIsFatalWithTheRemoteText) {
    server_.Receive(Frame(
        Message(SSH2_MSG_DISCONNECT, BigEndian(11) + SshString("bye %s %n") + SshString(""))));
    EXPECT_EQ(FatalMessage([&] { Poll(server_); }), "Received disconnect: 11: bye %s %n");

    Endpoint other(true);
    other.Receive(
        Frame(Message(SSH2_MSG_DISCONNECT, BigEndian(2) + SshString(std::string(950, 'w')))));
    EXPECT_EQ(FatalMessage([&] { Poll(other); }),
              "Received disconnect: 2: " + std::string(900, 'w'));
}

TEST_F(PacketSsh2Test, SequenceNumbersWrapAround) {
    Rekey(SSH_CIPHER_BLOWFISH_CBC, EVP_sha1());
    client_.context.send_seqnr = 0xffffffffu;
    server_.context.read_seqnr = 0xffffffffu;
    CaptureStderr();
    server_.Receive(client_.Send(SSH2_MSG_CHANNEL_DATA, "last"));
    server_.Receive(client_.Send(SSH2_MSG_CHANNEL_DATA, "first"));
    EXPECT_EQ(GetCapturedStderr(), "outgoing seqnr wraps around\r\n");
    CaptureStderr();
    EXPECT_EQ(Poll(server_), SSH2_MSG_CHANNEL_DATA);
    EXPECT_EQ(server_.Payload(), "last");
    EXPECT_EQ(Poll(server_), SSH2_MSG_CHANNEL_DATA);
    EXPECT_EQ(server_.Payload(), "first");
    EXPECT_EQ(GetCapturedStderr(), "incoming seqnr wraps around\r\n");
    EXPECT_EQ(client_.context.send_seqnr, 1u);
    EXPECT_EQ(server_.context.read_seqnr, 1u);
}

TEST_F(PacketSsh2Test, NewkeysWithoutKeysIsFatal) {
    EXPECT_EQ(FatalMessage([&] { client_.Send(SSH2_MSG_NEWKEYS, ""); }), "packet_send2: no KEX");
    server_.Receive(Frame(Message(SSH2_MSG_NEWKEYS, "")));
    EXPECT_EQ(FatalMessage([&] { Poll(server_); }), "packet_read_poll2: no KEX");

    // A second NEWKEYS finds the keys already used up.
    Endpoint client(true), server(true);
    packet_set_kex(&client.context, MakeKex(true, SSH_CIPHER_ARCFOUR, EVP_sha1()));
    packet_set_kex(&server.context, MakeKex(false, SSH_CIPHER_ARCFOUR, EVP_sha1()));
    server.Receive(client.Send(SSH2_MSG_NEWKEYS, ""));
    EXPECT_EQ(Poll(server), SSH2_MSG_NEWKEYS);
    EXPECT_EQ(FatalMessage([&] { client.Send(SSH2_MSG_NEWKEYS, ""); }), "packet_send2: no KEX");
    packet_write_wait(&client.context);  // the packet itself was queued
    server.Receive(client.sent.substr(client.sent.size() - 36));
    EXPECT_EQ(FatalMessage([&] { Poll(server); }), "packet_read_poll2: no KEX");
}

TEST_F(PacketSsh2Test, IncompleteKeyExchangeResultIsRefused) {
    KexResult* missing_mac_key = MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1());
    xfree(missing_mac_key->mac[MODE_IN].key);
    missing_mac_key->mac[MODE_IN].key = nullptr;
    EXPECT_EQ(FatalMessage([&] { packet_set_kex(&client_.context, missing_mac_key); }), "bad KEX");
    EXPECT_EQ(client_.context.kex, nullptr);

    KexResult* missing_iv = MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1());
    xfree(missing_iv->enc[MODE_OUT].iv);
    missing_iv->enc[MODE_OUT].iv = nullptr;
    EXPECT_EQ(FatalMessage([&] { packet_set_kex(&client_.context, missing_iv); }), "bad KEX");

    KexResult* odd_block = MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1(), 12);
    EXPECT_EQ(FatalMessage([&] { packet_set_kex(&client_.context, odd_block); }), "bad KEX");

    KexResult* long_mac = MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_md5());
    long_mac->mac[MODE_OUT].mac_len = 20;  // more than an MD5 digest holds
    EXPECT_EQ(FatalMessage([&] { packet_set_kex(&client_.context, long_mac); }), "bad KEX");

    KexResult* long_key = MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1());
    Enc& out = long_key->enc[MODE_OUT];
    out.key = static_cast<unsigned char*>(xrealloc(out.key, kNeed + 8));
    out.key_len = kNeed + 8;  // more key than the exchange derived
    EXPECT_EQ(FatalMessage([&] { packet_set_kex(&client_.context, long_key); }), "bad KEX");

    packet_set_kex(&client_.context, MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1()));
    KexResult* second = MakeKex(true, SSH_CIPHER_3DES_CBC, EVP_sha1());
    EXPECT_EQ(FatalMessage([&] { packet_set_kex(&client_.context, second); }), "bad KEX");
}

TEST_F(PacketSsh2Test, NegotiatedCompressionIsStartedAndUsed) {
    Rekey(SSH_CIPHER_BLOWFISH_CBC, EVP_sha1(), 8, COMP_ZLIB);
    EXPECT_EQ(client_.context.compression_started, 1);
    std::string text(3000, 'z');
    for (int i = 0; i < 3; i++) {
        std::string wire = client_.Send(SSH2_MSG_CHANNEL_DATA, text);
        EXPECT_LT(wire.size(), 200u);
        server_.Receive(wire);
        EXPECT_EQ(Poll(server_), SSH2_MSG_CHANNEL_DATA);
        EXPECT_EQ(server_.Payload(), text);
    }
    server_.Receive(client_.Send(SSH2_MSG_CHANNEL_EOF, ""));
    int length = -1;
    EXPECT_EQ(Poll(server_, &length), SSH2_MSG_CHANNEL_EOF);
    EXPECT_EQ(length, 0);
}
