// The SSH-2 login against a scripted server on an in-memory link, one
// conversation per case of tests/data/userauth/login.cases (its head
// explains the rows).
#include <gtest/gtest.h>

#include "../base/case_file.h"
#include "../ssh2/ssh2_test_support.h"
#include "key_test_support.h"
#include "ssh/auth/sshconnect2.h"
#include "ssh/transport/ssh2.h"

namespace {

struct Prompter : Ssh2AuthPrompter {
    std::vector<std::string> answers;
    std::string asked, shown;
    void Show(const std::string& text) override { shown += text + "|"; }
    bool Ask(const std::string& prompt, bool echo, bool may_cancel, std::string* answer) override {
        asked += prompt + (echo ? "+" : "") + (may_cancel ? "?" : "") + "|";
        *answer = answers.empty() ? "" : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return true;
    }
};

constexpr char kSessionId[] = "session-id-20-bytes!";

struct Login {
    Link link;
    Prompter prompter;
    Ssh2AuthOptions options;
    Login() {
        options.user = "alice";
        options.host = "example";
        options.prompter = &prompter;
        link.Client()->session_id2 = reinterpret_cast<unsigned char*>(xstrdup(kSessionId));
        link.Client()->session_id2_len = 20;
    }
    std::string Take() {
        uint32_t length = 0;
        XmallocPtr<char> text(static_cast<char*>(packet_get_string(link.Server(), &length)));
        return std::string(text.get(), length);
    }
    // What the client sent, as the case files write it. Every request must
    // name alice and ssh-connection, and each signed publickey request must
    // carry a good signature by the configured key.
    std::string Sent() {
        std::string out;
        while (link.ServerHasMessage()) {
            const int type = packet_read(link.Server(), nullptr);
            out += out.empty() ? "" : "; ";
            if (type == SSH2_MSG_SERVICE_REQUEST) {
                out += "service " + Take();
            } else if (type == 61) {  // INFO_RESPONSE
                out += "response";
                for (uint32_t n = packet_get_int(link.Server()); n > 0; --n) out += " " + Take();
            } else if (type == SSH2_MSG_USERAUTH_REQUEST) {
                EXPECT_EQ("alice", Take());
                EXPECT_EQ("ssh-connection", Take());
                const std::string method = Take();
                out += method;
                if (method == "password") {
                    out += " " + std::to_string(packet_get_char(link.Server()));
                    out += " " + Take();
                } else if (method == "keyboard-interactive") {
                    out += " [" + Take();        // language
                    out += "][" + Take() + "]";  // submethods
                } else if (method == "publickey") {
                    const int with_signature = packet_get_char(link.Server());
                    const std::string algorithm = Take(), blob = Take();
                    out += " " + std::to_string(with_signature) + " " + algorithm;
                    if (with_signature == 1) {
                        const std::string data = Str(kSessionId) + "\x32" + Str("alice") +
                                                 Str("ssh-connection") + Str("publickey") + "\x01" +
                                                 Str(algorithm) + Str(blob);
                        EXPECT_EQ(PubFileBlob(options.key_file + ".pub"), ToBlob(blob));
                        EXPECT_TRUE(Verifies(ToBlob(blob), algorithm, ToBlob(Take()), ToBlob(data)))
                            << algorithm;
                    }
                }
            } else {
                out += std::to_string(type);
            }
            EXPECT_EQ(0, packet_remaining(link.Server())) << out;
        }
        return out;
    }
};

using LoginTest = Ssh2Test;

TEST_F(LoginTest, Cases) {
    std::unique_ptr<Login> login;
    for (const TCase& c : ReadCases("userauth/login.cases")) {
        SCOPED_TRACE(c.where);
        const std::string& op = c[0];
        if (op == "case") {
            login = std::make_unique<Login>();
        } else if (op == "password") {
            login->options.password = c[1];
            login->options.password_configured = c.size() > 2;
        } else if (op == "key") {
            login->options.key_file = c[1][0] == '/' ? c[1] : KeyPath(c[1]);
        } else if (op == "answers") {
            login->prompter.answers.assign(c.fields.begin() + 1, c.fields.end());
        } else if (op == "server") {
            std::string payload;
            for (std::size_t i = 2; i < c.size(); ++i) {
                const std::string value = c[i].substr(std::min<std::size_t>(2, c[i].size()));
                payload += c[i].rfind("s:", 0) == 0   ? Str(value)
                           : c[i].rfind("u:", 0) == 0 ? U32(Num(value))
                                                      : c[i];
            }
            login->link.ServerSends(Num(c[1]), payload);
        } else if (op == "run") {
            std::string fatal;
            try {
                ssh2_authenticate(login->link.Client(), &login->options);
            } catch (const TException& e) {
                fatal = e.Message();
            }
            EXPECT_EQ(c[1], fatal);
        } else {
            EXPECT_EQ(c[1], op == "sent"    ? login->Sent()
                            : op == "asked" ? login->prompter.asked
                            : op == "shown" ? login->prompter.shown
                                            : "unknown row " + op)
                << op;
        }
    }
}

}  // namespace
