// Runs every configuration case file in tests/data/config/cases/. A case
// reads configuration texts and checks the hosts they define. Directives, one
// per line ("#" comments):
//
//   fresh                  a new configuration (and line count) from here on
//   config ... end         the lines in between are read as one file
//   error [TEXT]           that read failed with TEXT; without TEXT, it did not
//   hosts N                N hosts are defined
//   host I FIELD [VALUE]   field of host I equals VALUE (empty without one)
//   resolve NAME FIELD [VALUE]  the same for ResolveHost(NAME); FIELD "error":
//                          resolving fails with the message VALUE
//   history N [NAMES]      the connect prompt's history holds N names, these
//                          first (newest first)
//   tables N               N recode tables are defined
//   table NAME I           FindTable(NAME) is I
//   recode T FROM TO [N [STEP]]  table T turns byte FROM+k into TO+k*STEP for
//                          k < N (bytes in hex; N 1, STEP 1 by default)
//
// Fields: name address port protocol user term termcap auth keyfile password
// in out beep historable keepselection maxscroll logmode logfile console
// rekeybytes rekeyseconds.
// Protocols, authentications and log modes are given by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "config_test_util.h"

namespace {

namespace fs = std::filesystem;

std::string Field(const THostConfig& h, const std::string& field) {
    static const char* const kProtocols[] = {"telnet", "ssh", "file", "ssh2", "serial"};
    static const char* const kAuths[] = {"", "password", "rsa", "dsa"};
    static const char* const kLogs[] = {"none", "text", "full"};
    static const std::map<std::string, std::function<std::string(const THostConfig&)>> kFields = {
        {"name", [](auto& h) { return h.GetName(); }},
        {"address", [](auto& h) { return h.GetAddress(); }},
        {"port", [](auto& h) { return std::to_string(h.GetPort()); }},
        {"protocol", [](auto& h) { return kProtocols[h.GetProtocol()]; }},
        {"user", [](auto& h) { return h.GetUser(); }},
        {"term", [](auto& h) { return h.GetTerminalType(); }},
        {"termcap", [](auto& h) { return h.GetTermcapFile(); }},
        {"auth", [](auto& h) { return kAuths[h.GetAuthType()]; }},
        {"keyfile", [](auto& h) { return h.GetKeyFile(); }},
        {"password", [](auto& h) { return h.GetPassword(); }},
        {"in", [](auto& h) { return std::to_string(h.GetIncomingTable()); }},
        {"out", [](auto& h) { return std::to_string(h.GetOutgoingTable()); }},
        {"beep", [](auto& h) { return std::to_string(h.GetEnableBeep()); }},
        {"historable", [](auto& h) { return std::to_string(h.GetHistorable()); }},
        {"keepselection", [](auto& h) { return std::to_string(h.GetKeepSelection()); }},
        {"maxscroll", [](auto& h) { return std::to_string(h.GetMaxScrollSize()); }},
        {"logmode", [](auto& h) { return kLogs[h.GetLogMode()]; }},
        {"logfile", [](auto& h) { return h.GetLogFile(); }},
        {"console", [](auto& h) { return h.GetConsoleType() == kConsoleStd ? "std" : "ncsa"; }},
        {"rekeybytes", [](auto& h) { return std::to_string(h.GetRekeyBytes()); }},
        {"rekeyseconds", [](auto& h) { return std::to_string(h.GetRekeySeconds()); }},
    };
    auto f = kFields.find(field);
    if (f == kFields.end()) return "<unknown field " + field + ">";
    return f->second(h);
}

class ConfigCase : public ::testing::TestWithParam<fs::path> {};

TEST_P(ConfigCase, Runs) {
    std::ifstream in(GetParam());
    ASSERT_TRUE(in) << GetParam();
    auto config = NewConfig();
    LineNumber = 0;
    std::string line, error = "<nothing read>";
    int number = 0, checks = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::string where = GetParam().filename().string() + ":" + std::to_string(number);
        std::istringstream words(line);
        std::string op, rest;
        words >> op;
        std::getline(words, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        // The value is the rest of the line after the words before it.
        auto after = [&](int skip) {
            std::string text = rest;
            for (int i = 0; i < skip; ++i) {
                const size_t space = text.find(' ');
                text = space == std::string::npos ? "" : text.substr(space + 1);
            }
            return text;
        };
        std::string a, b;
        std::istringstream(rest) >> a >> b;
        if (op != "fresh" && op != "config") ++checks;
        if (op == "fresh") {
            config = NewConfig();
            LineNumber = 0;
        } else if (op == "config") {
            std::string text;
            while (std::getline(in, line) && line != "end") {
                ++number;
                text += line + "\n";
            }
            ++number;
            error = ReadError(*config, text);
        } else if (op == "error") {
            EXPECT_EQ(error, rest) << where;
        } else if (op == "hosts") {
            EXPECT_EQ(config->GetHostCount(), std::stoi(rest)) << where;
        } else if (op == "host") {
            const int index = std::stoi(a);
            ASSERT_LT(index, config->GetHostCount()) << where;
            EXPECT_EQ(Field(config->GetHost(index), b), after(2)) << where;
        } else if (op == "resolve") {
            std::string c;
            std::istringstream(rest) >> a >> c;
            if (c == "error") {
                try {
                    config->ResolveHost(a);
                    ADD_FAILURE() << where << ": resolved";
                } catch (const TException& e) {
                    EXPECT_EQ(e.what(), after(2)) << where;
                }
            } else {
                EXPECT_EQ(Field(config->ResolveHost(a), c), after(2)) << where;
            }
        } else if (op == "history") {
            TStringHistory history = config->GetHistory();
            std::istringstream names(rest);
            int count = 0;
            names >> count;
            EXPECT_EQ(history.Count(), count) << where;
            for (std::string name; names >> name; history.Older())
                EXPECT_EQ(history.Current(), name) << where;
        } else if (op == "tables") {
            EXPECT_EQ(config->GetTableCount(), std::stoi(rest)) << where;
        } else if (op == "table") {
            EXPECT_EQ(config->FindTable(a), std::stoi(b)) << where;
        } else if (op == "recode") {
            std::istringstream words(rest);
            std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
            w.resize(std::max<std::size_t>(w.size(), 5));
            const int table = std::stoi(w[0]), from = std::stoi(w[1], nullptr, 16),
                      to = std::stoi(w[2], nullptr, 16), count = w[3].empty() ? 1 : std::stoi(w[3]),
                      step = w[4].empty() ? 1 : std::stoi(w[4]);
            for (int k = 0; k < count; ++k)
                EXPECT_EQ(config->Recode(table, static_cast<unsigned char>(from + k)),
                          to + k * step)
                    << where << " byte " << from + k;
        } else {
            FAIL() << where << ": unknown directive " << op;
        }
    }
    EXPECT_GT(checks, 0) << "a case file must check something";
}

std::vector<fs::path> CaseFiles() {
    std::vector<fs::path> files;
    for (const auto& entry :
         fs::directory_iterator(fs::path(QUENLOR_TEST_DATA) / "config" / "cases"))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigCase, ::testing::ValuesIn(CaseFiles()), [](const auto& info) {
    std::string name = info.param.stem().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

}  // namespace
