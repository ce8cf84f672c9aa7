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

// Key capabilities, characters and bindings are in the emulator case files
// (keys_*.test); these are what a case file cannot express.

TEST_F(KeyMapping, ReleasesAndMouseSendNothingAndACopyKeepsTheKeys) {
    Load("t:\\\n\t:k0=\\E[21~:k;=\\E[V:\n");
    emulator_->KeyPressed(MakeKeyEvent(false, 'A', 'a'));
    emulator_->KeyPressed(MakeMouseEvent(1, 1, FROM_LEFT_1ST_BUTTON_PRESSED, 0));
    EXPECT_EQ(Drain(), "");
    // An emulator built from the loaded description behaves the same.
    TTermcapEmulator copy(&host_, screen_, emulator_->GetTermcap(), &console_);
    copy.KeyPressed(MakeKeyEvent(true, VK_F10, 0));
    char buf[16];
    EXPECT_EQ(std::string(buf, copy.GetOutput(buf, sizeof buf)), "\x1b[21~");
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
