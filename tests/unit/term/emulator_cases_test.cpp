// Runs every case file of tests/data/term/cases/ and tests/data/console/: a
// console screen, driven directly or through a terminal emulator, or a
// terminal description, and what must follow. The directives are listed in
// tests/data/term/cases/README.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

#include "../base/case_file.h"
#include "../console/key_names.h"
#include "base/exception.h"
#include "config/host_config.h"
#include "config/recode_table.h"
#include "console/headless_console.h"
#include "platform/clipboard.h"
#include "platform/cp866.h"
#include "term/termcap_emulator.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<long>;

std::string RightTrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string Pair(long a, long b) {
    return std::to_string(a) + " " + std::to_string(b);
}

// Console steps that take numbers only.
using Step = void (*)(TConsole&, int, const Args&);
const std::map<std::string, Step> kSteps = {
    {"putchar",
     [](TConsole& c, int s, const Args& a) {
         for (long b : a) c.PutChar(s, b);
     }},
    {"goto", [](TConsole& c, int s, const Args& a) { c.SetCursor(s, a[0], a[1]); }},
    {"setregion", [](TConsole& c, int s, const Args& a) { c.SetScrollRegion(s, a[0], a[1]); }},
    {"insertlines", [](TConsole& c, int s, const Args& a) { c.InsertLines(s, a[0]); }},
    {"deletelines", [](TConsole& c, int s, const Args& a) { c.DeleteLines(s, a[0]); }},
    {"insertchars", [](TConsole& c, int s, const Args& a) { c.InsertChars(s, a[0]); }},
    {"deletechars", [](TConsole& c, int s, const Args& a) { c.DeleteChars(s, a[0]); }},
    {"clearchars", [](TConsole& c, int s, const Args& a) { c.ClearChars(s, a[0]); }},
    {"clear", [](TConsole& c, int s, const Args&) { c.ClearToEndOfScreen(s); }},
    {"autowrap", [](TConsole& c, int s, const Args& a) { c.SetAutoWrap(s, a[0] != 0); }},
    {"reversewrap", [](TConsole& c, int s, const Args& a) { c.SetReverseWrap(s, a[0] != 0); }},
    {"setattr", [](TConsole& c, int s, const Args& a) { c.SetAttribute(s, a[0]); }},
    {"resetattr", [](TConsole& c, int s, const Args&) { c.ResetAttributes(s); }},
    {"bold", [](TConsole& c, int s, const Args&) { c.SetBold(s); }},
    {"nobold", [](TConsole& c, int s, const Args&) { c.ClearBold(s); }},
    {"blink", [](TConsole& c, int s, const Args&) { c.SetBlink(s); }},
    {"noblink", [](TConsole& c, int s, const Args&) { c.ClearBlink(s); }},
    {"reverse", [](TConsole& c, int s, const Args&) { c.SetReverse(s); }},
    {"noreverse", [](TConsole& c, int s, const Args&) { c.ClearReverse(s); }},
    {"fg", [](TConsole& c, int s, const Args& a) { c.SetForeground(s, a[0]); }},
    {"bg", [](TConsole& c, int s, const Args& a) { c.SetBackground(s, a[0]); }},
    {"select",
     [](TConsole& c, int s, const Args& a) { c.SetSelection(s, a[0], a[1], a[2], a[3]); }},
    {"statusline", [](TConsole& c, int, const Args& a) { c.SetStatusLine(a[0] != 0); }},
    {"resize", [](TConsole& c, int, const Args& a) { c.Resize(a[0], a[1]); }},
    {"setsize", [](TConsole& c, int s, const Args& a) { c.SetSize(s, a[0], a[1]); }},
    {"del", [](TConsole& c, int, const Args& a) { c.DelScreen(a[0]); }},
    {"active", [](TConsole& c, int s, const Args&) { c.SetActiveScreen(s); }},
    {"begin", [](TConsole& c, int s, const Args&) { c.BeginUpdate(s); }},
    {"end", [](TConsole& c, int s, const Args&) { c.EndUpdate(s); }},
    {"refresh", [](TConsole& c, int, const Args&) { c.Refresh(); }},
};

