// The SSH-2 login against a scripted server on an in-memory link: the
// "none" probe, the order of methods, keyboard-interactive rounds, password
// tries, the password change request, and server-sig-algs for RSA keys.
#include <gtest/gtest.h>

#include "../ssh2/ssh2_test_support.h"
#include "key_test_support.h"
#include "ssh/auth/sshconnect2.h"
#include "ssh/keys/key_file.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/xmalloc.h"

using namespace std::string_literals;

namespace {

constexpr int kInfoRequest = 60;
constexpr int kInfoResponse = 61;
constexpr int kExtInfo = 7;

std::string NameList(const std::string& names, bool partial = false) {
    return Str(names) + std::string(1, partial ? '\1' : '\0');
}

struct FakePrompter : Ssh2AuthPrompter {
    struct Question {
        std::string prompt;
        bool echo;
        bool may_cancel;
    };
    std::vector<std::string> answers;
    std::vector<Question> asked;
    std::vector<std::string> shown;
    void Show(const std::string& text) override { shown.push_back(text); }
    bool Ask(const std::string& prompt, bool echo, bool may_cancel, std::string* answer) override {
        asked.push_back({prompt, echo, may_cancel});
        *answer = asked.size() <= answers.size() ? answers[asked.size() - 1] : "";
        return true;
    }
};

class AuthenticateTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        Client()->session_id2 = static_cast<unsigned char*>(xmalloc(20));
        for (int i = 0; i < 20; i++) Client()->session_id2[i] = static_cast<unsigned char>(i);
        Client()->session_id2_len = 20;
        options_.user = "alice";
        options_.host = "example";
        options_.prompter = &prompter_;
    }
    PacketContext* Client() { return link_.Client(); }
    PacketContext* Server() { return link_.Server(); }
    void ServerSends(int type, const std::string& payload = "") {
        link_.ServerSends(type, payload);
    }
    void Accept() { ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth")); }
    std::string Take() {
        uint32_t length = 0;
        XmallocPtr<char> text(static_cast<char*>(packet_get_string(Server(), &length)));
        return std::string(text.get(), length);
    }
    std::string RunFatal() {
        return FatalMessage([&] { ssh2_authenticate(Client(), &options_); });
    }
    // What the client sent, "; " between messages: "service" and its name,
    // a request's method and fields, "response" and its answers. Checks the
    // user and service of every request, and the signature of each signed
    // publickey request with `key` when one is given.
    std::string Sent(EVP_PKEY* key = nullptr) {
        std::string out;
        while (link_.ServerHasMessage()) {
            const int type = packet_read(Server(), nullptr);
            out += out.empty() ? "" : "; ";
            if (type == SSH2_MSG_SERVICE_REQUEST) {
                out += "service " + Take();
            } else if (type == kInfoResponse) {
                out += "response";
                for (uint32_t n = packet_get_int(Server()); n > 0; --n) out += " " + Take();
            } else if (type == SSH2_MSG_USERAUTH_REQUEST) {
                EXPECT_EQ("alice", Take());
                EXPECT_EQ("ssh-connection", Take());
                const std::string method = Take();
                out += method;
                if (method == "password") {
                    out += " " + std::to_string(packet_get_char(Server()));
                    out += " " + Take();
                } else if (method == "keyboard-interactive") {
                    out += " [" + Take();        // language
                    out += "][" + Take() + "]";  // submethods
                } else if (method == "publickey") {
                    const int signed_request = packet_get_char(Server());
                    const std::string algorithm = Take();
                    const std::string blob = Take();
                    out += " " + std::to_string(signed_request) + " " + algorithm;
                    const std::string signature = signed_request == 1 ? Take() : "";
                    if (signed_request == 1 && key != nullptr) {
                        Blob data = ToBlob(
                            Str(std::string(reinterpret_cast<char*>(Client()->session_id2), 20)) +
                            "\x32" + Str("alice") + Str("ssh-connection") + Str("publickey") +
                            "\x01" + Str(algorithm) + Str(blob));
                        EXPECT_TRUE(VerifySshSignature(key, ToBlob(signature), data)) << algorithm;
                    }
                }
            } else {
                out += std::to_string(type);
            }
            EXPECT_EQ(0, packet_remaining(Server())) << out;
        }
        return out;
    }

    Link link_;
    FakePrompter prompter_;
    Ssh2AuthOptions options_;
};

TEST_F(AuthenticateTest, NoneProbeCanSucceed) {
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_authenticate(Client(), &options_);
    EXPECT_EQ("service ssh-userauth; none", Sent());
}

TEST_F(AuthenticateTest, KeyboardInteractiveRounds) {
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("publickey,keyboard-interactive"));
    BlobWriter round1;
    round1.PutString("Login");
    round1.PutString("Two questions");
    round1.PutString("");
    round1.PutU32(2);
    round1.PutString("Password: ");
    round1.PutByte(0);
    round1.PutString("Colour\x1b: ");
    round1.PutByte(1);
    ServerSends(kInfoRequest, std::string(round1.bytes().begin(), round1.bytes().end()));
    ServerSends(kInfoRequest, Str("") + Str("") + Str("") + U32(0));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    prompter_.answers = {"pw", "blue"};
    ssh2_authenticate(Client(), &options_);

    ASSERT_EQ(2u, prompter_.asked.size());
    EXPECT_EQ("Password: ", prompter_.asked[0].prompt);
    EXPECT_FALSE(prompter_.asked[0].echo);
    EXPECT_EQ("Colour: ", prompter_.asked[1].prompt);  // cleaned
    EXPECT_TRUE(prompter_.asked[1].echo);
    EXPECT_FALSE(prompter_.asked[1].may_cancel);
    EXPECT_EQ((std::vector<std::string>{"Login", "Two questions"}), prompter_.shown);

    EXPECT_EQ("service ssh-userauth; none; keyboard-interactive [][]; response pw blue; response",
              Sent());
}

