#include "term/termcap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "../base/case_file.h"
#include "base/exception.h"
#include "term/termcap_value.h"
#include "term_test_util.h"

namespace {

const std::string kBase = QUENLOR_TEST_DATA "/term/termcap/entries.termcap";

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const TException& e) {
        return e.what();
    }
    return "<no error>";
}

// `want` holds name, value pairs: each named capability holds the value
// ("" for absent).
void ExpectCaps(const TTermcap& t, std::initializer_list<const char*> want) {
    for (auto it = want.begin(); it + 1 < want.end(); it += 2)
        EXPECT_EQ(t.GetCapability(it[0]), it[1]) << it[0];
}

TEST(TermcapTest, ReadsAnEntryInTheRestrictedFormat) {
    TTermcap t;
    t.Load(kBase, "base");
    const TStringDictionary& caps = t.GetCapabilities();
    EXPECT_EQ(caps.size(), 8u);  // am xn cm ce kb ku k; so; numbers are not kept
    ExpectCaps(t, {"am", "1", "xn", "1", "co", "", "cm", "\x1b[%i%d;%dH", "kb", "\x08", "so",
                   "base-so", "nothere", ""});
}

TEST(TermcapTest, FindsNamesAndAliasesLiterally) {
    TTermcap t;
    t.Load(kBase, "vt+plus");  // "+" is taken literally
    EXPECT_EQ(t.GetCapability("ce"), "plus");
    t.Load(kBase, "x.y");
    EXPECT_EQ(t.GetCapability("ce"), "plus");
    // A "." in a name is not a pattern: "xzy" is not "x.y".
    EXPECT_EQ(Message([&] { t.Load(kBase, "xzy"); }),
              "TTermcap::Read. Terminal type xzy wasn't found in " + kBase + ".\n");
    t.Load(kBase, "kid");  // an alias after "|"
    EXPECT_EQ(t.GetCapability("so"), "\x1b[7m");
    // A name that only occurs inside a capability value is not an entry.
    EXPECT_EQ(Message([&] { t.Load(kBase, "hidden"); }),
              "TTermcap::Read. Terminal type hidden wasn't found in " + kBase + ".\n");
    // The failed loads left the last good description in place.
    EXPECT_EQ(t.GetCapability("so"), "\x1b[7m");
}

TEST(TermcapTest, TcAddsWithoutOverriding) {
    TTermcap t;
    t.Load(kBase, "child");
    // Capabilities on the name line are not read; booleans with capitals in
    // the name are ignored; booleans and strings both come from the
    // referenced entry; the rest of the line after tc is not read (ku).
    ExpectCaps(t, {"ms", "", "se", "",  "ce", "child-ce",      "so", "\x1b[7m", "bw", "1", "NP", "",
                   "Xx", "", "am", "1", "cm", "\x1b[%i%d;%dH", "ku", "\x1bOA",  "tc", ""});

    // A referenced boolean does not replace a string of the same name.
    TTempFile overlap(
        "top:\\\n"
        "\t:am=text:tc=bottom:\n"
        "bottom:\\\n"
        "\t:am:\n");
    t.Load(overlap.Path(), "top");
    EXPECT_EQ(t.GetCapability("am"), "text");

    // A reference loop ends with an error instead of recursing for ever.
    std::string loop = Message([&] { t.Load(kBase, "loop"); });
    EXPECT_EQ(loop.rfind("TTermcap::Read. ", 0), 0u) << loop;
    EXPECT_NE(loop.find("loop"), std::string::npos) << loop;
}

TEST(TermcapTest, ErrorMessages) {
    TTermcap t;
    EXPECT_EQ(Message([&] { t.Load("/nonexistent/termcap", "x"); }),
              "TTermcap::Read. Unable to open termcap file: /nonexistent/termcap.");

    // A line inside an entry must begin with ":"; the number counts every
    // line of the file, comments and blank lines included. A file ending
    // inside an entry, and a name line without capability lines, are bad too.
    const struct {
        const char* file;
        const char* line;
        int number;
    } bad[] = {{"# head\n\ne1:\\\n\t:am:\\\n# inside\n", "# inside", 5},
               {"e1:\\\n:am:\\\n   \n:bw:\n", "", 3},
               {"e1:\\\n\tam:\n", "am:", 2},
               {"e1:\\\n\t:am:\\\n", "", 3},
               {"e1:am:\ne2:\\\n\t:bw:\n", "e2:\\", 2}};
    for (const auto& b : bad) {
        TTempFile file(b.file);
        EXPECT_EQ(Message([&] { t.Load(file.Path(), "e1"); }),
                  "TTermcap::Read. Bad line in " + file.Path() + ": |" + b.line + "|. Line " +
                      std::to_string(b.number) + ".");
    }
    // A binding that names no key.
    TTempFile badkey("e1:\\\n\t:K_SS_NOKEY=x:\n");
    EXPECT_EQ(Message([&] { t.Load(badkey.Path(), "e1"); }),
              "TTermcap::AssignToKeyList. Unknown key in: K_SS_NOKEY.");
}

