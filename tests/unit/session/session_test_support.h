// Shared set-up of the session tests: a headless console as the program's
// console, a small terminal description, hosts defined on the fly, and
// bounded waits for what other threads do.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "../net/fake_peer.h"
#include "app/session.h"
#include "console/headless_console.h"
#include "platform/input_record.h"

// Polls `done` every few milliseconds for at most `timeout_ms`.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 5000);

// Defines a host in the program's configuration; `lines` go inside the
// DEFINE_HOST block. The terminal description is the tests' own.
void DefineTestHost(const std::string& name, const std::string& lines);
// "telnet:127.0.0.1:PORT"
std::string LoopbackAddress(int port);

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a screen and shows it.
    int NewScreen();
    // The row as the console shows it, trailing blanks cut.
    std::string Row(int y) const;
    // The whole shown screen, rows joined by '\n', trailing blanks cut.
    std::string ScreenText() const;
    bool WaitForText(const std::string& text, int timeout_ms = 5000) const;

    static INPUT_RECORD Key(std::uint16_t vk, unsigned char ch = 0, std::uint32_t state = 0) {
        return MakeKeyEvent(true, vk, ch, state);
    }
    // The key event a US keyboard gives for a printable character.
    static INPUT_RECORD Char(char c);

    std::unique_ptr<THeadlessConsole> console_;
};

// A TSession on its own screen, connected to a fake host on 127.0.0.1.
class TelnetSessionTest : public SessionTest {
  protected:
    // Starts a session for `host` without waiting for its connection.
    void Begin(const std::string& host) {
        screen_ = NewScreen();
        session_ = std::make_unique<TSession>(host, screen_);
        session_->Start();
    }
    // Starts a session for `host` and accepts its connection.
    void Open(const std::string& host) {
        Begin(host);
        peer_ = server_.Accept();
        ASSERT_GE(peer_, 0);
        ASSERT_TRUE(WaitUntil([&] { return session_->IsStarted(); }));
    }
    void Open() { Open(LoopbackAddress(server_.Port())); }
    bool Give(INPUT_RECORD record) { return session_->HandleInput(record); }
    bool WaitFinished(int timeout_ms = 2000) {
        return WaitUntil([&] { return session_->Finished(); }, timeout_ms);
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }

    TFakeServer server_;
    int screen_ = -1;
    int peer_ = -1;
    std::unique_ptr<TSession> session_;
};