TEST_F(AuthenticateTest, KnownPasswordAnswersOneHiddenPrompt) {
    options_.password = "known";
    options_.password_configured = true;
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("keyboard-interactive"));
    ServerSends(kInfoRequest, Str("") + Str("") + Str("") + U32(1) + Str("Password: ") + "\0"s);
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("keyboard-interactive"));
    ServerSends(kInfoRequest, Str("") + Str("") + Str("") + U32(1) + Str("Password: ") + "\0"s);
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    prompter_.answers = {"typed"};
    ssh2_authenticate(Client(), &options_);
    // The refused known password is not offered twice.
    EXPECT_EQ(1u, prompter_.asked.size());
    EXPECT_EQ(
        "service ssh-userauth; none; keyboard-interactive [][]; response known; "
        "keyboard-interactive [][]; response typed",
        Sent());
}

TEST_F(AuthenticateTest, PasswordTries) {
    struct Case {
        bool configured;
        std::size_t prompts;  // asked at the session
        int requests;         // password requests sent
        std::string sent;
    };
    const Case cases[] = {
        {true, 0, 1, "password 0 first"},
        {false, 2, 3, "password 0 first; password 0 second; password 0 third"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configured);
        prompter_ = FakePrompter();
        prompter_.answers = {"second", "third"};
        options_.password = "first";
        options_.password_configured = c.configured;
        Accept();
        ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("password"));
        for (int i = 0; i < c.requests; ++i)
            ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("password"));
        EXPECT_EQ("access denied: 51", RunFatal());
        ASSERT_EQ(c.prompts, prompter_.asked.size());
        for (const auto& q : prompter_.asked) {
            EXPECT_EQ("alice@example's password: ", q.prompt);
            EXPECT_FALSE(q.echo);
        }
        EXPECT_EQ("service ssh-userauth; none; " + c.sent, Sent());
    }
}

TEST_F(AuthenticateTest, PasswordChangeRequestEndsTheTry) {
    options_.password = "old";
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("password"));
    ServerSends(60, Str("Your password has expired") + Str(""));
    EXPECT_EQ("access denied: 60", RunFatal());
    ASSERT_FALSE(prompter_.shown.empty());
    EXPECT_EQ("The server requires a new password: Your password has expired", prompter_.shown[0]);
    EXPECT_TRUE(prompter_.asked.empty());
}

TEST_F(AuthenticateTest, KeyFileThenAgentOrderAndRsaAlgorithms) {
    const std::string file = KeyPath("rsa_pem");
    std::unique_ptr<UserKey> key;
    std::string error;
    ASSERT_EQ(LoadKeyResult::kOk, LoadUserKeyFile(file, PassphraseAsk(), &key, &error));
    options_.key_file = file;

    // Without EXT_INFO: rsa-sha2-512 first, then ssh-rsa for old servers.
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("publickey,password"));
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("publickey,password"));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_authenticate(Client(), &options_);
    EXPECT_EQ("service ssh-userauth; none; publickey 1 rsa-sha2-512; publickey 1 ssh-rsa",
              Sent(key->Pkey()));

    // EXT_INFO before the service is accepted: the server's choice.
    BlobWriter ext;
    ext.PutU32(1);
    ext.PutString("server-sig-algs");
    ext.PutString("ssh-ed25519,rsa-sha2-256");
    ServerSends(kExtInfo, std::string(ext.bytes().begin(), ext.bytes().end()));
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("publickey"));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_authenticate(Client(), &options_);
    EXPECT_EQ("service ssh-userauth; none; publickey 1 rsa-sha2-256", Sent(key->Pkey()));
}

TEST_F(AuthenticateTest, MethodsOnlyWhenListed) {
    // A key is configured but the server wants keyboard-interactive only:
    // the key file is not even read.
    options_.key_file = "/nonexistent/key";
    options_.password = "pw";
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("keyboard-interactive"));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_authenticate(Client(), &options_);
    EXPECT_EQ("service ssh-userauth; none; keyboard-interactive [][]", Sent());

    // Listed, the missing file ends the login at once.
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("publickey"));
    EXPECT_EQ("key does not exist: /nonexistent/key", RunFatal());

    // Nothing this client can do.
    options_.key_file.clear();
    options_.password.clear();
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("hostbased,gssapi-with-mic"));
    EXPECT_EQ("access denied: 51", RunFatal());
}

TEST_F(AuthenticateTest, PartialSuccessStartsAgain) {
    options_.key_file = KeyPath("ed25519");
    options_.password = "pw";
    options_.password_configured = true;
    Accept();
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("publickey"));
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, NameList("password", true));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_authenticate(Client(), &options_);
    EXPECT_EQ("service ssh-userauth; none; publickey 1 ssh-ed25519; password 0 pw", Sent());
}

}  // namespace