TEST(TermcapTest, LongLinesFailTheStream) {
    TTermcap t;
    // Before the entry: the stream fails, so the entry is never found.
    TTempFile before(std::string(1500, '#') + "\ne1:\\\n\t:am:\n");
    EXPECT_EQ(Message([&] { t.Load(before.Path(), "e1"); }),
              "TTermcap::Read. Terminal type e1 wasn't found in " + before.Path() + ".\n");
    // Inside the entry: its first 1023 characters are read, then the next
    // line is a bad (empty) one.
    std::string cut = "\t:xx=" + std::string(1016, 'v') + ":\\";
    ASSERT_EQ(cut.size(), 1023u);
    TTempFile inside("e1:\\\n" + cut + "more:\n\t:ms:\n");
    EXPECT_EQ(Message([&] { t.Load(inside.Path(), "e1"); }),
              "TTermcap::Read. Bad line in " + inside.Path() + ": ||. Line 3.");
    // A line of exactly 1023 characters is fine.
    TTempFile exact("e1:\\\n" + cut + "\n\t:bw:\n");
    ASSERT_EQ(Message([&] { t.Load(exact.Path(), "e1"); }), "<no error>");
    EXPECT_EQ(t.GetCapability("xx").size(), 1016u);
    EXPECT_EQ(t.GetCapability("bw"), "1");
}

TEST(TermcapTest, WindowsLineEndsAreAccepted) {
    TTempFile file("e1|crlf:\\\r\n\t:am:\\\r\n\t:ce=\\E[K:\r\n");
    TTermcap t;
    t.Load(file.Path(), "crlf");
    EXPECT_EQ(t.GetCapability("am"), "1");
    EXPECT_EQ(t.GetCapability("ce"), "\x1b[K");
}

TEST(TermcapTest, DecodesValues) {
    for (const TCase& c : ReadCases("term/termcap/values.cases"))
        EXPECT_EQ(DecodeTermcapValue(c[0]), c[1]) << c.where;
}

// Key capabilities and their defaults are checked through the emulator in
// the keys_*.test case files.
TEST(TermcapTest, OutputCapabilitiesAndDefaults) {
    TTempFile file("t1:\\\n\t:cm=\\E[%i%d;%dH:le=\\E[D:Q1=1:\n");
    TTermcap t;
    t.Load(file.Path(), "t1");
    auto find = [&](const char* name) -> const TCapRecord& {
        for (const auto& r : t.GetOutputCaps()) {
            if (std::strcmp(r.Name, name) == 0) return r;
        }
        throw std::runtime_error(name);
    };
    EXPECT_FALSE(find("ac").IsOutputSequence());
    EXPECT_EQ(*find("VGA_cur_3").Value, "\x1b[?%d;%d;%dc");
    EXPECT_EQ(*find("cm").Value, "\x1b[%i%d;%dH");
    EXPECT_EQ(*find("le").Value, "\x1b[D");
    EXPECT_EQ(*find("Q1").Value, "\x1b[%dm");  // "1" reads as a boolean: the default stays
    EXPECT_EQ(*find("c0").Value, "\x1b[%dJ");
    EXPECT_EQ(*find("x2").Value, "\x1b[%d;%dx");
    EXPECT_FALSE(find("cs").Value.has_value());
    EXPECT_TRUE(find("cs").IsOutputSequence());
}

