// KNOWN_HOSTS and HOST_KEY_CHECK in the configuration file, and the secret
// password holder behind the host settings.
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "config/telnet_config.h"
#include "ssh/keys/known_hosts.h"

namespace {

std::string Load(TTelnetConfig& config, const std::string& text) {
    std::istringstream in(text);
    try {
        config.ReadConfig(in);
    } catch (const TException& e) {
        return e.what();
    }
    return "";
}

TEST(HostKeyConfig, DefaultsValuesAndInheritance) {
    auto config = std::make_unique<TTelnetConfig>();
    ASSERT_EQ(Load(*config,
                   "DEFINE_HOST plain {\n}\n"
                   "HOST_KEY_CHECK=accept-new\nKNOWN_HOSTS = /tmp/kh  \n"
                   "DEFINE_HOST strict {\n HOST_KEY_CHECK=strict\n KNOWN_HOSTS=~/.ssh/other\n}\n"
                   "DEFINE_HOST child : strict {\n HOST_KEY_CHECK=off\n}\n"
                   "DEFINE_HOST asks {\n HOST_KEY_CHECK=ask\n}\n"),
              "");
    struct Case {
        const char* host;
        int check;
        const char* file;
    };
    const Case cases[] = {
        {"plain", kHostKeyCheckAsk, "~/.ssh/known_hosts"},  // defined before the defaults changed
        {"strict", kHostKeyCheckStrict, "~/.ssh/other"},
        {"child", kHostKeyCheckOff, "~/.ssh/other"},
        {"asks", kHostKeyCheckAsk, "/tmp/kh"},
        {"typed.example.org", kHostKeyCheckAcceptNew, "/tmp/kh"},
    };
    for (const Case& c : cases) {
        THostConfig host = config->ResolveHost(c.host);
        EXPECT_EQ(host.GetHostKeyCheck(), c.check) << c.host;
        EXPECT_EQ(host.GetKnownHosts(), c.file) << c.host;
    }
}

TEST(HostKeyConfig, HomeFolderExpansion) {
    const char* saved = std::getenv("HOME");
    const std::string old_home = saved != nullptr ? saved : "";
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(known_hosts_expand_path("~/.ssh/known_hosts"), "/home/someone/.ssh/known_hosts");
    EXPECT_EQ(known_hosts_expand_path("/etc/kh"), "/etc/kh");
    EXPECT_EQ(known_hosts_expand_path("kh~/x"), "kh~/x");
    EXPECT_EQ(known_hosts_expand_path("~user/kh"), "~user/kh");
    unsetenv("HOME");
    const std::string expanded = known_hosts_expand_path("~/.ssh/known_hosts");
    EXPECT_EQ(expanded.rfind("/", 0), 0u) << expanded;
    EXPECT_NE(expanded.find("/.ssh/known_hosts"), std::string::npos) << expanded;
    if (saved != nullptr) setenv("HOME", old_home.c_str(), 1);
}

TEST(HostKeyConfig, BadValuesAreErrors) {
    for (const char* text : {"HOST_KEY_CHECK=yes\n", "HOST_KEY_CHECK=\n", "HOST_KEY_CHECK=Strict\n",
                             "KNOWN_HOSTS=\n", "KNOWN_HOSTS=   \n"}) {
        auto config = std::make_unique<TTelnetConfig>();
        const std::string error = Load(*config, text);
        EXPECT_NE(error.find("Config error."), std::string::npos) << text << error;
    }
}

TEST(SecretString, WipedOnReplaceAndCopiesIndependent) {
    THostConfig host;
    host.SetPassword("first-secret");
    THostConfig copy = host;
    host.SetPassword("second");
    EXPECT_EQ(copy.GetPassword(), "first-secret");
    EXPECT_EQ(host.GetPassword(), "second");
    // The bytes go, not only the length: the old buffer reads as zeros.
    const char* bytes = copy.GetPassword().data();
    copy.WipePassword();
    EXPECT_EQ(copy.GetPassword(), "");
    for (int i = 0; i < 12; ++i) EXPECT_EQ(bytes[i], '\0') << i;
    copy = host;
    EXPECT_EQ(copy.GetPassword(), "second");
}

}  // namespace
