#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "config/telnet_config.h"
#include "config_test_util.h"

TEST(ConfigDefaults, HostDefaultAndBuiltInTables) {
    auto config = NewConfig();
    ASSERT_EQ(config->GetHostCount(), 1);
    const THostConfig& host = config->GetHost(0);
    EXPECT_EQ(host.GetName(), "default");
    EXPECT_EQ(host.GetTerminalType(), "cons25r");
    EXPECT_EQ(host.GetTermcapFile(), "termcap");
    EXPECT_EQ(host.GetPort(), 23);
    EXPECT_EQ(host.GetProtocol(), kProtocolTelnet);
    EXPECT_EQ(host.GetMaxScrollSize(), 256);
    EXPECT_EQ(host.GetAuthType(), kAuthPassword);
    EXPECT_EQ(host.GetIncomingTable(), 0);
    EXPECT_EQ(host.GetOutgoingTable(), 1);
    EXPECT_TRUE(host.GetEnableBeep());
    EXPECT_TRUE(host.GetHistorable());
    EXPECT_FALSE(host.GetKeepSelection());
    EXPECT_EQ(config->GetTableCount(), 2);
    EXPECT_STREQ(config->GetTable(0).Name, "koi8r_alt");
    EXPECT_STREQ(config->GetTable(1).Name, "alt_koi8r");
    EXPECT_EQ(config->GetHistory().Count(), 0);
}

TEST(ConfigKeys, SettingsOfTheDefaultHost) {
    auto config = Loaded(
        "# comment\n"
        "\n"
        "address = example.org\n"
        "Console=STD\n"
        "ENABLE_BEEP=0\n"
        "ENABLE_BEEP 1yes\n"
        "HISTORABLE=0\n"
        "KEEP_SELECTION=1\n"
        "ENABLE_SHOW=0\n"
        "LOCK_HISTORY=1\n"
        "MAX_SCROLL_SIZE=  100 \n"
        "TERM=vt100\n"
        "USER=bob\n"
        "SSH_CIPHER=anything at all\n"
        "SSH_COMPRESSION=6\n"
        "SSH_AUTH=dsa:id_dsa\n"
        "SSH_PASSWORD=pw\n"
        "OUTGOING_RECODE_TABLE=koi8r_alt\n");
    const THostConfig& host = config->GetHost(0);
    EXPECT_EQ(host.GetAddress(), "example.org");
    EXPECT_EQ(host.GetConsoleType(), kConsoleStd);
    EXPECT_TRUE(host.GetEnableBeep());
    EXPECT_FALSE(host.GetHistorable());
    EXPECT_TRUE(host.GetKeepSelection());
    EXPECT_EQ(host.GetMaxScrollSize(), 100);
    EXPECT_EQ(host.GetTerminalType(), "vt100");
    EXPECT_EQ(host.GetUser(), "bob");
    // SSH_PASSWORD switches back to password login, the key file stays.
    EXPECT_EQ(host.GetAuthType(), kAuthPassword);
    EXPECT_EQ(host.GetKeyFile(), "id_dsa");
    EXPECT_EQ(host.GetPassword(), "pw");
    EXPECT_EQ(host.GetOutgoingTable(), 0);
    EXPECT_EQ(host.GetName(), "default");
}

TEST(ConfigKeys, TermcapIsTriedBeforeTerm) {
    std::string termcap = QUENLOR_TEST_DATA "/config/termcap.test";
    auto config = Loaded("TERMCAP=" + termcap + "\n");
    EXPECT_EQ(config->GetHost(0).GetTermcapFile(), termcap);
    EXPECT_EQ(config->GetHost(0).GetTerminalType(), "cons25r");

    config = Loaded("TERM=xterm\n");
    EXPECT_EQ(config->GetHost(0).GetTerminalType(), "xterm");
    EXPECT_EQ(config->GetHost(0).GetTermcapFile(), "termcap");

    config = NewConfig();
    EXPECT_EQ(ReadError(*config, "TERMCAP=/nonexistent/termcap\n"),
              "Config error. Unable to open TERMCAP: /nonexistent/termcap.");
    // The setting is made before the check.
    EXPECT_EQ(config->GetHost(0).GetTermcapFile(), "/nonexistent/termcap");
}

TEST(ConfigKeys, LogFileAndProtocolAddressInterplay) {
    struct Log {
        const char* text;
        int mode;
        const char* file;
    } logs[] = {
        {"LOG_FILE=full:raw.log\n", kLogFull, "raw.log"},
        {"LOG_FILE=text:t.log\n", kLogText, "t.log"},
        {"LOG_FILE=full:x\nLOG_FILE=FULL:raw.log\n", kLogNone, "FULL:raw.log"},
    };
    for (const Log& c : logs) {
        auto config = Loaded(c.text);
        EXPECT_EQ(config->GetHost(0).GetLogMode(), c.mode) << c.text;
        EXPECT_EQ(config->GetHost(0).GetLogFile(), c.file) << c.text;
    }
    // PROTOCOL sets the default port; a port in ADDRESS after it wins.
    struct Protocol {
        const char* text;
        int protocol, port;
    } protocols[] = {
        {"ADDRESS=example.org:2323\nPROTOCOL=ssh\n", kProtocolSsh, 22},
        {"PROTOCOL=ssh\nADDRESS=example.org:2323\n", kProtocolSsh, 2323},
        {"PROTOCOL=ssh2\n", kProtocolSsh2, 22},
        {"PROTOCOL=ssh\nPROTOCOL=telnet\n", kProtocolTelnet, 23},
    };
    for (const Protocol& c : protocols) {
        auto config = Loaded(c.text);
        EXPECT_EQ(config->GetHost(0).GetProtocol(), c.protocol) << c.text;
        EXPECT_EQ(config->GetHost(0).GetPort(), c.port) << c.text;
    }
}

