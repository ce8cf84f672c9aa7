#include "app/switcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/hot_keys.h"
#include "base/string_history.h"
#include "console/headless_console.h"
#include "platform/title.h"

namespace {

struct FakeSession : TSwitcherSession {
    FakeSession(int screen, std::string name) : screen_(screen), name_(std::move(name)) {}
    bool HandleInput(INPUT_RECORD& record) override {
        received.push_back(record);
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
    std::vector<INPUT_RECORD> received;
};

class SwitcherTest : public ::testing::Test {
  protected:
    SwitcherTest() : console(80, 25) {
        banner = console.AddScreen();
        console.SetActiveScreen(banner);
        switcher = std::make_unique<TSwitcher>(console, banner, &history);
        // Sessions are fakes; a host named "none" cannot be created.
        switcher->SetSessionMakers(
            [this](int screen, const std::string& host) {
                return host == "none" ? nullptr : Make(screen, host);
            },
            [this](int screen) { return Make(screen, "none"); });
    }
    std::unique_ptr<TSwitcherSession> Make(int screen, const std::string& name) {
        auto session = std::make_unique<FakeSession>(screen, name);
        made.push_back(session.get());
        return session;
    }
    FakeSession* Add(const std::string& name) {
        const int screen = console.AddScreen();
        auto session = std::make_unique<FakeSession>(screen, name);
        FakeSession* raw = session.get();
        EXPECT_TRUE(switcher->AddSession(std::move(session), screen));
        switcher->UpdateTitle();
        return raw;
    }
    bool Key(std::uint16_t vk, unsigned char ch = 0, std::uint32_t state = 0) {
        INPUT_RECORD r = MakeKeyEvent(true, vk, ch, state);
        return switcher->HandleEvent(r);
    }

    THeadlessConsole console;
    TStringHistory history;
    int banner = 0;
    std::unique_ptr<TSwitcher> switcher;
    std::vector<FakeSession*> made;
};

TEST_F(SwitcherTest, BannerOnly) {
    switcher->UpdateTitle();
    EXPECT_EQ(GetConsoleTitle(), "Quenlor");
    EXPECT_TRUE(Key('N', 0, LEFT_ALT_PRESSED));
    EXPECT_TRUE(Key('P', 0, RIGHT_ALT_PRESSED));
    EXPECT_TRUE(Key(VK_F1, 0, LEFT_ALT_PRESSED));
    EXPECT_EQ(console.Beeps(), 3);
    EXPECT_TRUE(Key('x', 'x'));  // dropped: no session
    EXPECT_FALSE(Key(VK_ESCAPE, 27));
}

TEST_F(SwitcherTest, HotKeysSwitchSessions) {
    FakeSession* one = Add("one");
    FakeSession* two = Add("two");
    FakeSession* three = Add("three");
    EXPECT_TRUE(one->started && two->started && three->started);
    EXPECT_EQ(switcher->Current(), 2);
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (3): three");
    EXPECT_EQ(console.GetActiveScreen(), three->GetScreen());

    Key(VK_F5, 0, LEFT_ALT_PRESSED);  // only three sessions: refused
    EXPECT_EQ(console.Beeps(), 1);
    EXPECT_EQ(switcher->Current(), 2);
    Key(VK_F1, 0, LEFT_ALT_PRESSED);
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (1): one");
    Key('P', 0, LEFT_ALT_PRESSED);  // wraps from the first to the last
    EXPECT_EQ(switcher->Current(), 2);
    Key('N', 0, LEFT_ALT_PRESSED);  // and back
    EXPECT_EQ(switcher->Current(), 0);
    EXPECT_EQ(console.GetActiveScreen(), one->GetScreen());

    // ESC on a session's screen goes to the session, as do other keys.
    EXPECT_TRUE(Key(VK_ESCAPE, 27));
    EXPECT_TRUE(Key('Q', 'q'));
    ASSERT_EQ(one->received.size(), 2u);
    EXPECT_EQ(one->received[0].Event.KeyEvent.wVirtualKeyCode, VK_ESCAPE);
    EXPECT_TRUE(two->received.empty());

    // ALT+T toggles the status line; the program goes on.
    EXPECT_TRUE(Key('T', 0, LEFT_ALT_PRESSED));
    EXPECT_TRUE(console.GetStatusLine());
    EXPECT_TRUE(Key('T', 0, LEFT_ALT_PRESSED));
    EXPECT_FALSE(console.GetStatusLine());
}

TEST_F(SwitcherTest, FinishedSessionsAreRemoved) {
    Add("s1");
    FakeSession* s2 = Add("s2");
    Add("s3");
    FakeSession* s4 = Add("s4");
    const int screen2 = s2->GetScreen();
    s2->finished = true;
    switcher->RemoveFinishedSessions();
    EXPECT_EQ(switcher->Count(), 3);
    EXPECT_FALSE(console.IsScreenInUse(screen2));
    EXPECT_EQ(switcher->Current(), 0);
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (1): s1");
    Key(VK_F3, 0, LEFT_ALT_PRESSED);  // s4 is number 3 now
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (3): s4");
    EXPECT_EQ(console.GetActiveScreen(), s4->GetScreen());
}

TEST_F(SwitcherTest, TwelveSessionsAtMost) {
    for (int i = 0; i < 12; ++i) Add("h" + std::to_string(i));
    EXPECT_EQ(switcher->Count(), 12);
    Key('A', 0, LEFT_ALT_PRESSED);  // table full: ALT+A only beeps
    EXPECT_EQ(console.Beeps(), 1);
    switcher->StartSession("thirteenth");
    EXPECT_EQ(switcher->Count(), 12);
    EXPECT_EQ(console.Beeps(), 2);
}

TEST_F(SwitcherTest, ConnectPrompt) {
    console.WriteText(banner, "banner text\r\n");
    console.PushKey('H', 'h');
    console.PushKey(VK_RETURN, 13);
    Key('A', 0, LEFT_ALT_PRESSED);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->GetName(), "h");
    EXPECT_TRUE(made[0]->started);
    EXPECT_EQ(switcher->Current(), 0);
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (1): h");
    EXPECT_EQ(console.GetActiveScreen(), made[0]->GetScreen());
    EXPECT_EQ(console.GetScreen(banner).CursorY, 2);  // the line ended with CR LF

