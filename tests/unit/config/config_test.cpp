// The configuration: every case file of tests/data/config/cases (the README
// there explains the directives), then what a file cannot express.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "../base/case_file.h"
#include "base/exception.h"
#include "config/config_text.h"
#include "config/decode_address.h"
#include "config/telnet_config.h"

namespace {

namespace fs = std::filesystem;

std::string Field(const THostConfig& h, const std::string& field) {
    static const char* const kProtocols[] = {"telnet", "ssh", "file", "ssh2", "serial"};
    static const char* const kAuths[] = {"", "password", "rsa", "dsa", "key", "agent"};
    static const char* const kLogs[] = {"none", "text", "full"};
    const std::map<std::string, std::string> fields = {
        {"name", h.GetName()},
        {"address", h.GetAddress()},
        {"port", std::to_string(h.GetPort())},
        {"protocol", kProtocols[h.GetProtocol()]},
        {"user", h.GetUser()},
        {"term", h.GetTerminalType()},
        {"termcap", h.GetTermcapFile()},
        {"auth", kAuths[h.GetAuthType()]},
        {"keyfile", h.GetKeyFile()},
        {"password", h.GetPassword()},
        {"in", std::to_string(h.GetIncomingTable())},
        {"out", std::to_string(h.GetOutgoingTable())},
        {"beep", std::to_string(h.GetEnableBeep())},
        {"historable", std::to_string(h.GetHistorable())},
        {"keepselection", std::to_string(h.GetKeepSelection())},
        {"maxscroll", std::to_string(h.GetMaxScrollSize())},
        {"logmode", kLogs[h.GetLogMode()]},
        {"logfile", h.GetLogFile()},
        {"console", h.GetConsoleType() == kConsoleStd ? "std" : "ncsa"},
        {"rekeybytes", std::to_string(h.GetRekeyBytes())},
        {"rekeyseconds", std::to_string(h.GetRekeySeconds())},
    };
    const auto f = fields.find(field);
    return f == fields.end() ? "<unknown field " + field + ">" : f->second;
}

// The line after its first `skip` words, with $DATA expanded.
std::string After(const std::string& line, int skip) {
    std::string text = line;
    for (int i = 0; i < skip; ++i) {
        const size_t space = text.find(' ');
        text = space == std::string::npos ? "" : text.substr(space + 1);
    }
    for (size_t at; (at = text.find("$DATA")) != std::string::npos;)
        text.replace(at, 5, QUENLOR_TEST_DATA);
    return text;
}

// What `read` raised, "" when nothing.
template <typename Read>
std::string ErrorOf(Read read) {
    try {
        read();
    } catch (const TException& e) {
        return e.what();
    }
    return "";
}

class ConfigCase : public ::testing::TestWithParam<fs::path> {};

TEST_P(ConfigCase, Runs) {
    std::ifstream in(GetParam());
    auto config = std::make_unique<TTelnetConfig>();
    LineNumber = 0;
    std::string line, error = "<nothing read>";
    int number = 0, checks = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        SCOPED_TRACE(GetParam().filename().string() + ":" + std::to_string(number));
        std::string op, a, b;
        std::istringstream(line) >> op >> a >> b;
        const std::string rest = After(line, 1), value = After(line, 3);
        checks += op != "fresh" && op != "load" && op != "config";
        if (op == "fresh") {
            config = std::make_unique<TTelnetConfig>();
            LineNumber = 0;
        } else if (op == "load") {
            error = ErrorOf([&] { config->LoadConfig(rest); });
        } else if (op == "config") {
            std::string text;
            for (; std::getline(in, line) && line != "end"; ++number) text += After(line, 0) + "\n";
            ++number;
            std::istringstream file(text);
            error = ErrorOf([&] { config->ReadConfig(file); });
        } else if (op == "error") {
            EXPECT_EQ(rest, error);
        } else if (op == "line" || op == "hosts" || op == "tables") {
            EXPECT_EQ(Num(rest), op == "line"    ? LineNumber
                                 : op == "hosts" ? config->GetHostCount()
                                                 : config->GetTableCount());
        } else if (op == "host") {
            const int index = std::isdigit(a[0]) ? std::stoi(a) : config->FindHost(a);
            ASSERT_TRUE(index >= 0 && index < config->GetHostCount());
            EXPECT_EQ(value, Field(config->GetHost(index), b));
        } else if (op == "resolve") {
            std::string got;
            const std::string raised = ErrorOf([&] { got = Field(config->ResolveHost(a), b); });
            EXPECT_EQ(value, raised.empty() ? got : raised);
        } else if (op == "history") {
            TStringHistory history = config->GetHistory();
            EXPECT_EQ(std::stoi(a), history.Count());
            for (const std::string& name : Words(After(line, 2))) {
                EXPECT_EQ(name, history.Current());
                history.Older();
            }
        } else if (op == "table") {
            EXPECT_EQ(Num(b), config->FindTable(a));
        } else if (op == "recode") {
            std::vector<std::string> w = Words(rest);
            w.resize(5, "1");
            for (int k = 0; k < Num(w[3]); ++k)
                EXPECT_EQ(
                    Num("0x" + w[2]) + k * Num(w[4]),
                    config->Recode(Num(w[0]), static_cast<unsigned char>(Num("0x" + w[1]) + k)))
                    << "byte " << k;
        } else {
            ADD_FAILURE() << "unknown directive " << op;
        }
    }
    EXPECT_GT(checks, 0) << "a case file must check something";
}

