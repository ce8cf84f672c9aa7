// The session scenarios of tests/data/session/sessions.cases (its head
// explains the steps), on a headless console against a fake host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <map>
#include <sstream>

#include "../app/key_script.h"
#include "../base/case_file.h"
#include "../net/fake_peer.h"
#include "../platform/bounded_wait.h"
#include "app/connect_session.h"
#include "app/session.h"
#include "config/telnet_config.h"
#include "console/headless_console.h"
#include "platform/clipboard.h"

namespace {

void DefineHost(const std::string& name, const std::string& lines) {
    std::istringstream file("DEFINE_HOST " + name +
                            " {\nTERMCAP=" QUENLOR_TEST_DATA "/session/termcap\nTERM=qtest\n" +
                            lines + "\n}\n");
    Config.ReadConfig(file);
}

std::string Loopback(int port) {
    return "ADDRESS=telnet:127.0.0.1:" + std::to_string(port);
}

// Asks one line and keeps the answer; with `read` ESC ends the thread.
class TPromptSession : public TSimpleSession {
  public:
    TPromptSession(int screen, bool echo, bool read, const std::vector<std::string>& history)
        : TSimpleSession(screen), echo_(echo), read_(read) {
        for (const std::string& entry : history) history_.Add(entry);
    }
    ~TPromptSession() override { StopThread(); }
    int Run() override {
        BeginPrompt(echo_, &history_, "Name: ");
        answer_.set_value(read_ ? ReadLine() : WaitLine());
        return 0;
    }
    const bool echo_, read_;
    TStringHistory history_;
    std::promise<std::string> answer_;
    std::future<std::string> line_ = answer_.get_future();
};

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Console = console_.get();
        // Host texts that name no host take the default's settings.
        std::istringstream defaults("TERMCAP=" QUENLOR_TEST_DATA "/session/termcap\nTERM=qtest\n");
        Config.ReadConfig(defaults);
    }
    void TearDown() override {
        session_.reset();
        Console = nullptr;
    }
    // A new screen for the next session, the last one deleted.
    int NextScreen() {
        session_.reset();
        screen_ = console_->AddScreen();
        console_->SetActiveScreen(screen_);
        return screen_;
    }
    template <typename T>
    T* Start(std::unique_ptr<T> made) {
        T* raw = made.get();
        session_ = std::move(made);
        session_->Start();
        return raw;
    }
    bool Give(INPUT_RECORD record) { return session_->HandleInput(record); }
    std::string Row(int y) const {
        std::string text = console_->ShownRow(y);
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    bool Shows(const std::string& text) const {
        for (int y = 0; y < 25; ++y) {
            if (Row(y).find(text) != std::string::npos) return true;
        }
        return false;
    }

    std::unique_ptr<THeadlessConsole> console_ = std::make_unique<THeadlessConsole>(80, 25);
    TFakeServer server_;
    int screen_ = -1;
    int peer_ = -1;
    std::unique_ptr<TSimpleSession> session_;
};

std::string Flag(bool on) {
    return on ? "1" : "0";
}