// Checks whose expectation follows one or two words of their own.
const std::map<std::string, size_t> kPlaces = {
    {"row", 1},      {"shown", 1},    {"cap", 1},      {"keycap", 1},    {"output", 1},
    {"match", 1},    {"char", 2},     {"attr", 2},     {"shownattr", 2}, {"binding", 2},
    {"outgoing", 1}, {"recodein", 1}, {"recodeout", 1}};
// Checks whose expectation is a hex number.
const std::set<std::string> kHex = {"char",    "attr",     "shownattr",
                                    "curattr", "recodein", "recodeout"};

class EmulatorCase : public ::testing::TestWithParam<fs::path> {
  protected:
    ~EmulatorCase() override { std::remove(temp_.c_str()); }

    THeadlessConsole& Con() {
        if (!console_) {
            console_ = std::make_unique<THeadlessConsole>(width_, height_);
            screen_ = console_->AddScreen();
            console_->SetActiveScreen(screen_);
        }
        return *console_;
    }

    TEmulator& Emulator() {
        if (!emulator_ && plain_) emulator_ = std::make_unique<TEmulator>(&host_, screen_, &Con());
        if (!emulator_) emulator_ = std::make_unique<TTermcapEmulator>(&host_, screen_, &Con());
        return *emulator_;
    }
    TTermcapEmulator& Termcap() { return dynamic_cast<TTermcapEmulator&>(Emulator()); }

    const ScreenRecord& Screen() { return Con().GetScreen(screen_); }
    const TCell& Cell(long x, long y) { return Screen().Cells.at(y * Screen().Width + x); }

    std::string Row(long y) {
        std::string row;
        for (int x = 0; x < Screen().Width; ++x) row += static_cast<char>(Cell(x, y).Char);
        return RightTrim(row);
    }

    std::string Dump() {
        std::string out;
        for (int y = 0; y < Screen().Height; ++y) out += "  |" + Row(y) + "|\n";
        return out + "  cursor " + Pair(Screen().CursorX, Screen().CursorY);
    }

    void Push(const std::string& bytes, size_t block) {
        for (size_t i = 0; i < bytes.size(); i += block)
            Emulator().Write(bytes.data() + i, static_cast<int>(std::min(block, bytes.size() - i)));
    }

    void Run(std::istream& in, const std::string& op, const std::string& rest);
    std::string Got(const std::string& op, const std::vector<std::string>& w);
    void Lines(std::istream& in, const std::string& op, long count);

    std::unique_ptr<THeadlessConsole> console_;
    std::unique_ptr<TEmulator> emulator_;
    THostConfig host_;
    TTermcap loaded_;
    ScreenRecord saved_;
    std::string temp_;
    std::string where_;
    std::string raised_;  // the message of the last step that raised
    bool plain_ = false;
    int width_ = 80;
    int height_ = 25;
    int screen_ = 0;
    int number_ = 0;
    int checks_ = 0;
};

