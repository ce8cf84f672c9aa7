// The protocol-1 key exchange and authentication against a scripted server
// whose arithmetic (session id, session key, challenge answer) is done here
// with libcrypto, apart from the code under test.
#include "ssh/auth/sshconnect1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "rsa1_key_file.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/xmalloc.h"
#include "ssh1_scripted_server.h"
#include "ssh1_test_support.h"

namespace {

// A client's wire to a scripted server of its own; `after_kex` starts it at
// the authentication, past the public key.
struct Conversation {
    ScriptedServer server;
    Ssh1Wire wire;
    explicit Conversation(bool after_kex) {
        server.server_key = SharedRsa(768);
        server.host_key = SharedRsa(1024);
        wire.client.cipher_type = SSH_CIPHER_3DES;
        wire.script = [this](Ssh1Wire& w) { server.Run(w); };
        server.public_key_sent = after_kex;
        if (after_kex) wire.client.supported_authentications = server.auth_mask;
    }
};

class KeyExchangeTest : public Ssh1Test {
  protected:
    Conversation conversation{false};
    ScriptedServer& server = conversation.server;
    Ssh1Wire& wire = conversation.wire;
};

TEST_F(KeyExchangeTest, AgreesOnTheSessionKeyAndSwitchesBothDirectionsTo3des) {
    ssh1_key_exchange(&wire.client);
    EXPECT_EQ(server.cipher, SSH_CIPHER_3DES);
    EXPECT_EQ(server.cookie_back, server.cookie);
    EXPECT_EQ(server.client_flags, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(wire.client.session_id), 16), server.session_id);
    EXPECT_EQ(wire.client.supported_authentications, server.auth_mask);
    EXPECT_EQ(server.session_key.size(), 32u);
    // The server's SUCCESS was read under the recovered key; the client's
    // next packet must decrypt under it too.
    EXPECT_EQ(wire.client.ssh1_cipher, SSH_CIPHER_3DES);
    packet_start(&wire.client, SSH_CMSG_STDIN_DATA);
    packet_put_cstring(&wire.client, "ls\r");
    packet_send(&wire.client);
    packet_write_wait(&wire.client);
    ASSERT_EQ(wire.Next(), SSH_CMSG_STDIN_DATA);
    XmallocPtr<char> data(static_cast<char*>(packet_get_string(&wire.server, nullptr)));
    EXPECT_STREQ(data.get(), "ls\r");
}

TEST_F(KeyExchangeTest, TheSmallerKeyIsAppliedFirstWhicheverItIs) {
    // Host key smaller than the server key: the server above decrypts in the
    // opposite order, so a wrong order gives no usable key.
    server.server_key = SharedRsa(1024);
    server.host_key = SharedRsa(768);
    ssh1_key_exchange(&wire.client);
    EXPECT_EQ(server.session_key.size(), 32u);
    EXPECT_EQ(wire.client.ssh1_cipher, SSH_CIPHER_3DES);
}

// Each refusal ends the exchange before a session key is sent.
TEST_F(KeyExchangeTest, Refusals) {
    RsaHandle host895 = GenerateRsa(895);
    const struct {
        std::function<void(ScriptedServer&)> change;
        const char* message;
    } cases[] = {
        {[&](ScriptedServer& s) { s.host_key = host895.get(); },
         "respond_to_rsa_challenge: host_key 895 < public_key 768 + SSH_KEY_BITS_RESERVED 128"},
        {[](ScriptedServer& s) { s.host_key = SharedRsa(768); },
         "respond_to_rsa_challenge: public_key 768 < host_key 768 + SSH_KEY_BITS_RESERVED 128"},
        {[](ScriptedServer& s) { s.cipher_mask = 1u << SSH_CIPHER_BLOWFISH; },
         "Selected cipher type 3des not supported by server."},
    };
    for (const auto& c : cases) {
        Conversation conversation(false);
        c.change(conversation.server);
        EXPECT_EQ(FatalMessage([&] { ssh1_key_exchange(&conversation.wire.client); }), c.message);
        EXPECT_EQ(conversation.server.cipher, -1);
    }
}

TEST_F(KeyExchangeTest, AnnouncedSizesThatLieAreOnlyReported) {
    server.announced_server_bits = 1024;
    server.announced_host_bits = 768;
    std::string out = StderrOf([&] { ssh1_key_exchange(&wire.client); });
    EXPECT_EQ(out,
              "Warning: Server lies about size of server public key: actual size is 768 bits vs. "
              "announced 1024.\r\n"
              "Warning: This may be due to an old implementation of ssh.\r\n"
              "Warning: Server lies about size of server host key: actual size is 1024 bits vs. "
              "announced 768.\r\n"
              "Warning: This may be due to an old implementation of ssh.\r\n");
    EXPECT_EQ(wire.client.ssh1_cipher, SSH_CIPHER_3DES);
}