TEST(ConfigErrors, ExactMessages) {
    LineNumber = 0;
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"\n#x\n  ADDRESS=a\n", "Config error. Bad line: |  ADDRESS=a|. Line number: 3."},
        {"FOO=1\n", "Config error. Bad line: |FOO=1|. Line number: 4."},
        {"ENABLE_BEEP=yes\n", "Config error. Bad value for boolean option ENABLE_BEEP: yes."},
        {"HISTORABLE\n", "Config error. Bad value for boolean option HISTORABLE: ."},
        {"LOCK_HISTORY=2\n", "Config error. Bad value for boolean option LOCK_HISTORY: 2."},
        {"MAX_SCROLL_SIZE=0100\n",
         "Config error. Bad value for integer option MAX_SCROLL_SIZE: 0100."},
        {"MAX_SCROLL_SIZE= +5 \n",
         "Config error. Bad value for integer option MAX_SCROLL_SIZE: +5 ."},
        {"MAX_SCROLL_SIZE=\n", "Config error. Bad value for integer option MAX_SCROLL_SIZE: ."},
        {"MAX_SCROLL_SIZE=-1\n", "Config error. Bad value for integer option MAX_SCROLL_SIZE: -1."},
        {"SSH_COMPRESSION=9x\n", "Config error. Bad value for integer option SSH_COMPRESSION: 9x."},
        {"PROTOCOL=SSH\n", "Config error. Unknown protocol: SSH."},
        {"PROTOCOL=file\n", "Config error. Unknown protocol: file."},
        {"PROTOCOL=ssh \n", "Config error. Unknown protocol: ssh ."},
        {"CONSOLE=std\n", "Config error. Unknown console type: std."},
        {"INCOMING_RECODE_TABLE=KOI8R_ALT\n",
         "Config error. Table not found: INCOMING_RECODE_TABLE = KOI8R_ALT."},
        {"OUTGOING_RECODE_TABLE=none\n",
         "Config error. Table not found: OUTGOING_RECODE_TABLE = none."},
        {"SSH_AUTH=pgp:file\n", "DecodeAuth. Unknown SSH authentication type: |pgp:file|."},
        {"ADDRESS=host:\n", "DecodeAddress error. Unknown protocol: host."},
    };
    for (const Case& c : cases) {
        auto config = NewConfig();
        EXPECT_EQ(ReadError(*config, c.text), c.message) << c.text;
    }
}

TEST(ConfigErrors, EarlierLinesStayLoaded) {
    auto config = NewConfig();
    EXPECT_NE(ReadError(*config, "USER=alice\nBAD\nUSER=bob\n"), "");
    EXPECT_EQ(config->GetHost(0).GetUser(), "alice");
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

TEST(ResolveHost, DefinedNameIsCaseSensitive) {
    auto config = Loaded(
        "PROTOCOL=ssh\n"
        "DEFINE_HOST Box {\n"
        "PROTOCOL=telnet\n"
        "ADDRESS=box.example.org:2323\n"
        "}\n");
    THostConfig host = config->ResolveHost("Box");
    EXPECT_EQ(host.GetAddress(), "box.example.org");
    EXPECT_EQ(host.GetPort(), 2323);
    EXPECT_EQ(host.GetProtocol(), kProtocolTelnet);

    // Another letter case is decoded as an address with the default's settings.
    host = config->ResolveHost("box");
    EXPECT_EQ(host.GetName(), "box");
    EXPECT_EQ(host.GetAddress(), "box");
    EXPECT_EQ(host.GetProtocol(), kProtocolSsh);
    EXPECT_EQ(host.GetPort(), 22);

    host = config->ResolveHost("ssh2:other:2200");
    EXPECT_EQ(host.GetName(), "ssh2:other:2200");
    EXPECT_EQ(host.GetAddress(), "other");
    EXPECT_EQ(host.GetPort(), 2200);

    // The configuration's own entries are untouched by what sessions resolve.
    EXPECT_EQ(config->GetHost(0).GetAddress(), "");
    EXPECT_EQ(config->GetHost(0).GetName(), "default");
}

TEST(ResolveHost, HistoryGetsHistorableNames) {
    auto config = Loaded(
        "DEFINE_HOST seen {\n}\n"
        "DEFINE_HOST hidden {\nHISTORABLE=0\n}\n");
    ASSERT_EQ(config->GetHistory().Count(), 1);
    EXPECT_EQ(config->GetHistory().Current(), "seen");
    config->ResolveHost("hidden");
    config->ResolveHost("seen");
    config->ResolveHost("typed.example.org");
    TStringHistory history = config->GetHistory();
    ASSERT_EQ(history.Count(), 3);
    EXPECT_EQ(history.Current(), "typed.example.org");
    history.Older();
    EXPECT_EQ(history.Current(), "seen");
    history.Older();
    EXPECT_EQ(history.Current(), "seen");

    // A text that fails to decode adds nothing.
    EXPECT_THROW(config->ResolveHost("bad:"), TException);
    EXPECT_EQ(config->GetHistory().Count(), 3);
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
