// Runs every emulator case file in tests/data/term/cases/. A case gives a
// terminal description, the byte blocks the host sends (and keys the user
// presses) and what must follow. Directives, one per line ("#" comments):
//
//   size W H              screen size (default 80 25); before the first push
//   termcap ... end       the description, inline (the lines in between)
//   termcapfile PATH      or a description file, relative to the source tree
//   type NAME             terminal type (default: first name of the inline entry)
//   tables IN OUT         recoding table indexes (default 0 1: KOI8-R <-> CP866),
//                         or utf-8
//   push BYTES            one Write block
//   pushsplit BYTES       the same bytes, one Write per byte
//   pushrepeat N BYTES    BYTES repeated N times, as one block
//   pushfile PATH [N]     a file under tests/data/term, whole or in blocks of N
//   key VK CHAR [STATE]   a key press (numbers in hex, VK also as VK_ name)
//   sent BYTES            GetOutput hands out exactly these bytes
//   row Y TEXT            row Y, without trailing blanks, equals TEXT (escapes ok)
//   rows ... end          rows from 0, literally, without trailing blanks
//   screenfile PATH       rows from 0 as UTF-8 text (a terminal's capture)
//   cursor X Y / char X Y HEX / attr X Y HEX / curattr HEX
//   altcharset 0|1 / pending N
//
// BYTES are text with escapes \e \r \n \b \t \0 \\ \xHH; a final \s keeps a
// trailing blank.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "../base/case_file.h"
#include "../console/key_names.h"
#include "config/host_config.h"
#include "config/recode_table.h"
#include "console/headless_console.h"
#include "platform/cp866.h"
#include "term/termcap_emulator.h"
#include "term_test_util.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCases = fs::path(QUENLOR_TEST_DATA) / "term" / "cases";

std::string RightTrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

int Hex(const std::string& s) {
    return static_cast<int>(std::stol(s, nullptr, 16));
}

class EmulatorCase : public ::testing::TestWithParam<fs::path> {
  protected:
    void SetUp() override { console_ = std::make_unique<THeadlessConsole>(80, 25); }

    // Creates the emulator on first use, once the set-up lines are read.
    TTermcapEmulator& Emulator() {
        if (!emulator_) {
            if (!inline_termcap_.empty()) {
                termcap_ = std::make_unique<TTempFile>(inline_termcap_);
                host_.SetTermcapFile(termcap_->Path());
                if (host_.GetTerminalType().empty()) {
                    std::string first = inline_termcap_;
                    first = first.substr(0, first.find_first_of("|:\n"));
                    host_.SetTerminalType(first);
                }
            }
            console_ = std::make_unique<THeadlessConsole>(width_, height_);
            screen_ = console_->AddScreen();
            console_->SetActiveScreen(screen_);
            emulator_ = std::make_unique<TTermcapEmulator>(&host_, screen_, console_.get());
        }
        return *emulator_;
    }

    std::string Row(int y) {
        const ScreenRecord& s = console_->GetScreen(screen_);
        std::string row;
        for (int x = 0; x < s.Width; ++x) row += static_cast<char>(s.Cells[y * s.Width + x].Char);
        return RightTrim(row);
    }

    std::string Dump() {
        std::ostringstream out;
        const ScreenRecord& s = console_->GetScreen(screen_);
        for (int y = 0; y < s.Height; ++y) out << "  |" << Row(y) << "|\n";
        out << "  cursor " << s.CursorX << " " << s.CursorY;
        return out.str();
    }

    const TCell& Cell(int x, int y) {
        const ScreenRecord& s = console_->GetScreen(screen_);
        return s.Cells.at(static_cast<size_t>(y) * s.Width + x);
    }

    void Push(const std::string& bytes, size_t block) {
        TTermcapEmulator& e = Emulator();
        for (size_t i = 0; i < bytes.size(); i += block) {
            const size_t n = std::min(block, bytes.size() - i);
            e.Write(bytes.data() + i, static_cast<int>(n));
        }
    }

    std::unique_ptr<THeadlessConsole> console_;
    std::unique_ptr<TTermcapEmulator> emulator_;
    std::unique_ptr<TTempFile> termcap_;
    THostConfig host_;
    std::string inline_termcap_;
    int width_ = 80;
    int height_ = 25;
    int screen_ = 0;
};

