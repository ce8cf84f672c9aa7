// Runs every case file of tests/data/term/cases/ and tests/data/console/: a
// console screen, driven directly or through a terminal emulator, and what
// must follow. Directives, one per line ("#" comments); numbers are decimal
// or 0x hex, CHAR, STATE, HEX and attributes are hex:
//
//   size W H              console size (default 80 25); before the first step
//   termcap ... end       a description, inline (the lines in between)
//   termcapfile PATH      or a description file, relative to the source tree
//   type NAME             terminal type (default: first name of the inline entry)
//   tables IN OUT         recoding table indexes (default 0 1), or utf-8
//   plain                 the emulator is the base one, which interprets nothing
//   push BYTES            one Write block; pushsplit: one Write per byte
//   pushrepeat N BYTES    BYTES repeated N times, as one block
//   pushfile PATH [N]     a file under tests/data/term, whole or in blocks of N
//   key VK CHAR [STATE] [up] / mouse X Y BUTTONS   an input event
//   copy                  the emulator is rebuilt from the description it loaded
//   sent BYTES            GetOutput hands out exactly these bytes
//   match BYTES WHAT      the emulator's matcher at BYTES: incomplete, nomatch,
//                         or NAME CONSUMED PARAMS...
//   load TYPE             reads TYPE from the description file, for:
//   cap NAME VALUE / capcount N / keycap VK VALUE / binding VK STATE VALUE /
//   keylist N / output NAME VALUE ("-" none, "!" never matched) / has NAME...
//   (strings, not empty) / novalue BYTES (no capability holds it)
//   error MESSAGE         the step before raised this ("%f": the file's path)
//
// Console steps, on the current screen: write TEXT, putchar B..., goto X Y,
// setregion T B, insertlines/deletelines/insertchars/deletechars/clearchars N,
// clear, autowrap/reversewrap 0|1, setattr HEX, resetattr, bold, nobold,
// blink, noblink, reverse, noreverse, fg N, bg N, select X1 Y1 X2 Y2,
// status TEXT, statusline 0|1, resize W H, setsize W H, add [N], del N,
// screen N (the current one), active, begin, end, refresh, host SCROLL
// [BEEP] / nohost, save, restore, page LINE [CELLS] (of a snapshot).
//
// Checks: row Y TEXT (without trailing blanks), rows ... end (from row 0),
// screenfile PATH (rows as UTF-8), cursor X Y, char X Y HEX, attr X Y HEX,
// curattr HEX, altcharset 0|1, pending N, region T B, dims W H,
// scrolllines N, wrapped 0|1, beeps N, selection TEXT, shown Y TEXT,
// shownattr X Y HEX, showncursor X, lastupdate N, snapshot N ... end (the
// first lines of a snapshot of N lines).
//
// BYTES and TEXT take the escapes \e \r \n \b \t \0 \\ \xHH and \s.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "../base/case_file.h"
#include "../console/key_names.h"
#include "base/exception.h"
#include "config/host_config.h"
#include "config/recode_table.h"
#include "console/headless_console.h"
#include "platform/cp866.h"
#include "term/termcap_emulator.h"