TEST_F(SessionTest, Scenarios) {
    DefineHost("fake", Loopback(server_.Port()));
    DefineHost("nowhere", Loopback(UnusedPort()));
    TSession* session = nullptr;
    TPromptSession* prompt = nullptr;
    auto n = [](const TCase& c, int i) { return static_cast<int>(Num(c[i])); };
    // What the session shows or holds now, compared with a step's last field.
    using TProbe = std::function<std::string(const TCase&)>;
    const std::map<std::string, TProbe> probes = {
        {"row", [&](const TCase& c) { return Row(n(c, 1)); }},
        {"hide", [&](const TCase& c) { return Shows(c[1]) ? "(shown)" : c[1]; }},
        {"name", [&](const TCase&) { return session_->GetName(); }},
        {"state", [&](const TCase&) { return std::string("-NEQ").substr(session->GetState(), 1); }},
        {"running", [&](const TCase&) { return Flag(!session_->Finished()); }},
        {"started", [&](const TCase&) { return Flag(session->IsStarted()); }},
        {"viewer", [&](const TCase&) { return Flag(session->IsScrollBackOpen()); }},
        {"marked",
         [&](const TCase& c) { return Flag(console_->ShownCell(n(c, 1), n(c, 2)).Attr & 0x80); }},
        {"selecting", [&](const TCase&) { return Flag(console_->GetScreen(screen_).SelX1 != -1); }},
        {"clip", [](const TCase&) { return GetClipboardText(); }},
        {"peer", [&](const TCase& c) { return ReadBytes(peer_, c[1].size()); }},
        {"history", [](const TCase&) { return UserHistory.Current(); }}};
    std::unique_ptr<TFakeServer> busy;
    int filler = -1;
    bool skip = false;  // the scenario went wrong already
    for (const TCase& c : ReadCases("session/sessions.cases")) {
        SCOPED_TRACE(c.where);
        const std::string& step = c[0];
        const std::string host = "h" + c.where.substr(c.where.find(':') + 1);
        if (step == "pending") {
            // A listener whose queue of one a first connection fills.
            busy = std::make_unique<TFakeServer>(0);
            filler = ConnectTo(busy->Port());
        }
        if (step == "open" || step == "begin" || step == "pending") {
            const int port = step == "pending" ? busy->Port() : server_.Port();
            DefineHost(host,
                       (step != "begin" ? Loopback(port) + "\n" : "") + (c.size() > 1 ? c[1] : ""));
        }
        if (step == "open" || step == "begin" || step == "refused" || step == "pending") {
            const std::string name = step == "refused" ? "nowhere" : host;
            session = Start(std::make_unique<TSession>(name, NextScreen()));
            prompt = nullptr;
            peer_ = step == "open" ? server_.Accept() : -1;
            skip =
                step == "open" && (peer_ < 0 || !WaitUntil([&] { return session->IsStarted(); }));
        } else if (step == "connect") {
            Start(std::make_unique<TConnectSession>(NextScreen()));
            session = nullptr;
            prompt = nullptr;
            skip = false;
        } else if (step == "prompt") {
            const auto history = c.size() > 3 ? Words(c[3]) : std::vector<std::string>{};
            prompt = Start(
                std::make_unique<TPromptSession>(NextScreen(), c[1] == "1", c[2] == "1", history));
            session = nullptr;
            skip = !WaitUntil([&] { return prompt->IsPromptActive(); });
        } else if (skip) {
            continue;
        } else if (probes.count(step) != 0) {
            EXPECT_EQ(probes.at(step)(c), c.fields.back());
        } else if (step == "type") {
            for (char ch : c[1]) EXPECT_EQ(Give(Char(ch)), c[2] == "1") << ch;
        } else if (step == "key") {
            for (long i = 0; i < (c.size() > 3 ? Num(c[3]) : 1); ++i)
                EXPECT_EQ(Give(ParseKey(c[1])), c[2] == "1");
        } else if (step == "mouse") {
            const std::uint32_t button = c[3] == "L"   ? FROM_LEFT_1ST_BUTTON_PRESSED
                                         : c[3] == "R" ? RIGHTMOST_BUTTON_PRESSED
                                                       : 0;
            EXPECT_TRUE(
                Give(MakeMouseEvent(n(c, 1), n(c, 2), button, c[4] == "M" ? MOUSE_MOVED : 0)));
        } else if (step == "host") {
            SendBytes(peer_, c[1]);
        } else if (step == "quiet") {
            EXPECT_EQ(ReadPending(peer_, 100), "");
        } else if (step == "accept") {
            skip = (peer_ = server_.Accept()) < 0;
        } else if (step == "close") {
            server_.Close(peer_);
        } else if (step == "show") {
            skip = !WaitUntil([&] { return Shows(c[1]); });
        } else if (step == "asking") {
            const int row = c.size() > 1 ? n(c, 1) : -1;
            const std::string text =
                prompt ? "Name:" : "[" + std::to_string(screen_) + "] Connect to:";
            skip = !WaitUntil(
                [&] { return session_->IsPromptActive() && (row < 0 || Row(row) == text); });
        } else if (step == "answer") {
            const auto wait = std::chrono::seconds(c[1] == "<none>" ? 0 : 5);
            const bool ready = prompt->line_.wait_for(wait) == std::future_status::ready;
            EXPECT_EQ(ready ? prompt->line_.get() : "<none>", c[1]);
        } else if (step == "ended") {
            const int within = c.size() > 1 ? n(c, 1) : 2000;
            EXPECT_TRUE(WaitUntil([&] { return session_->Finished(); }, within));
        } else if (step == "unblock") {
            skip = busy->Accept() < 0 || (peer_ = busy->Accept()) < 0;
        } else {
            ASSERT_EQ(step, "setclip");
            StoreClipboardText(c[1]);
        }
        EXPECT_FALSE(skip) << "a wait ran out";
    }
    session_.reset();
    close(filler);
}

}  // namespace