void EmulatorCase::Run(std::istream& in, const std::string& op, const std::string& rest) {
    const std::vector<std::string> w = Words(rest);
    const std::string text = Unescape(rest);
    Args n;
    for (const std::string& word : w) n.push_back(std::strtol(word.c_str(), nullptr, 0));
    if (kSteps.count(op)) {
        kSteps.at(op)(Con(), screen_, n);
    } else if (op == "size") {
        width_ = n.at(0);
        height_ = n.at(1);
    } else if (op == "type") {
        host_.SetTerminalType(rest);
    } else if (op == "tables") {
        host_.SetIncomingTable(w.at(0) == kRecodeUtf8Name ? kRecodeUtf8 : n.at(0));
        host_.SetOutgoingTable(w.at(1) == kRecodeUtf8Name ? kRecodeUtf8 : n.at(1));
    } else if (op == "termcapfile") {
        host_.SetTermcapFile((fs::path(QUENLOR_SOURCE_DIR) / rest).string());
    } else if (op == "termcap") {
        std::string entry;
        for (std::string line; std::getline(in, line) && line != "end"; ++number_)
            entry += line + "\n";
        ++number_;
        temp_ = ::testing::TempDir() + "quenlor_case_" + std::to_string(::getpid());
        std::ofstream(temp_, std::ios::binary) << entry;
        host_.SetTermcapFile(temp_);
        if (host_.GetTerminalType().empty())
            host_.SetTerminalType(entry.substr(0, entry.find_first_of("|:\n")));
    } else if (op == "plain") {
        plain_ = true;
    } else if (op == "push" || op == "pushsplit") {
        Push(text, op == "push" ? SIZE_MAX : 1);
    } else if (op == "pushrepeat") {
        std::string all;
        for (long i = n.at(0); i > 0; --i) all += Unescape(w.at(1));
        Push(all, SIZE_MAX);
    } else if (op == "pushfile") {
        const std::string bytes = Read(fs::path(QUENLOR_TEST_DATA) / "term" / w.at(0));
        Push(bytes, w.size() > 1 ? static_cast<size_t>(n[1]) : SIZE_MAX);
    } else if (op == "key") {
        const std::uint32_t state = w.size() > 2 ? std::stoul(w[2], nullptr, 16) : 0;
        const auto ch = static_cast<unsigned char>(std::stoul(w.at(1), nullptr, 16));
        Emulator().KeyPressed(MakeKeyEvent(w.size() < 4, KeyCode(w.at(0)), ch, state));
    } else if (op == "typed") {
        Emulator().QueueTyped(std::stoul(rest, nullptr, 16));
    } else if (op == "mouse") {
        Emulator().KeyPressed(MakeMouseEvent(n.at(0), n.at(1), n.at(2), 0));
    } else if (op == "copy") {
        emulator_ =
            std::make_unique<TTermcapEmulator>(&host_, screen_, Termcap().GetTermcap(), &Con());
    } else if (op == "load") {
        loaded_.Load(host_.GetTermcapFile(), rest);
    } else if (op == "write") {
        Con().WriteText(screen_, text.c_str());
    } else if (op == "clipboard") {
        Con();  // which takes what goes to the terminal
        SetClipboardText(text);
    } else if (op == "status") {
        Con().SetStatusText(text);
    } else if (op == "add") {
        const int added = Con().AddScreen();
        EXPECT_TRUE(n.empty() || added == n[0]) << where_ << ": screen " << added;
    } else if (op == "screen") {
        Con();
        screen_ = n.at(0);
    } else if (op == "host") {
        host_.SetMaxScrollSize(n.at(0));
        host_.SetEnableBeep(n.size() < 2 || n[1] != 0);
        Con().SetHostConfig(screen_, &host_);
    } else if (op == "save") {
        Con().SaveScreen(screen_, saved_);
    } else if (op == "restore") {
        Con().RestoreScreen(screen_, saved_);
    } else if (op == "page") {
        int lines = 0;
        const std::vector<TCell> block = Con().TakeSnapshot(screen_, lines);
        const size_t from = n.at(0) * Screen().Width;
        Con().ShowPage(screen_, block.data() + from,
                       n.size() > 1 ? static_cast<size_t>(n[1]) : block.size() - from);
    } else if (op == "rows" || op == "snapshot") {
        Lines(in, op, n.empty() ? 0 : n[0]);
    } else if (op == "screenfile") {
        std::istringstream data(Read(fs::path(QUENLOR_TEST_DATA) / "term" / rest));
        std::string line;
        for (int y = 0; y < height_ && std::getline(data, line); ++y, ++checks_)
            EXPECT_EQ(Cp866ToUtf8(Row(y), false), RightTrim(line)) << where_ << " row " << y;
    } else if (op == "has") {
        for (const std::string& name : w) {
            const std::string value = loaded_.GetCapability(name);
            EXPECT_TRUE(!value.empty() && value != "1") << where_ << " " << name;
        }
        ++checks_;
    } else if (op == "novalue") {
        for (const auto& [name, value] : loaded_.GetCapabilities())
            EXPECT_NE(value, text) << where_ << " " << name;
        ++checks_;
    } else {
        // A check of one value: the rest of the line after the check's own words.
        const size_t places = kPlaces.count(op) ? kPlaces.at(op) : 0;
        size_t at = places == 0 ? 0 : std::string::npos;
        for (size_t i = 0, from = 0; i < places && from != std::string::npos; ++i)
            at = from = rest.find(' ', rest.find_first_not_of(' ', from));
        std::string want = at == std::string::npos ? "" : Unescape(rest.substr(at + (places > 0)));
        if (want.find("%f") != std::string::npos)
            want.replace(want.find("%f"), 2, host_.GetTermcapFile());
        if (kHex.count(op)) want = std::to_string(std::stol(want, nullptr, 16));
        ++checks_;
        EXPECT_EQ(Got(op, w), want) << where_ << "\n" << Dump();
    }
}