namespace {

namespace fs = std::filesystem;

std::string RightTrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

int Hex(const std::string& s) {
    return static_cast<int>(std::stol(s, nullptr, 16));
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class EmulatorCase : public ::testing::TestWithParam<fs::path> {
  protected:
    ~EmulatorCase() override {
        if (!temp_.empty()) fs::remove(temp_);
    }

    THeadlessConsole& Con() {
        if (!console_) {
            console_ = std::make_unique<THeadlessConsole>(width_, height_);
            screen_ = console_->AddScreen();
            console_->SetActiveScreen(screen_);
        }
        return *console_;
    }

    TEmulator& Emulator() {
        if (!emulator_) {
            Con();
            if (plain_)
                emulator_ = std::make_unique<TEmulator>(&host_, screen_, console_.get());
            else
                emulator_ = std::make_unique<TTermcapEmulator>(&host_, screen_, console_.get());
        }
        return *emulator_;
    }
    TTermcapEmulator& Termcap() { return dynamic_cast<TTermcapEmulator&>(Emulator()); }

    const ScreenRecord& Screen() { return Con().GetScreen(screen_); }

    std::string Row(int y) {
        const ScreenRecord& s = Screen();
        std::string row;
        for (int x = 0; x < s.Width; ++x) row += static_cast<char>(s.Cells[y * s.Width + x].Char);
        return RightTrim(row);
    }

    std::string Dump() {
        std::ostringstream out;
        for (int y = 0; y < Screen().Height; ++y) out << "  |" << Row(y) << "|\n";
        out << "  cursor " << Screen().CursorX << " " << Screen().CursorY;
        return out.str();
    }

    void Push(const std::string& bytes, size_t block) {
        TEmulator& e = Emulator();
        for (size_t i = 0; i < bytes.size(); i += block)
            e.Write(bytes.data() + i, static_cast<int>(std::min(block, bytes.size() - i)));
    }

    // The bytes the emulator hands out, taken in small pieces.
    std::string Sent() {
        std::string out;
        char buf[7];
        for (int n; (n = Emulator().GetOutput(buf, sizeof buf)) > 0;) out.append(buf, n);
        return out;
    }

    void Run(std::istream& in, const std::string& op, const std::string& rest);
    void Check(std::istream& in, const std::string& op, const std::string& rest);

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
    auto n = [&](size_t i) { return static_cast<int>(Num(w.at(i))); };
    const std::string text = Unescape(rest);
    if (op == "size") {
        width_ = n(0);
        height_ = n(1);
    } else if (op == "type") {
        host_.SetTerminalType(rest);
    } else if (op == "tables") {
        auto index = [](const std::string& t) {
            return t == kRecodeUtf8Name ? kRecodeUtf8 : std::stoi(t);
        };
        host_.SetIncomingTable(index(w.at(0)));
        host_.SetOutgoingTable(index(w.at(1)));
    } else if (op == "termcapfile") {
        host_.SetTermcapFile((fs::path(QUENLOR_SOURCE_DIR) / rest).string());
    } else if (op == "termcap") {
        std::string entry;
        for (std::string line; std::getline(in, line) && line != "end"; ++number_)
            entry += line + "\n";
        ++number_;
        if (temp_.empty())
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
        for (int i = n(0); i > 0; --i) all += Unescape(w.at(1));
        Push(all, SIZE_MAX);
    } else if (op == "pushfile") {
        const std::string bytes = Read(fs::path(QUENLOR_TEST_DATA) / "term" / w.at(0));
        Push(bytes, w.size() > 1 ? static_cast<size_t>(n(1)) : SIZE_MAX);
    } else if (op == "key") {
        const std::uint32_t state = w.size() > 2 ? Hex(w[2]) : 0;
        Emulator().KeyPressed(MakeKeyEvent(w.size() < 4, KeyCode(w.at(0)),
                                           static_cast<unsigned char>(Hex(w.at(1))), state));
    } else if (op == "mouse") {
        Emulator().KeyPressed(MakeMouseEvent(n(0), n(1), n(2), 0));
    } else if (op == "copy") {
        emulator_ = std::make_unique<TTermcapEmulator>(&host_, screen_, Termcap().GetTermcap(),
                                                       console_.get());
    } else if (op == "load") {
        loaded_.Load(host_.GetTermcapFile(), rest);
    } else if (op == "write") {
        Con().WriteText(screen_, text.c_str());
    } else if (op == "putchar") {
        for (size_t i = 0; i < w.size(); ++i) Con().PutChar(screen_, n(i));
    } else if (op == "goto") {
        Con().SetCursor(screen_, n(0), n(1));
    } else if (op == "setregion") {
        Con().SetScrollRegion(screen_, n(0), n(1));
    } else if (op == "insertlines") {
        Con().InsertLines(screen_, n(0));
    } else if (op == "deletelines") {
        Con().DeleteLines(screen_, n(0));
    } else if (op == "insertchars") {
        Con().InsertChars(screen_, n(0));
    } else if (op == "deletechars") {
        Con().DeleteChars(screen_, n(0));
    } else if (op == "clearchars") {
        Con().ClearChars(screen_, n(0));
    } else if (op == "clear") {
        Con().ClearToEndOfScreen(screen_);
    } else if (op == "autowrap") {
        Con().SetAutoWrap(screen_, n(0) != 0);
    } else if (op == "reversewrap") {
        Con().SetReverseWrap(screen_, n(0) != 0);
    } else if (op == "setattr") {
        Con().SetAttribute(screen_, static_cast<std::uint16_t>(Hex(rest)));
    } else if (op == "resetattr") {
        Con().ResetAttributes(screen_);
    } else if (op == "bold") {
        Con().SetBold(screen_);
    } else if (op == "nobold") {
        Con().ClearBold(screen_);
    } else if (op == "blink") {
        Con().SetBlink(screen_);
    } else if (op == "noblink") {
        Con().ClearBlink(screen_);
    } else if (op == "reverse") {
        Con().SetReverse(screen_);
    } else if (op == "noreverse") {
        Con().ClearReverse(screen_);
    } else if (op == "fg") {
        Con().SetForeground(screen_, n(0));
    } else if (op == "bg") {
        Con().SetBackground(screen_, n(0));
    } else if (op == "select") {
        Con().SetSelection(screen_, n(0), n(1), n(2), n(3));
    } else if (op == "status") {
        Con().SetStatusText(text);
    } else if (op == "statusline") {
        Con().SetStatusLine(n(0) != 0);
    } else if (op == "resize") {
        Con().Resize(n(0), n(1));
    } else if (op == "setsize") {
        Con().SetSize(screen_, n(0), n(1));
    } else if (op == "add") {
        const int added = Con().AddScreen();
        EXPECT_EQ(added, w.empty() ? added : n(0)) << where_;
    } else if (op == "del") {
        Con().DelScreen(n(0));
    } else if (op == "screen") {
        Con();
        screen_ = n(0);
    } else if (op == "active") {
        Con().SetActiveScreen(screen_);
    } else if (op == "begin") {
        Con().BeginUpdate(screen_);
    } else if (op == "end") {
        Con().EndUpdate(screen_);
    } else if (op == "refresh") {
        Con().Refresh();
    } else if (op == "host") {
        host_.SetMaxScrollSize(n(0));
        host_.SetEnableBeep(w.size() < 2 || n(1) != 0);
        Con().SetHostConfig(screen_, &host_);
    } else if (op == "nohost") {
        Con().SetHostConfig(screen_, nullptr);
    } else if (op == "save") {
        Con().SaveScreen(screen_, saved_);
    } else if (op == "restore") {
        Con().RestoreScreen(screen_, saved_);
    } else if (op == "page") {
        int lines = 0;
        const std::vector<TCell> block = Con().TakeSnapshot(screen_, lines);
        const size_t from = static_cast<size_t>(n(0)) * Screen().Width;
        Con().ShowPage(screen_, block.data() + from,
                       w.size() > 1 ? static_cast<size_t>(n(1)) : block.size() - from);
    } else {
        Check(in, op, rest);
    }
}

void EmulatorCase::Check(std::istream& in, const std::string& op, const std::string& rest) {
    const std::vector<std::string> w = Words(rest);
    auto n = [&](size_t i) { return static_cast<int>(Num(w.at(i))); };
    const std::string text = Unescape(rest);
    // The text after the first `count` words.
    auto tail = [&](size_t count) {
        size_t at = 0;
        for (size_t i = 0; i < count && at != std::string::npos; ++i)
            at = rest.find(' ', rest.find_first_not_of(' ', at));
        return at == std::string::npos ? std::string() : Unescape(rest.substr(at + 1));
    };
    ++checks_;
    const std::string& where = where_;
    if (op == "error") {
        std::string want = text;
        if (want.find("%f") != std::string::npos)
            want.replace(want.find("%f"), 2, host_.GetTermcapFile());
        EXPECT_EQ(raised_, want) << where;
        raised_.clear();
    } else if (op == "sent") {
        EXPECT_EQ(Sent(), text) << where;
    } else if (op == "match") {
        TCapMatch m;
        const std::string bytes = Unescape(w.at(0));
        auto p = reinterpret_cast<const unsigned char*>(bytes.data());
        const TMatchStatus status = Termcap().MatchCapability(p, p + bytes.size(), m);
        std::string got = status == TMatchStatus::Incomplete ? "incomplete" : "nomatch";
        if (status == TMatchStatus::Matched) {
            const char* name = Termcap().GetTermcap().GetOutputCaps().at(m.Record).Name;
            EXPECT_EQ(m.Effect, CapEffectOf(name)) << where;
            got = std::string(name) + " " + std::to_string(m.Consumed);
            for (int i = 0; i < m.ParamCount; ++i) got += " " + std::to_string(m.Params[i]);
        }
        EXPECT_EQ(got, tail(1)) << where;
    } else if (op == "cap") {
        EXPECT_EQ(loaded_.GetCapability(w.at(0)), tail(1)) << where;
    } else if (op == "capcount") {
        EXPECT_EQ(loaded_.GetCapabilities().size(), static_cast<size_t>(n(0))) << where;
    } else if (op == "keycap") {
        const std::string* value = loaded_.FindKeyCapability(KeyCode(w.at(0)));
        EXPECT_EQ(value ? *value : "-", tail(1)) << where;
    } else if (op == "binding") {
        const INPUT_RECORD key = MakeKeyEvent(true, KeyCode(w.at(0)), 0, Hex(w.at(1)));
        EXPECT_EQ(loaded_.FindKeyBinding(key.Event.KeyEvent), tail(2)) << where;
    } else if (op == "keylist") {
        EXPECT_EQ(loaded_.GetKeyList().size(), static_cast<size_t>(n(0))) << where;
    } else if (op == "output") {
        std::string got = "no record";
        for (const TCapRecord& r : loaded_.GetOutputCaps()) {
            if (r.Name == w.at(0)) got = !r.IsOutputSequence() ? "!" : r.Value ? *r.Value : "-";
        }
        EXPECT_EQ(got, tail(1)) << where;
    } else if (op == "has") {
        for (const std::string& name : w) {
            const std::string value = loaded_.GetCapability(name);
            EXPECT_TRUE(!value.empty() && value != "1") << where << " " << name;
        }
    } else if (op == "novalue") {
        for (const auto& [name, value] : loaded_.GetCapabilities())
            EXPECT_NE(value, text) << where << " " << name;
    } else if (op == "row") {
        EXPECT_EQ(Row(n(0)), tail(1)) << where << "\n" << Dump();
    } else if (op == "rows" || op == "snapshot") {
        int lines = 0;
        const std::vector<TCell> block = Con().TakeSnapshot(screen_, lines);
        EXPECT_EQ(lines, op == "rows" ? lines : n(0)) << where;
        const int width = Screen().Width;
        std::string line;
        for (int y = 0; std::getline(in, line) && line != "end"; ++y, ++number_) {
            std::string got = op == "rows" ? Row(y) : "";
            for (int x = 0; op == "snapshot" && y < lines && x < width; ++x)
                got += static_cast<char>(block[static_cast<size_t>(y) * width + x].Char);
            EXPECT_EQ(RightTrim(got), RightTrim(line)) << where << " row " << y << "\n" << Dump();
        }
        ++number_;
    } else if (op == "screenfile") {
        std::istringstream data(Read(fs::path(QUENLOR_TEST_DATA) / "term" / rest));
        std::string line;
        for (int y = 0; y < height_ && std::getline(data, line); ++y)
            EXPECT_EQ(Cp866ToUtf8(Row(y), false), RightTrim(line)) << where << " row " << y;
    } else if (op == "cursor") {
        EXPECT_EQ(std::make_pair(Screen().CursorX, Screen().CursorY), std::make_pair(n(0), n(1)))
            << where << "\n"
            << Dump();
    } else if (op == "char" || op == "attr") {
        const TCell& c = Screen().Cells.at(static_cast<size_t>(n(1)) * Screen().Width + n(0));
        EXPECT_EQ(op == "char" ? c.Char : c.Attr, Hex(w.at(2))) << where << "\n" << Dump();
    } else if (op == "curattr") {
        EXPECT_EQ(Con().GetAttribute(screen_), Hex(rest)) << where;
    } else if (op == "altcharset") {
        EXPECT_EQ(Termcap().GetAltCharset(), rest == "1") << where;
    } else if (op == "pending") {
        EXPECT_EQ(Termcap().GetPendingLength(), n(0)) << where;
    } else if (op == "region") {
        EXPECT_EQ(std::make_pair(Screen().RegionTop, Screen().RegionBottom),
                  std::make_pair(n(0), n(1)))
            << where;
    } else if (op == "dims") {
        EXPECT_EQ(std::make_pair(Screen().Width, Screen().Height), std::make_pair(n(0), n(1)))
            << where;
    } else if (op == "scrolllines") {
        EXPECT_EQ(Screen().ScrollLines, n(0)) << where;
    } else if (op == "wrapped") {
        EXPECT_EQ(Con().WrappedPastBottom(screen_), n(0) != 0) << where;
    } else if (op == "beeps") {
        EXPECT_EQ(Con().Beeps(), n(0)) << where;
    } else if (op == "selection") {
        EXPECT_EQ(Con().GetSelectionText(screen_), text) << where;
    } else if (op == "shown") {
        EXPECT_EQ(RightTrim(Con().ShownRow(n(0))), tail(1)) << where;
    } else if (op == "shownattr") {
        EXPECT_EQ(Con().ShownCell(n(0), n(1)).Attr, Hex(w.at(2))) << where;
    } else if (op == "showncursor") {
        EXPECT_EQ(Con().ShownCursorX(), n(0)) << where;
    } else if (op == "lastupdate") {
        EXPECT_EQ(Con().LastUpdateCells(), n(0)) << where;
    } else {
        --checks_;
        ADD_FAILURE() << where << ": unknown directive " << op;
    }
}

TEST_P(EmulatorCase, Runs) {
    std::ifstream in(GetParam());
    ASSERT_TRUE(in) << GetParam();
    std::string line;
    while (std::getline(in, line)) {
        ++number_;
        if (line.empty() || line[0] == '#') continue;
        where_ = GetParam().filename().string() + ":" + std::to_string(number_);
        const size_t space = line.find(' ');
        const std::string op = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (!raised_.empty() && op != "error") {
            ADD_FAILURE() << where_ << ": unexpected error " << raised_;
            raised_.clear();
        }
        try {
            Run(in, op, rest);
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