TEST(TermcapTest, KeyBindings) {
    TTempFile file(
        "kb:\\\n"
        "\t:K_VK_F1=plain-f1:K_SS_VK_F1=shift-f1:\\\n"
        "\t:K_CC_A=ctrl-a:K_LA_RC_VK_F11=la-rc-f11:K_AA_SS_VK_RETURN=alt-shift-ret:\\\n"
        "\t:K_VK_F1_X=x-wins:\n");
    TTermcap t;
    t.Load(file.Path(), "kb");
    // Names are visited in ascending byte order.
    const TKeyList& list = t.GetKeyList();
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[0].Value, "alt-shift-ret");
    EXPECT_EQ(list[0].Code, VK_RETURN);
    EXPECT_EQ(list[0].Modifiers, ALT_PRESSED | SHIFT_PRESSED);
    EXPECT_EQ(list[1].Code, 'A');
    EXPECT_EQ(list[1].Modifiers, CTRL_PRESSED);
    EXPECT_EQ(list[2].Code, VK_F11);  // the longest key name wins over VK_F1
    EXPECT_EQ(list[2].Modifiers, LEFT_ALT_PRESSED | RIGHT_CTRL_PRESSED);
    EXPECT_EQ(list[3].Value, "shift-f1");
    EXPECT_EQ(list[4].Value, "plain-f1");
    EXPECT_EQ(list[5].Code, 'X');  // "_" and one character at the end

    auto key = [](std::uint16_t vk, std::uint32_t state) {
        return MakeKeyEvent(true, vk, 0, state).Event.KeyEvent;
    };
    // Shift and plain F1, and unmarked bindings taking any modifiers, are
    // checked through the emulator in keys_bindings.test.
    EXPECT_EQ(t.FindKeyBinding(key('A', RIGHT_CTRL_PRESSED)), "ctrl-a");
    EXPECT_EQ(t.FindKeyBinding(key('A', 0)), "");
    // Each group needs one of its bits.
    EXPECT_EQ(t.FindKeyBinding(key(VK_F11, LEFT_ALT_PRESSED)), "");
    EXPECT_EQ(t.FindKeyBinding(key(VK_F11, LEFT_ALT_PRESSED | RIGHT_CTRL_PRESSED)), "la-rc-f11");
    EXPECT_EQ(t.FindKeyBinding(key(VK_F11, RIGHT_ALT_PRESSED | RIGHT_CTRL_PRESSED)), "");
    EXPECT_EQ(t.FindKeyBinding(key(VK_RETURN, RIGHT_ALT_PRESSED | SHIFT_PRESSED)), "alt-shift-ret");
    EXPECT_EQ(t.FindKeyBinding(key(VK_RETURN, SHIFT_PRESSED)), "");
}

TEST(TermcapTest, ShippedDescriptionsLoad) {
    const std::string file = std::string(QUENLOR_SOURCE_DIR) + "/etc/termcap";
    // Everything a host's full-screen program sends for these types.
    const char* needed[] = {"cm", "cl", "cd", "ce", "AL", "al", "DL", "dl", "DC",
                            "dc", "IC", "ec", "ho", "nd", "up", "do", "UP", "DO",
                            "LE", "RI", "SF", "SR", "ch", "cv", "ks", "ke"};
    for (const char* type : {"cons25r", "pc3r", "cons25", "ansi80x25", "ansi"}) {
        SCOPED_TRACE(type);
        TTermcap t;
        ASSERT_EQ(Message([&] { t.Load(file, type); }), "<no error>");
        for (const char* cap : needed) {
            const std::string v = t.GetCapability(cap);
            EXPECT_FALSE(v.empty() || v == "1") << cap;
        }
        EXPECT_EQ(t.GetCapability("am"), "1");
        EXPECT_EQ(t.GetCapability("ks"), "\x1b[?%dh");
        EXPECT_EQ(t.GetCapability("ke"), "\x1b[?%dl");
        // No capability may be a bare line feed: that would scroll the screen.
        for (const auto& [name, value] : t.GetCapabilities()) EXPECT_NE(value, "\n") << name;
        for (std::uint16_t vk : {VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT, VK_HOME, VK_BACK}) {
            EXPECT_NE(t.FindKeyCapability(vk), nullptr) << vk;
        }
    }
    TTermcap cons;
    cons.Load(file, "cons25r");
    EXPECT_EQ(cons.GetCapability("bw"), "1");
    // Its keys are checked in keys_shipped_cons25r.test.
    TTermcap ansi;
    ansi.Load(file, "ansi");
    EXPECT_EQ(ansi.GetCapability("as"), "\x1b[11m");
    EXPECT_EQ(ansi.GetCapability("ac").size(), 62u);  // 31 pairs
}

}  // namespace