TEST_P(EmulatorCase, Runs) {
    std::ifstream in(GetParam());
    ASSERT_TRUE(in) << GetParam();
    std::string line;
    int number = 0;
    int checks = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::string where = GetParam().filename().string() + ":" + std::to_string(number);
        std::istringstream words(line);
        std::string op;
        words >> op;
        std::string rest;
        std::getline(words, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        static const std::set<std::string> kChecks = {"sent",       "row",    "rows", "screenfile",
                                                      "cursor",     "char",   "attr", "curattr",
                                                      "altcharset", "pending"};
        if (kChecks.count(op)) {
            Emulator();  // the screen exists from the first check on
            ++checks;
        }

        if (op == "size") {
            std::istringstream(rest) >> width_ >> height_;
        } else if (op == "type") {
            host_.SetTerminalType(rest);
        } else if (op == "tables") {
            std::string a, b;
            std::istringstream(rest) >> a >> b;
            auto index = [](const std::string& w) {
                return w == kRecodeUtf8Name ? kRecodeUtf8 : std::stoi(w);
            };
            host_.SetIncomingTable(index(a));
            host_.SetOutgoingTable(index(b));
        } else if (op == "termcapfile") {
            host_.SetTermcapFile((fs::path(QUENLOR_SOURCE_DIR) / rest).string());
        } else if (op == "termcap") {
            while (std::getline(in, line) && line != "end") {
                ++number;
                inline_termcap_ += line + "\n";
            }
            ++number;
        } else if (op == "push") {
            Push(Unescape(rest), SIZE_MAX);
        } else if (op == "pushsplit") {
            Push(Unescape(rest), 1);
        } else if (op == "pushrepeat") {
            size_t space = rest.find(' ');
            int n = std::stoi(rest.substr(0, space));
            std::string unit = Unescape(rest.substr(space + 1)), all;
            for (int i = 0; i < n; ++i) all += unit;
            Push(all, SIZE_MAX);
        } else if (op == "pushfile") {
            std::istringstream args(rest);
            std::string name;
            size_t block = SIZE_MAX;
            args >> name >> block;
            std::ifstream data(fs::path(QUENLOR_TEST_DATA) / "term" / name, std::ios::binary);
            ASSERT_TRUE(data) << where << ": " << name;
            std::string bytes((std::istreambuf_iterator<char>(data)), {});
            Push(bytes, block == 0 ? SIZE_MAX : block);
        } else if (op == "key") {
            std::istringstream args(rest);
            std::string vk, ch, state = "0";
            args >> vk >> ch >> state;
            Emulator().KeyPressed(MakeKeyEvent(true, KeyCode(vk),
                                               static_cast<unsigned char>(Hex(ch)),
                                               static_cast<std::uint32_t>(Hex(state))));
        } else if (op == "sent") {
            char buf[4096];
            int n = Emulator().GetOutput(buf, sizeof buf);
            EXPECT_EQ(std::string(buf, n), Unescape(rest)) << where;
        } else if (op == "row") {
            size_t space = rest.find(' ');
            int y = std::stoi(rest.substr(0, space));
            std::string want = space == std::string::npos ? "" : Unescape(rest.substr(space + 1));
            EXPECT_EQ(Row(y), want) << where << "\n" << Dump();
        } else if (op == "rows") {
            for (int y = 0; std::getline(in, line) && line != "end"; ++y, ++number)
                EXPECT_EQ(Row(y), RightTrim(line)) << where << " row " << y << "\n" << Dump();
            ++number;
        } else if (op == "screenfile") {
            std::ifstream data(fs::path(QUENLOR_TEST_DATA) / "term" / rest, std::ios::binary);
            ASSERT_TRUE(data) << where << ": " << rest;
            for (int y = 0; y < height_ && std::getline(data, line); ++y)
                EXPECT_EQ(Cp866ToUtf8(Row(y), false), RightTrim(line)) << where << " row " << y;
        } else if (op == "cursor") {
            int x = 0, y = 0;
            std::istringstream(rest) >> x >> y;
            EXPECT_EQ(std::make_pair(console_->GetCursorX(screen_), console_->GetCursorY(screen_)),
                      std::make_pair(x, y))
                << where << "\n"
                << Dump();
        } else if (op == "char" || op == "attr") {
            std::istringstream args(rest);
            int x = 0, y = 0;
            std::string v;
            args >> x >> y >> v;
            const TCell& c = Cell(x, y);
            EXPECT_EQ(op == "char" ? c.Char : c.Attr, Hex(v)) << where << "\n" << Dump();
        } else if (op == "curattr") {
            EXPECT_EQ(console_->GetAttribute(screen_), Hex(rest)) << where;
        } else if (op == "altcharset") {
            EXPECT_EQ(Emulator().GetAltCharset(), rest == "1") << where;
        } else if (op == "pending") {
            EXPECT_EQ(Emulator().GetPendingLength(), std::stoi(rest)) << where;
        } else {
            FAIL() << where << ": unknown directive " << op;
        }
    }
    EXPECT_GT(checks, 0) << "a case file must check something";
}

std::vector<fs::path> CaseFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kCases)) {
        if (entry.path().extension() == ".test") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string CaseName(const ::testing::TestParamInfo<fs::path>& info) {
    std::string name = info.param.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, EmulatorCase, ::testing::ValuesIn(CaseFiles()), CaseName);

}  // namespace
