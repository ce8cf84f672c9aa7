// SSH_AUTH's forms as the configuration decodes them, and what each asks
// of the SSH-2 login.
#include "ssh/auth/auth_options.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/exception.h"
#include "config/decode_auth.h"

namespace {

struct ScopedAgentSocket {
    explicit ScopedAgentSocket(const char* value) {
        const char* old = std::getenv("SSH_AUTH_SOCK");
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value != nullptr) {
            setenv("SSH_AUTH_SOCK", value, 1);
        } else {
            unsetenv("SSH_AUTH_SOCK");
        }
    }
    ~ScopedAgentSocket() {
        if (had_) {
            setenv("SSH_AUTH_SOCK", old_.c_str(), 1);
        } else {
            unsetenv("SSH_AUTH_SOCK");
        }
    }
    bool had_ = false;
    std::string old_;
};

TEST(AuthOptions, EachSshAuthForm) {
    struct Case {
        const char* text;
        bool prompted;
        const char* socket;
        std::string key_file, password;
        bool configured, agent;
    };
    const Case cases[] = {
        {"pwd:secret", false, nullptr, "", "secret", true, false},
        {"pwd:secret", true, nullptr, "", "secret", false, false},
        {"pwd:", false, "/tmp/agent", "", "", false, true},
        {"key:/k/id_ed25519", false, nullptr, "/k/id_ed25519", "", false, false},
        {"rsa:/k/id_rsa", false, "", "/k/id_rsa", "", false, false},
        {"dsa:/k/id_dsa", false, "/tmp/agent", "/k/id_dsa", "", false, true},
        {"agent", false, "/tmp/agent", "", "", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ScopedAgentSocket socket(c.socket);
        THostConfig host;
        host.SetUser("bob");
        host.SetAddress("example.org");
        DecodeAuth(c.text, host);
        const Ssh2AuthOptions options = ssh2_auth_options(host, nullptr, c.prompted);
        EXPECT_EQ("bob", options.user);
        EXPECT_EQ("example.org", options.host);
        EXPECT_EQ(c.key_file, options.key_file);
        EXPECT_EQ(c.password, options.password);
        EXPECT_EQ(c.configured, options.password_configured);
        EXPECT_EQ(c.agent, options.use_agent);
        if (c.agent) {
            EXPECT_EQ(c.socket, options.agent_socket);
        }
    }
}

TEST(AuthOptions, AgentWithoutSocketAndUnknownForms) {
    ScopedAgentSocket socket(nullptr);
    THostConfig host;
    DecodeAuth("agent", host);
    EXPECT_EQ(kAuthAgent, host.GetAuthType());
    EXPECT_THROW(ssh2_auth_options(host, nullptr, false), TException);
    EXPECT_THROW(DecodeAuth("agent:x", host), TException);
    EXPECT_EQ(0, host.GetAuthType());
    EXPECT_THROW(DecodeAuth("pgp:file", host), TException);
    DecodeAuth("key:file", host);
    EXPECT_EQ(kAuthKey, host.GetAuthType());
    EXPECT_EQ("file", host.GetKeyFile());
}

}  // namespace
