#include <gtest/gtest.h>

#include <string>

#include "config/telnet_config.h"
#include "config_test_util.h"

TEST(HostBlock, InheritanceIndentedLinesAndParentInAnotherCase) {
    auto config = Loaded(
        "PROTOCOL=ssh\n"
        "ADDRESS=ignored.example.org:2200\n"
        "USER=root\n"
        "DEFINE_HOST   plain   {\n"
        "}\n"
        "DEFINE_HOST Base {\n"
        "\tUSER = base\n"
        "    # a comment\n"
        "\n"
        "    PROTOCOL=ssh2\n"
        "}\n"
        "DEFINE_HOST child:BASE{\n"
        "  TERM=vt220\n"
        "  }\n");
    ASSERT_EQ(config->GetHostCount(), 4);
    // A block inherits from the default and takes its own name as address.
    const THostConfig& plain = config->GetHost(1);
    EXPECT_EQ(plain.GetName(), "plain");
    EXPECT_EQ(plain.GetAddress(), "plain");
    EXPECT_EQ(plain.GetProtocol(), kProtocolSsh);
    EXPECT_EQ(plain.GetPort(), 2200);
    EXPECT_EQ(plain.GetUser(), "root");
    const THostConfig& child = config->GetHost(3);
    EXPECT_EQ(child.GetName(), "child");
    EXPECT_EQ(child.GetAddress(), "child");
    EXPECT_EQ(child.GetUser(), "base");
    EXPECT_EQ(child.GetProtocol(), kProtocolSsh2);
    EXPECT_EQ(child.GetTerminalType(), "vt220");
    EXPECT_EQ(config->GetHost(2).GetTerminalType(), "cons25r");
}

TEST(HostBlock, LastMatchingParentWinsAndChildIsACopy) {
    auto config = Loaded(
        "DEFINE_HOST twin {\nUSER=first\n}\n"
        "DEFINE_HOST TWIN {\nUSER=second\n}\n"
        "DEFINE_HOST kid : Twin {\n}\n"
        "DEFINE_HOST default : nobody {\nUSER=third\n}\n");
    EXPECT_EQ(config->GetHost(3).GetUser(), "second");
    // A host named "default" with an unknown parent inherits from slot 0.
    EXPECT_EQ(config->GetHost(4).GetName(), "default");
    EXPECT_EQ(config->GetHost(4).GetUser(), "third");
    // Resolution takes the first exact match: the built-in default.
    EXPECT_EQ(config->ResolveHost("default").GetUser(), "");
}

TEST(HostBlock, Errors) {
    LineNumber = 0;
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"DEFINE_HOST child : parent {\n}\n",
         "Config error. 'child' is inherited from unknown host 'parent'."},
        // Top-level lines are not trimmed, block lines are.
        {"DEFINE_HOST a {\n  BOGUS\n}\n", "Config error. Bad line: |BOGUS|. Line number: 3."},
        {"DEFINE_HOST a {\nUSER=x\n\n", "Config error. Missing '}' of host 'a' opened at line 4."},
        {"DEFINE_HOST a {\nDEFINE_HOST b {\n}\n}\n",
         "Config error. DEFINE_HOST inside a host block. Line number: 8."},
        {"DEFINE_HOST {\n}\n", "Config error. Host name missing: |{|. Line number: 9."},
        {"DEFINE_HOST\n", "Config error. Host name missing: ||. Line number: 10."},
        {"DEFINE_HOST a {\nMAX_SCROLL_SIZE=1.5\n}\n",
         "Config error. Bad value for integer option MAX_SCROLL_SIZE: 1.5."},
    };
    for (const Case& c : cases) {
        auto config = NewConfig();
        EXPECT_EQ(ReadError(*config, c.text), c.message) << c.text;
        // A failed block never counts as a host.
        EXPECT_EQ(config->GetHostCount(), 1) << c.text;
    }
}

TEST(HostBlock, AnErrorInsideABlockLeavesTheLoaderUsable) {
    auto config = NewConfig();
    EXPECT_NE(ReadError(*config, "DEFINE_HOST a {\nBOGUS\n}\n"), "");
    // Loading another file may define hosts again.
    EXPECT_EQ(ReadError(*config, "DEFINE_HOST b {\n}\n"), "");
    EXPECT_EQ(config->GetHostCount(), 2);
    EXPECT_EQ(config->GetHost(1).GetName(), "b");
}

TEST(HostBlock, SixtyFourHostsAtMost) {
    std::string text;
    for (int i = 1; i < kMaxHosts; ++i) text += "DEFINE_HOST h" + std::to_string(i) + " {\n}\n";
    auto config = Loaded(text);
    EXPECT_EQ(config->GetHostCount(), kMaxHosts);
    LineNumber = 0;
    EXPECT_EQ(ReadError(*config, "DEFINE_HOST extra {\n}\n"),
              "Config error. Too many hosts: 'extra' would be number 65, at most 64. Line "
              "number: 1.");
    EXPECT_EQ(config->GetHostCount(), kMaxHosts);
    EXPECT_EQ(config->GetHost(kMaxHosts - 1).GetName(), "h63");
}
