// The session switcher, its hot keys and its connect prompt, driven by
// tests/data/app/switcher.cases (its head explains the steps).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <thread>

#include "../base/case_file.h"
#include "app/switcher.h"
#include "base/string_history.h"
#include "console/headless_console.h"
#include "key_script.h"
#include "platform/title.h"

namespace {

std::string Trimmed(std::string row) {
    return row.erase(row.find_last_not_of(' ') + 1);
}

struct FakeSession : TSwitcherSession {
    FakeSession(int screen, std::string name) : screen_(screen), name_(std::move(name)) {}
    bool HandleInput(INPUT_RECORD& record) override {
        received += KeyChar(record);
        return true;
    }
    std::string GetName() override { return name_; }
    int GetScreen() const override { return screen_; }
    void Start() override { started = true; }
    bool Finished() const override { return finished; }

    int screen_;
    std::string name_;
    bool started = false;
    bool finished = false;
    std::string received;
};

class SwitcherTest : public ::testing::Test {
  protected:
    void New() {
        history_ = TStringHistory();
        sessions_.clear();
        switcher_.reset();
        console_.reset();  // the terminal output sink is process-wide: freed before taken
        console_ = std::make_unique<THeadlessConsole>(80, 25);
        banner_ = console_->AddScreen();
        console_->SetActiveScreen(banner_);
        switcher_ = std::make_unique<TSwitcher>(*console_, banner_, &history_);
        switcher_->SetSessionMakers(
            [this](int screen, const std::string& host) {
                return host == "none" ? nullptr : Make(screen, host);
            },
            [this](int screen) { return Make(screen, "none"); });
        switcher_->UpdateTitle();
    }
    std::unique_ptr<TSwitcherSession> Make(int screen, const std::string& name) {
        auto session = std::make_unique<FakeSession>(screen, name);
        sessions_[name] = session.get();
        return session;
    }
    void Add(const std::string& name) {
        const int screen = console_->AddScreen();
        EXPECT_TRUE(switcher_->AddSession(Make(screen, name), screen));
        EXPECT_TRUE(sessions_[name]->started);
        switcher_->UpdateTitle();
    }

    std::unique_ptr<THeadlessConsole> console_;
    TStringHistory history_;
    int banner_ = 0;
    std::unique_ptr<TSwitcher> switcher_;
    std::map<std::string, FakeSession*> sessions_;
};

TEST_F(SwitcherTest, Cases) {
    auto text = [](auto value) { return std::to_string(value); };
    const std::map<std::string, std::function<std::string(const TCase&)>> probes = {
        {"title", [](const TCase&) { return GetConsoleTitle(); }},
        {"current", [&](const TCase&) { return text(switcher_->Current()); }},
        {"count", [&](const TCase&) { return text(switcher_->Count()); }},
        {"beeps", [&](const TCase&) { return text(console_->Beeps()); }},
        {"status", [&](const TCase&) { return text(console_->GetStatusLine()); }},
        {"got", [&](const TCase& c) { return sessions_.at(c[1])->received; }},
        {"row", [&](const TCase& c) { return Trimmed(console_->ShownRow(Num(c[1]))); }},
        {"cursor", [&](const TCase&) {
             return text(console_->GetCursorX(banner_)) + " " +
                    text(console_->GetScreen(banner_).CursorY);
         }}};
    for (const TCase& c : ReadCases("app/switcher.cases")) {
        SCOPED_TRACE(c.where);
        const std::string& step = c[0];
        if (step == "new") {
            New();
        } else if (probes.count(step) != 0) {
            console_->Refresh();
            EXPECT_EQ(probes.at(step)(c), c.fields.back());
        } else if (step == "add") {
            Add(c[1]);
        } else if (step == "key") {
            INPUT_RECORD key = ParseKey(c[1]);
            EXPECT_EQ(switcher_->HandleEvent(key), c[2] == "1");
        } else if (step == "push") {
            for (const std::string& key : Words(c[1])) console_->PushEvent(ParseKey(key));
        } else if (step == "banner") {
            console_->WriteText(banner_, c[1].c_str());
        } else if (step == "start") {
            switcher_->StartSession(c[1]);
        } else if (step == "history") {
            for (const std::string& entry : Words(c[1])) history_.Add(entry);
        } else if (step == "view") {
            console_->SetActiveScreen(banner_);
        } else if (step == "fill") {
            switcher_->FillConnectSessions();
        } else if (step == "finish") {
            const int screen = sessions_.at(c[1])->GetScreen();
            sessions_.at(c[1])->finished = true;
            switcher_->RemoveFinishedSessions();
            EXPECT_FALSE(console_->IsScreenInUse(screen));
        } else {
            ASSERT_EQ(step, "active");
            EXPECT_EQ(console_->GetActiveScreen(),
                      c[1] == "banner" ? banner_ : sessions_.at(c[1])->GetScreen());
        }
    }
}

// A session whose thread updates the title while the session is being
// deleted, as a connect session's thread does when it begins a connection
// as the program ends; its destructor waits for the thread, as every
// session's does.
struct TitleThreadSession : FakeSession {
    using FakeSession::FakeSession;
    ~TitleThreadSession() override {
        std::future<void> updated = updated_.get_future();
        deleting_.set_value();
        // A thread stuck for good would hang the join: end the run instead.
        if (updated.wait_for(std::chrono::seconds(10)) != std::future_status::ready) std::abort();
        thread_.join();
    }
    void Start() override {
        thread_ = std::thread([this, go = deleting_.get_future()] {
            go.wait();
            UpdateTitle();
            updated_.set_value();
        });
    }

    std::promise<void> deleting_, updated_;
    std::thread thread_;
};

// The thread's update runs while the switcher deletes its sessions: it must
// neither wait for the switcher's table forever nor see a session being
// deleted. Cleared while a session thread reads it, the switcher gets no
// more updates, and the clear races with nothing.
TEST_F(SwitcherTest, SessionThreadsUpdateTheTitleWhileTheSwitcherGoes) {
    New();
    Add("one");
    const int screen = console_->AddScreen();
    ASSERT_TRUE(switcher_->AddSession(std::make_unique<TitleThreadSession>(screen, "t"), screen));
    Switcher = switcher_.get();
    switcher_.reset();
    Switcher = nullptr;
    EXPECT_EQ(GetConsoleTitle(), "Quenlor");
    EXPECT_EQ(console_->GetActiveScreen(), banner_);

    New();
    Add("two");
    Switcher = switcher_.get();
    std::atomic<bool> stop{false};
    std::atomic<int> updates{0};
    std::thread reader([&] {
        for (int i = 0; i < 100000 && !stop; ++i, ++updates) UpdateTitle();
    });
    while (updates < 10) std::this_thread::yield();
    Switcher = nullptr;
    stop = true;
    reader.join();
    SetConsoleTitle("after");
    UpdateTitle();
    EXPECT_EQ(GetConsoleTitle(), "after");
}

}  // namespace