TEST_F(KeyExchangeTest, APublicKeyMessageWithAnExtraByteIsAnIntegrityError) {
    server.public_key_tail = "x";
    std::string message;
    std::string out =
        StderrOf([&] { message = FatalMessage([&] { ssh1_key_exchange(&wire.client); }); });
    EXPECT_EQ(message, "Packet integrity error. (2)");
    // 8 + 4 * 5 + the four numbers (2 + 96, 2 + 3, 2 + 128, 2 + 3) = 266.
    EXPECT_EQ(out.rfind("Packet integrity error (267 != 266) at ", 0), 0u) << out;
}

TEST_F(KeyExchangeTest, OtherMessagesInsteadOfTheExpectedOnesAreFatal) {
    server.answer_session_key = SSH_SMSG_FAILURE;
    EXPECT_EQ(FatalMessage([&] { ssh1_key_exchange(&wire.client); }),
              "Protocol error: expected packet type 14, got 15");

    Ssh1Wire other;  // SUCCESS where the public key belongs
    other.script = [](Ssh1Wire& w) { w.Send(SSH_SMSG_SUCCESS); };
    EXPECT_EQ(FatalMessage([&] { ssh1_key_exchange(&other.client); }),
              "Protocol error: expected packet type 2, got 14");
}

class UserAuthTest : public KeyExchangeTest {
  protected:
    void SetUp() override {
        KeyExchangeTest::SetUp();
        // Authentication runs after the key exchange; these tests skip it.
        server.public_key_sent = true;
        wire.client.supported_authentications = server.auth_mask;
        const char* id = "0123456789abcdef";
        std::memcpy(wire.client.session_id, id, 16);
        server.session_id = id;
    }
    void TearDown() override {
        if (key_path_.size() > 0) unlink(key_path_.c_str());
        KeyExchangeTest::TearDown();
    }
    void SetPassword(const char* password) { wire.client.password = xstrdup(password); }
    void SetKeyFile(const RSA* key, const Rsa1KeyFileLayout& layout = {}) {
        key_path_ = WriteTempKeyFile(Rsa1KeyFile(key, layout));
        wire.client.keyfile = xstrdup(key_path_.c_str());
    }
    std::string key_path_;
};

TEST_F(UserAuthTest, OnePasswordAttempt) {
    SetPassword("secret");
    ssh_userauth(&wire.client, "quenlor", kSsh1MethodPassword);
    EXPECT_EQ(server.user, "quenlor");
    EXPECT_EQ(server.password_tried, "secret");

    Conversation refused(true);
    refused.wire.client.password = xstrdup("wrong");
    EXPECT_EQ(
        FatalMessage([&] { ssh_userauth(&refused.wire.client, "quenlor", kSsh1MethodPassword); }),
        "Permission denied.");
    EXPECT_EQ(refused.server.password_tried, "wrong");
    EXPECT_EQ(refused.wire.UnreadTypes(), "");  // no second attempt of any kind
}

TEST_F(UserAuthTest, AServerThatNeedsNoAuthenticationAcceptsTheUserAtOnce) {
    server.answer_user = SSH_SMSG_SUCCESS;
    SetPassword("secret");
    ssh_userauth(&wire.client, "quenlor", kSsh1MethodPassword);
    EXPECT_EQ(server.password_tried, "");
    EXPECT_EQ(wire.UnreadTypes(), "");
}

TEST_F(UserAuthTest, AMethodTheServerDoesNotOfferIsNeverTried) {
    SetPassword("secret");
    wire.client.supported_authentications = 1u << SSH_AUTH_RSA;
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wire.client, "quenlor", kSsh1MethodPassword); }),
              "Permission denied.");
    EXPECT_EQ(server.user, "quenlor");
    EXPECT_EQ(server.password_tried, "");

    wire.client.supported_authentications = 0;
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wire.client, "quenlor", kSsh1MethodPassword); }),
              "ssh_userauth: server supports no auth methods");
}