// What a check of one value sees.
std::string EmulatorCase::Got(const std::string& op, const std::vector<std::string>& w) {
    auto n = [&](size_t i) { return std::stol(w.at(i)); };
    if (op == "error") return std::exchange(raised_, "");
    if (op == "sent") {
        std::string out;
        char buf[7];  // the bytes are handed out in small pieces
        for (int n; (n = Emulator().GetOutput(buf, sizeof buf)) > 0;) out.append(buf, n);
        return out;
    }
    if (op == "outgoing") return Emulator().RecodeOutgoingText(Unescape(w.at(0)));
    if (op == "recodein") return std::to_string(Emulator().RecodeIncoming(std::stoul(w[0], 0, 16)));
    if (op == "recodeout")
        return std::to_string(Emulator().RecodeOutgoing(std::stoul(w[0], 0, 16)));
    if (op == "match") {
        TCapMatch m;
        const std::string bytes = Unescape(w.at(0));
        auto p = reinterpret_cast<const unsigned char*>(bytes.data());
        const TMatchStatus status = Termcap().MatchCapability(p, p + bytes.size(), m);
        if (status != TMatchStatus::Matched)
            return status == TMatchStatus::Incomplete ? "incomplete" : "nomatch";
        const char* name = Termcap().GetTermcap().GetOutputCaps().at(m.Record).Name;
        EXPECT_EQ(m.Effect, CapEffectOf(name)) << where_;
        std::string got = name + (" " + std::to_string(m.Consumed));
        for (int i = 0; i < m.ParamCount; ++i) got += " " + std::to_string(m.Params[i]);
        return got;
    }
    if (op == "cap") return loaded_.GetCapability(w.at(0));
    if (op == "capcount") return std::to_string(loaded_.GetCapabilities().size());
    if (op == "keylist") return std::to_string(loaded_.GetKeyList().size());
    for (const TCapRecord& r : loaded_.GetOutputCaps()) {
        if (op == "output" && r.Name == w.at(0))
            return !r.IsOutputSequence() ? "!" : r.Value ? *r.Value : "-";
    }
    if (op == "keycap") {
        const std::string* value = loaded_.FindKeyCapability(KeyCode(w.at(0)));
        return value ? *value : "-";
    }
    if (op == "binding") {
        const auto state = static_cast<std::uint32_t>(std::stoul(w.at(1), nullptr, 16));
        return loaded_.FindKeyBinding(MakeKeyEvent(true, KeyCode(w[0]), 0, state).Event.KeyEvent);
    }
    if (op == "row") return Row(n(0));
    if (op == "cursor") return Pair(Screen().CursorX, Screen().CursorY);
    if (op == "char") return std::to_string(Cell(n(0), n(1)).Char);
    if (op == "attr") return std::to_string(Cell(n(0), n(1)).Attr);
    if (op == "curattr") return std::to_string(Con().GetAttribute(screen_));
    if (op == "altcharset") return std::to_string(Termcap().GetAltCharset());
    if (op == "pending") return std::to_string(Termcap().GetPendingLength());
    if (op == "region") return Pair(Screen().RegionTop, Screen().RegionBottom);
    if (op == "dims") return Pair(Screen().Width, Screen().Height);
    if (op == "scrolllines") return std::to_string(Screen().ScrollLines);
    if (op == "wrapped") return std::to_string(Con().WrappedPastBottom(screen_));
    if (op == "beeps") return std::to_string(Con().Beeps());
    if (op == "selection") return Con().GetSelectionText(screen_);
    if (op == "shown") return RightTrim(Con().ShownRow(n(0)));
    if (op == "shownattr") return std::to_string(Con().ShownCell(n(0), n(1)).Attr);
    if (op == "showncursor") return std::to_string(Con().ShownCursorX());
    if (op == "lastupdate") return std::to_string(Con().LastUpdateCells());
    if (op == "terminal") return Con().TerminalBytes();
    if (op == "clipboardtext") return GetClipboardText();
    ADD_FAILURE() << where_ << ": unknown directive " << op;
    return "";
}

