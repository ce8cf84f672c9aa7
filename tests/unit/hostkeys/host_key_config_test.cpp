// KNOWN_HOSTS and HOST_KEY_CHECK in the configuration file, and the secret
// password holder behind the host settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "../base/case_file.h"
#include "base/exception.h"
#include "config/telnet_config.h"
#include "ssh/keys/known_hosts.h"

namespace {

TEST(HostKeyConfig, DefaultsValuesInheritanceAndErrors) {
    const std::map<std::string, int> checks = {{"ask", kHostKeyCheckAsk},
                                               {"strict", kHostKeyCheckStrict},
                                               {"off", kHostKeyCheckOff},
                                               {"accept-new", kHostKeyCheckAcceptNew}};
    auto config = std::make_unique<TTelnetConfig>();
    std::ifstream text(std::string(QUENLOR_TEST_DATA) + "/hostkeys/config");
    config->ReadConfig(text);
    for (const TCase& c : ReadCases("hostkeys/config_hosts")) {
        const THostConfig host = config->ResolveHost(c[0]);
        EXPECT_EQ(host.GetHostKeyCheck(), checks.at(c[1])) << c.where;
        EXPECT_EQ(host.GetKnownHosts(), c[2]) << c.where;
    }
    for (const TCase& c : ReadCases("hostkeys/config_errors")) {
        std::istringstream bad(c[0]);
        try {
            std::make_unique<TTelnetConfig>()->ReadConfig(bad);
            ADD_FAILURE() << c.where;
        } catch (const TException& e) {
            EXPECT_NE(std::string(e.what()).find("Config error."), std::string::npos) << c.where;
        }
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
    // Without HOME the account's own folder is taken.
    unsetenv("HOME");
    const std::string expanded = known_hosts_expand_path("~/.ssh/known_hosts");
    EXPECT_EQ(expanded.rfind("/", 0), 0u) << expanded;
    EXPECT_NE(expanded.find("/.ssh/known_hosts"), std::string::npos) << expanded;
    if (saved != nullptr) setenv("HOME", old_home.c_str(), 1);
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