    // Cancelled: the prompt line is cleared and the previous session returns.
    console.PushKey('Z', 'z');
    console.PushKey(VK_ESCAPE, 27);
    Key('A', 0, LEFT_ALT_PRESSED);
    EXPECT_EQ(switcher->Current(), 0);
    EXPECT_EQ(console.GetActiveScreen(), made[0]->GetScreen());
    EXPECT_EQ(made.size(), 1u);
    console.SetActiveScreen(banner);
    EXPECT_EQ(console.ShownRow(1).substr(0, 13), "Connect to: h");
    EXPECT_EQ(console.ShownRow(2), std::string(80, ' '));
    EXPECT_EQ(console.GetCursorX(banner), 0);
}

TEST_F(SwitcherTest, SessionsThatCannotBeMade) {
    switcher->StartSession("none");
    EXPECT_EQ(switcher->Count(), 0);
    EXPECT_EQ(console.IsScreenInUse(banner + 1), false);  // the screen was given back
    console.Refresh();
    EXPECT_EQ(console.ShownRow(0).substr(0, 37), "Sessions are not available yet: none ");
    // CONSOLE=STD fills all twelve slots with connect prompts.
    switcher->FillConnectSessions();
    EXPECT_EQ(switcher->Count(), 12);
    EXPECT_EQ(switcher->Current(), 0);
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (1): none");
}

// A session whose thread asks for a title update while the session is being
// deleted, as a connect session's thread does when it begins a connection
// at the moment the program ends; the destructor waits for the thread, as
// every session's destructor does.
struct TitleThreadSession : TSwitcherSession {
    explicit TitleThreadSession(int screen) : screen_(screen) {}
    ~TitleThreadSession() override {
        std::unique_lock lock(mutex_);
        deleting_ = true;
        changed_.notify_all();
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [this] { return updated_; })) {
            // The thread is stuck for good: joining would hang the run.
            std::fputs(
                "a session thread could not update the title while its session was "
                "being deleted\n",
                stderr);
            std::abort();
        }
        lock.unlock();
        thread_.join();
    }
    bool HandleInput(INPUT_RECORD&) override { return false; }
    std::string GetName() override { return "title-thread"; }
    int GetScreen() const override { return screen_; }
    void Start() override {
        thread_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return deleting_; });
            lock.unlock();
            UpdateTitle();
            lock.lock();
            updated_ = true;
            changed_.notify_all();
        });
    }
    bool Finished() const override { return false; }

    int screen_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool deleting_ = false;
    bool updated_ = false;
};

TEST_F(SwitcherTest, SessionThreadsUpdateTheTitleWhileTheSwitcherGoes) {
    Add("one");
    const int screen = console.AddScreen();
    ASSERT_TRUE(switcher->AddSession(std::make_unique<TitleThreadSession>(screen), screen));
    switcher->UpdateTitle();
    EXPECT_EQ(GetConsoleTitle(), "Quenlor - (2): title-thread");
    // The thread's update runs while the switcher deletes its sessions: it
    // must neither wait for the switcher's table forever nor see a session
    // that is being deleted.
    Switcher = switcher.get();
    switcher.reset();
    Switcher = nullptr;
    EXPECT_EQ(GetConsoleTitle(), "Quenlor");
    EXPECT_EQ(console.GetActiveScreen(), banner);

    // Cleared while a session thread reads it: updates stop reaching the
    // switcher, and the clear races with nothing.
    switcher = std::make_unique<TSwitcher>(console, banner, &history);
    Add("two");
    Switcher = switcher.get();
    std::atomic<bool> stop{false};
    std::atomic<int> updates{0};
    std::thread reader([&] {
        for (int i = 0; i < 100000 && !stop; ++i) {
            UpdateTitle();
            ++updates;
        }
    });
    while (updates < 10) std::this_thread::yield();
    Switcher = nullptr;
    stop = true;
    reader.join();
    SetConsoleTitle("after");
    UpdateTitle();
    EXPECT_EQ(GetConsoleTitle(), "after");
}

TEST(HotKeys, Classification) {
    int index = -1;
    EXPECT_EQ(ClassifyHotKey(MakeKeyEvent(true, VK_F12, 0, RIGHT_ALT_PRESSED), index),
              THotKey::SwitchTo);
    EXPECT_EQ(index, 11);
    EXPECT_EQ(ClassifyHotKey(MakeKeyEvent(true, VK_F1, 0, 0), index), THotKey::None);
    EXPECT_EQ(ClassifyHotKey(MakeKeyEvent(false, 'N', 0, LEFT_ALT_PRESSED), index), THotKey::None);
    // Other modifiers are not examined.
    EXPECT_EQ(
        ClassifyHotKey(MakeKeyEvent(true, 'N', 0, LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED), index),
        THotKey::Next);
    EXPECT_EQ(ClassifyHotKey(MakeKeyEvent(true, 'A', 'a', 0), index), THotKey::None);
    EXPECT_EQ(ClassifyHotKey(MakeMouseEvent(0, 0, 1, 0), index), THotKey::None);
}

}  // namespace