// The rows of the screen, or the first lines of a snapshot of `count`
// lines, up to "end".
void EmulatorCase::Lines(std::istream& in, const std::string& op, long count) {
    int lines = 0;
    const std::vector<TCell> block = Con().TakeSnapshot(screen_, lines);
    EXPECT_TRUE(op == "rows" || lines == count) << where_ << ": " << lines << " lines";
    // The screen's rows are the last lines of a snapshot.
    const int first = op == "rows" ? lines - Screen().Height : 0, width = Screen().Width;
    std::string line;
    for (int y = 0; std::getline(in, line) && line != "end"; ++y, ++number_) {
        std::string got;
        for (int x = 0; first + y < lines && x < width; ++x)
            got += static_cast<char>(block[static_cast<size_t>(first + y) * width + x].Char);
        EXPECT_EQ(RightTrim(got), RightTrim(line)) << where_ << " row " << y << "\n" << Dump();
    }
    ++number_;
    ++checks_;
}

TEST_P(EmulatorCase, Runs) {
    std::ifstream in(GetParam());
    ASSERT_TRUE(in) << GetParam();
    for (std::string line; std::getline(in, line);) {
        ++number_;
        if (line.empty() || line[0] == '#') continue;
        where_ = GetParam().filename().string() + ":" + std::to_string(number_);
        const size_t space = line.find(' ');
        const std::string op = line.substr(0, space);
        if (!raised_.empty() && op != "error")
            ADD_FAILURE() << where_ << ": unexpected error " << std::exchange(raised_, "");
        try {
            Run(in, op, space == std::string::npos ? "" : line.substr(space + 1));
        } catch (const TException& e) {
            raised_ = e.what();
        }
    }
    EXPECT_EQ(raised_, "") << "unexpected error at the end";
    EXPECT_GT(checks_, 0) << "a case file must check something";
}

std::vector<fs::path> CaseFiles() {
    std::vector<fs::path> files;
    for (const char* dir : {"term/cases", "console"}) {
        for (const auto& entry : fs::directory_iterator(fs::path(QUENLOR_TEST_DATA) / dir)) {
            if (entry.path().extension() == ".test") files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string CaseName(const ::testing::TestParamInfo<fs::path>& info) {
    std::string name =
        info.param.parent_path().filename().string() + "_" + info.param.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, EmulatorCase, ::testing::ValuesIn(CaseFiles()), CaseName);

}  // namespace