std::vector<fs::path> CaseFiles() {
    std::set<fs::path> files;
    for (const auto& entry : fs::directory_iterator(QUENLOR_TEST_DATA "/config/cases"))
        if (entry.path().extension() == ".cfgcase") files.insert(entry.path());
    return {files.begin(), files.end()};
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigCase, ::testing::ValuesIn(CaseFiles()),
                         [](const auto& info) { return info.param.stem().string(); });

// Setting lines: tests/data/config/text.cases explains its rows.
TEST(ConfigText, Cases) {
    for (const TCase& c : ReadCases("config/text.cases")) {
        SCOPED_TRACE(c.where);
        const auto number = ParseCanonicalInt(c[1]);
        EXPECT_EQ(c.fields.back(), c[0] == "key" ? MatchKey(c[1], c[2].c_str()).value_or("-")
                                   : number      ? std::to_string(*number)
                                                 : "-");
    }
}

TEST(ConfigText, EndlessLineStopsEarly) {
    // A file without line ends (a binary given by mistake) is refused after
    // the limit instead of being read whole.
    std::istringstream in(std::string(1 << 20, 'z'));
    std::string line;
    EXPECT_THROW(ReadConfigLine(in, line), TException);
    EXPECT_LT(in.tellg(), 300);
}

// A protocol number out of range is an error, not an overread.
TEST(DecodeAddress, ProtocolRange) {
    THostConfig host;
    host.SetProtocol(7);
    EXPECT_EQ("DecodeAddress error. Unknown protocol: 7.",
              ErrorOf([&] { DecodeAddress("example.org:23", host); }));
}

TEST(BuiltInTables, InversePermutations) {
    TTelnetConfig config;
    for (int table = 0; table < 2; ++table) {
        std::set<int> images;
        for (int b = 0x80; b <= 0xFF; ++b) {
            images.insert(config.Recode(table, static_cast<unsigned char>(b)));
            EXPECT_EQ(
                b, config.Recode(1 - table, config.Recode(table, static_cast<unsigned char>(b))));
        }
        EXPECT_EQ(128u, images.size());
        EXPECT_EQ(0x80, *images.begin());
    }
}

// Sessions resolve hosts on their own threads; ThreadSanitizer watches.
TEST(ResolveHost, ConcurrentSessions) {
    auto config = std::make_unique<TTelnetConfig>();
    std::istringstream file("DEFINE_HOST a {\n}\nDEFINE_HOST b {\nPROTOCOL=ssh\n}\n");
    config->ReadConfig(file);
    constexpr int kThreads = 4, kRounds = 200;
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                if (config->ResolveHost(i % 2 ? "b" : "a").GetPort() != (i % 2 ? 22 : 23))
                    ++wrong[t];
                TStringHistory copy = config->GetHistory();
                (void)copy.Current();
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::vector<int>(kThreads, 0), wrong);
    EXPECT_EQ(2 + kThreads * kRounds, config->GetHistory().Count());
}

}  // namespace