TEST_F(UserAuthTest, UnexpectedAnswersAreProtocolErrors) {
    SetPassword("secret");
    server.answer_user = SSH_SMSG_STDOUT_DATA;
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wire.client, "quenlor", kSsh1MethodPassword); }),
              "Protocol error: got 17 in response to SSH_CMSG_USER");

    Conversation second(true);
    second.server.answer_password_other = SSH_SMSG_AUTH_RSA_CHALLENGE;
    second.wire.client.password = xstrdup("secret");
    EXPECT_EQ(
        FatalMessage([&] { ssh_userauth(&second.wire.client, "quenlor", kSsh1MethodPassword); }),
        "Protocol error: got 7 in response to passwd auth");
}

TEST_F(UserAuthTest, RsaChallengeResponseWithAShortChallenge) {
    RSA* user_key = SharedRsa(1024);
    server.user_key = user_key;
    // Decrypts to 20 bytes: the answer must pad it to 32 on the left.
    server.challenge = std::string(12, '\0') + "twenty byte challeng";
    Rsa1KeyFileLayout layout;
    layout.cipher = SSH_CIPHER_3DES;  // under the empty passphrase
    SetKeyFile(user_key, layout);
    ssh_userauth(&wire.client, "quenlor", kSsh1MethodRsa);
    EXPECT_EQ(server.rsa_modulus, BnBytes(RSA_get0_n(user_key)));
    EXPECT_EQ(server.response, server.response_expected);
    EXPECT_EQ(server.password_tried, "");
}

TEST_F(UserAuthTest, RsaRefusalsEndInPermissionDenied) {
    server.user_key = SharedRsa(1024);
    SetKeyFile(SharedRsa(768));  // not the authorized key
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wire.client, "quenlor", kSsh1MethodRsa); }),
              "Permission denied.");
    EXPECT_EQ(server.response, "");

    // A key file without a readable public part: nothing is sent for it.
    Conversation no_file(true);
    no_file.wire.client.keyfile = xstrdup("/nonexistent/identity");
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&no_file.wire.client, "quenlor", kSsh1MethodRsa); }),
              "Permission denied.");
    EXPECT_EQ(no_file.server.rsa_modulus, "");
    EXPECT_EQ(no_file.wire.UnreadTypes(), "");

    // A wrong response: the client hashes its own session id.
    Conversation wrong(true);
    wrong.server.user_key = SharedRsa(768);  // the key in the file this time
    wrong.server.session_id = "another session!";
    wrong.wire.client.keyfile = xstrdup(key_path_.c_str());
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wrong.wire.client, "quenlor", kSsh1MethodRsa); }),
              "Permission denied.");
    EXPECT_EQ(wrong.server.response.size(), 16u);
}

TEST_F(UserAuthTest, RsaProtocolErrors) {
    server.user_key = SharedRsa(1024);
    SetKeyFile(SharedRsa(1024));
    server.answer_rsa_other = SSH_SMSG_SUCCESS;
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wire.client, "quenlor", kSsh1MethodRsa); }),
              "Protocol error during RSA authentication: 14");

    auto run = [&](const std::function<void(ScriptedServer&)>& change) {
        Conversation c(true);
        c.server.user_key = server.user_key;
        change(c.server);
        c.wire.client.keyfile = xstrdup(key_path_.c_str());
        return FatalMessage([&] { ssh_userauth(&c.wire.client, "quenlor", kSsh1MethodRsa); });
    };
    EXPECT_EQ(run([](ScriptedServer& s) { s.answer_response_other = SSH_SMSG_STDOUT_DATA; }),
              "Protocol error waiting RSA auth response: 17");
    EXPECT_EQ(run([](ScriptedServer& s) { s.challenge_tail = "z"; }),
              "Packet integrity error. (7)");
    // A challenge that decrypts to more than 32 bytes.
    EXPECT_EQ(run([](ScriptedServer& s) { s.challenge = std::string(33, '\x42'); }),
              "respond_to_rsa_challenge: bad challenge length 33");
}

TEST_F(UserAuthTest, APrivatePartThatNeedsAPassphraseIsFatalAfterTheChallenge) {
    server.user_key = SharedRsa(1024);
    Rsa1KeyFileLayout layout;
    layout.cipher = SSH_CIPHER_BLOWFISH;
    layout.passphrase = "not empty";
    SetKeyFile(SharedRsa(1024), layout);
    EXPECT_EQ(FatalMessage([&] { ssh_userauth(&wire.client, "quenlor", kSsh1MethodRsa); }),
              "Unable to read private key. No password.");
    EXPECT_EQ(server.rsa_modulus, BnBytes(RSA_get0_n(SharedRsa(1024))));
}

}  // namespace
