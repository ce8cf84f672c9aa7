#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "config/telnet_config.h"
#include "config_test_util.h"

// Settings, errors, host blocks and resolving are checked by the case files
// in tests/data/config/cases.
TEST(ConfigKeys, TermcapIsTriedBeforeTerm) {
    std::string termcap = QUENLOR_TEST_DATA "/config/termcap.test";
    auto config = Loaded("TERMCAP=" + termcap + "\n");
    EXPECT_EQ(config->GetHost(0).GetTermcapFile(), termcap);
    EXPECT_EQ(config->GetHost(0).GetTerminalType(), "cons25r");
}

TEST(LoadConfig, MissingFile) {
    auto config = NewConfig();
    try {
        config->LoadConfig("/nonexistent/quenlor.cfg");
        FAIL();
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "Unable to open config file: /nonexistent/quenlor.cfg.");
    }
}

TEST(LoadConfig, LineNumberRunsAcrossFiles) {
    // first.cfg has 5 lines (CR LF ends) and defines a host; second.cfg
    // inherits from it and fails on its line 4.
    auto config = NewConfig();
    LineNumber = 0;
    config->LoadConfig(QUENLOR_TEST_DATA "/config/first.cfg");
    EXPECT_EQ(LineNumber, 5);
    EXPECT_EQ(config->GetHost(1).GetName(), "alpha");
    EXPECT_EQ(config->GetHost(1).GetUser(), "alice");
    try {
        config->LoadConfig(QUENLOR_TEST_DATA "/config/second.cfg");
        FAIL();
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "Config error. Bad line: |NO_SUCH_KEY=1|. Line number: 9.");
    }
    ASSERT_EQ(config->GetHostCount(), 3);
    EXPECT_EQ(config->GetHost(2).GetName(), "beta");
    EXPECT_EQ(config->GetHost(2).GetUser(), "alice");
    EXPECT_EQ(config->GetHost(2).GetPort(), 2323);
}

TEST(LoadConfig, SampleConfiguration) {
    auto config = NewConfig();
    config->LoadConfig(QUENLOR_SOURCE_DIR "/etc/quenlor.cfg");
    ASSERT_EQ(config->GetTableCount(), 4);
    int winAlt = config->FindTable("win_alt");
    int altWin = config->FindTable("alt_win");
    ASSERT_EQ(winAlt, 2);
    ASSERT_EQ(altWin, 3);
    // Cyrillic capital A: 0xC0 in code page 1251, 0x80 in code page 866.
    EXPECT_EQ(config->Recode(winAlt, 0xC0), 0x80);
    EXPECT_EQ(config->Recode(altWin, 0x80), 0xC0);

    int local = config->FindHost("local");
    ASSERT_GT(local, 0);
    EXPECT_EQ(config->GetHost(local).GetProtocol(), kProtocolTelnet);
    EXPECT_EQ(config->GetHost(local).GetAddress(), "127.0.0.1");
    EXPECT_EQ(config->GetHost(local).GetPort(), 23);
    const THostConfig& local1251 = config->GetHost(config->FindHost("local1251"));
    EXPECT_EQ(local1251.GetIncomingTable(), winAlt);
    EXPECT_EQ(local1251.GetOutgoingTable(), altWin);

    const THostConfig& shell = config->GetHost(config->FindHost("shell"));
    EXPECT_EQ(shell.GetProtocol(), kProtocolSsh);
    EXPECT_EQ(shell.GetAuthType(), kAuthPassword);

    const THostConfig& shell2 = config->GetHost(config->FindHost("shell2"));
    EXPECT_EQ(shell2.GetProtocol(), kProtocolSsh2);
    EXPECT_EQ(shell2.GetPort(), 22);
    EXPECT_EQ(shell2.GetAuthType(), kAuthDsa);
    EXPECT_FALSE(shell2.GetKeyFile().empty());
    EXPECT_EQ(shell2.GetUser(), shell.GetUser());

    for (const char* name : {"replay", "demo"}) {
        const int index = config->FindHost(name);
        ASSERT_GT(index, 0) << name;
        EXPECT_EQ(config->GetHost(index).GetProtocol(), kProtocolFile) << name;
        EXPECT_FALSE(config->GetHost(index).GetHistorable()) << name;
    }

    // Every defined host but the two replays is offered at the connect prompt.
    EXPECT_EQ(config->GetHistory().Count(), config->GetHostCount() - 3);
}

TEST(ResolveHost, ConcurrentSessions) {
    auto config = Loaded("DEFINE_HOST a {\n}\nDEFINE_HOST b {\nPROTOCOL=ssh\n}\n");
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                THostConfig host = config->ResolveHost(i % 2 ? "b" : "a");
                if (host.GetPort() != (i % 2 ? 22 : 23)) ++wrong[t];
                TStringHistory copy = config->GetHistory();
                (void)copy.Current();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int count : wrong) EXPECT_EQ(count, 0);
    EXPECT_EQ(config->GetHistory().Count(), 2 + kThreads * kRounds);
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
