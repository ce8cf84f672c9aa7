#include "session_test_support.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "config/telnet_config.h"

namespace {

std::string TrimRight(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void DefineTestHost(const std::string& name, const std::string& lines) {
    std::istringstream file("DEFINE_HOST " + name +
                            " {\nTERMCAP=" QUENLOR_TEST_DATA "/session/termcap\nTERM=qtest\n" +
                            lines + "\n}\n");
    Config.ReadConfig(file);
}

std::string LoopbackAddress(int port) {
    return "telnet:127.0.0.1:" + std::to_string(port);
}

void SessionTest::SetUp() {
    console_ = std::make_unique<THeadlessConsole>(80, 25);
    Console = console_.get();
    // Host texts that name no host take the default's settings.
    std::istringstream defaults("TERMCAP=" QUENLOR_TEST_DATA "/session/termcap\nTERM=qtest\n");
    Config.ReadConfig(defaults);
}

void SessionTest::TearDown() {
    Console = nullptr;
    console_.reset();
}

INPUT_RECORD SessionTest::Char(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == ' ') {
        return MakeKeyEvent(true, static_cast<std::uint16_t>(std::toupper(u)), u,
                            std::isupper(u) ? SHIFT_PRESSED : 0);
    }
    // The punctuation keys the tests type.
    const char kPunct[] = ".:-_/";
    const std::uint16_t kKeys[] = {VK_OEM_PERIOD, VK_OEM_1, VK_OEM_MINUS, VK_OEM_MINUS, VK_OEM_2};
    const char* p = std::strchr(kPunct, c);
    if (c == 0 || p == nullptr) return MakeKeyEvent(true, 0, u, 0);
    return MakeKeyEvent(true, kKeys[p - kPunct], u, c == ':' || c == '_' ? SHIFT_PRESSED : 0);
}

int SessionTest::NewScreen() {
    const int screen = console_->AddScreen();
    console_->SetActiveScreen(screen);
    return screen;
}

std::string SessionTest::Row(int y) const {
    return TrimRight(console_->ShownRow(y));
}

std::string SessionTest::ScreenText() const {
    std::string text;
    for (int y = 0; y < 25; ++y) {
        if (y > 0) text.push_back('\n');
        text += Row(y);
    }
    return text;
}

bool SessionTest::WaitForText(const std::string& text, int timeout_ms) const {
    return WaitUntil([&] { return ScreenText().find(text) != std::string::npos; }, timeout_ms);
}
