#include <gtest/gtest.h>

#include <memory>

#include "config/host_config.h"
#include "console/headless_console.h"
#include "term/termcap_emulator.h"
#include "term_test_util.h"

namespace {

class KeyMapping : public ::testing::Test {
  protected:
    void Load(const std::string& entry) {
        file_ = std::make_unique<TTempFile>(entry);
        host_.SetTermcapFile(file_->Path());
        host_.SetTerminalType("t");
        screen_ = console_.AddScreen();
        emulator_ = std::make_unique<TTermcapEmulator>(&host_, screen_, &console_);
    }

    // The bytes one key press sends.
    std::string Press(std::uint16_t vk, unsigned char ch = 0, std::uint32_t state = 0) {
        emulator_->KeyPressed(MakeKeyEvent(true, vk, ch, state));
        return Drain();
    }

    std::string Drain() {
        std::string out;
        char buf[3];
        int n;
        while ((n = emulator_->GetOutput(buf, sizeof buf)) > 0) out.append(buf, n);
        return out;
    }

    THeadlessConsole console_{20, 5};
    THostConfig host_;
    std::unique_ptr<TTempFile> file_;
    std::unique_ptr<TTermcapEmulator> emulator_;
    int screen_ = 0;
};

TEST_F(KeyMapping, KeyCapabilitiesAndCharacters) {
    Load(
        "t:\\\n"
        "\t:ku=\\E[A:kd=\\E[B:kl=\\E[D:kr=\\E[C:kh=\\E[H:@7=\\E[F:kD=\\177:\\\n"
        "\t:k1=\\E[M:k;=\\E[V:F1=\\E[W:F2=\\E[X:\n");
    EXPECT_EQ(Press(VK_UP), "\x1b[A");
    EXPECT_EQ(Press(VK_DOWN), "\x1b[B");
    EXPECT_EQ(Press(VK_LEFT, 0, SHIFT_PRESSED), "\x1b[D");
    EXPECT_EQ(Press(VK_RIGHT), "\x1b[C");
    EXPECT_EQ(Press(VK_HOME), "\x1b[H");
    EXPECT_EQ(Press(VK_END), "\x1b[F");
    EXPECT_EQ(Press(VK_DELETE), "\x7f");
    EXPECT_EQ(Press(VK_F1), "\x1b[M");
    EXPECT_EQ(Press(VK_F10), "\x1b[V");  // "k;" stands in for the missing "k0"
    EXPECT_EQ(Press(VK_F11), "\x1b[W");
    EXPECT_EQ(Press(VK_F12), "\x1b[X");
    // Keys whose capability is missing and has no default send nothing.
    EXPECT_EQ(Press(VK_PRIOR), "");
    EXPECT_EQ(Press(VK_F2), "");
    EXPECT_EQ(Press(VK_INSERT), "");
    // Backspace carries no character and sends "kb": 0x08 by default.
    EXPECT_EQ(Press(VK_BACK), "\x08");
    // Keys with a character send it.
    EXPECT_EQ(Press(VK_RETURN, '\r'), "\r");
    EXPECT_EQ(Press(VK_TAB, '\t'), "\t");
    EXPECT_EQ(Press(VK_ESCAPE, 0x1b), "\x1b");
    EXPECT_EQ(Press('A', 'a'), "a");
    EXPECT_EQ(Press('C', 0x03, LEFT_CTRL_PRESSED), "\x03");
    // The keypad operators whatever the layout gives.
    EXPECT_EQ(Press(VK_MULTIPLY, '8'), "*");
    EXPECT_EQ(Press(VK_ADD, '='), "+");
    EXPECT_EQ(Press(VK_SUBTRACT, 0), "-");
    // Upper-half bytes go through the outgoing table (CP866 to KOI8-R).
    EXPECT_EQ(Press('F', 0xA0), "\xc1");
    EXPECT_EQ(Press('Q', 0x9F), "\xf1");
    // Releases and other events send nothing.
    emulator_->KeyPressed(MakeKeyEvent(false, 'A', 'a'));
    emulator_->KeyPressed(MakeMouseEvent(1, 1, FROM_LEFT_1ST_BUTTON_PRESSED, 0));
    EXPECT_EQ(Drain(), "");
}

TEST_F(KeyMapping, K0WinsOverItsFallback) {
    Load("t:\\\n\t:k0=\\E[21~:k;=\\E[V:kb=^?:\n");
    EXPECT_EQ(Press(VK_F10), "\x1b[21~");
    EXPECT_EQ(Press(VK_BACK), "\x7f");
    // An emulator built from the loaded description behaves the same.
    TTermcapEmulator copy(&host_, screen_, emulator_->GetTermcap(), &console_);
    copy.KeyPressed(MakeKeyEvent(true, VK_F10, 0));
    char buf[16];
    EXPECT_EQ(std::string(buf, copy.GetOutput(buf, sizeof buf)), "\x1b[21~");
}

TEST_F(KeyMapping, BindingsComeFirst) {
    Load(
        "t:\\\n"
        "\t:k1=\\EOP:K_SS_VK_F1=shift-f1:K_VK_F1=any-f1:\\\n"
        "\t:K_VK_RETURN=\\r\\n:K_CC_VK_UP=ctrl-up:ku=\\E[A:\\\n"
        "\t:K_AA_X=alt-x:\n");
    // The Shift binding sorts before the plain one, so it wins for Shift+F1.
    EXPECT_EQ(Press(VK_F1, 0, SHIFT_PRESSED), "shift-f1");
    EXPECT_EQ(Press(VK_F1), "any-f1");
    EXPECT_EQ(Press(VK_F1, 0, RIGHT_ALT_PRESSED), "any-f1");
    // A binding overrides the key's character.
    EXPECT_EQ(Press(VK_RETURN, '\r'), "rn");  // "\r" in a termcap value is the letter r
    EXPECT_EQ(Press(VK_UP, 0, RIGHT_CTRL_PRESSED), "ctrl-up");
    EXPECT_EQ(Press(VK_UP), "\x1b[A");
    EXPECT_EQ(Press('X', 'x', LEFT_ALT_PRESSED), "alt-x");
    EXPECT_EQ(Press('X', 'x'), "x");
}

TEST_F(KeyMapping, OutputQueueHandsOutInPieces) {
    Load("t:\\\n\t:k1=0123456789:\n");
    for (int i = 0; i < 300; ++i) emulator_->KeyPressed(MakeKeyEvent(true, VK_F1, 0));
    char buf[1000];
    int total = 0, n;
    while ((n = emulator_->GetOutput(buf, 7)) > 0) {
        for (int i = 0; i < n; ++i) ASSERT_EQ(buf[i], '0' + (total + i) % 10);
        total += n;
    }
    EXPECT_EQ(total, 3000);
    EXPECT_EQ(emulator_->GetOutput(buf, sizeof buf), 0);
    EXPECT_EQ(Press(VK_F1), "0123456789");
}

TEST_F(KeyMapping, BaseEmulatorPassesBytesThrough) {
    screen_ = console_.AddScreen();
    TEmulator plain(&host_, screen_, &console_);
    plain.Write("a\x1b[Hb\xc1", 6);
    const ScreenRecord& s = console_.GetScreen(screen_);
    EXPECT_EQ(s.Cells[0].Char, 'a');
    EXPECT_EQ(s.Cells[1].Char, 0x1b);
    EXPECT_EQ(s.Cells[2].Char, '[');
    EXPECT_EQ(s.Cells[5].Char, 0xc1);  // the base class does not recode
    plain.KeyPressed(MakeKeyEvent(true, VK_F1, 0));
    plain.KeyPressed(MakeKeyEvent(true, 'A', 'q'));
    char buf[4];
    ASSERT_EQ(plain.GetOutput(buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), std::string("\0q", 2));
    EXPECT_EQ(plain.RecodeIncoming(0xC1), 0xA0);
    EXPECT_EQ(plain.RecodeOutgoing(0xA0), 0xC1);
    EXPECT_EQ(plain.RecodeIncoming('a'), 'a');
}

}  // namespace
