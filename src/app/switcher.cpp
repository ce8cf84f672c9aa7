#include "app/switcher.h"

#include <cstdio>

#include "app/hot_keys.h"
#include "app/line_input.h"
#include "app/session_factory.h"
#include "base/string_history.h"
#include "console/console.h"
#include "platform/beep.h"
#include "platform/thread.h"
#include "platform/title.h"

std::atomic<TSwitcher*> Switcher{nullptr};

void UpdateTitle() {
    if (TSwitcher* switcher = Switcher.load(std::memory_order_acquire); switcher != nullptr)
        switcher->UpdateTitle();
}

void UpdateStatus() {
    if (TSwitcher* switcher = Switcher.load(std::memory_order_acquire); switcher != nullptr)
        switcher->UpdateStatus();
}

TSwitcher::TSwitcher(TConsole& console, int bannerScreen, TStringHistory* hostHistory)
    : console_(console),
      banner_(bannerScreen),
      host_history_(hostHistory),
      make_session_(CreateSession),
      make_connect_session_(CreateConnectSession) {}

void TSwitcher::SetSessionMakers(TSessionMaker session, TConnectSessionMaker connect) {
    make_session_ = std::move(session);
    make_connect_session_ = std::move(connect);
}

TSwitcher::~TSwitcher() {
    std::vector<std::unique_ptr<TSwitcherSession>> ending;
    {
        std::lock_guard guard(table_lock_);
        ending.swap(sessions_);
    }
    // Deleted outside the lock: a session's destructor waits for its thread,
    // and that thread may itself be waiting for the lock in UpdateTitle (a
    // connect session beginning a connection), which no cancellation can
    // interrupt. Such an update finds an empty table and shows the banner.
    ending.clear();
}

int TSwitcher::Count() const {
    std::lock_guard guard(table_lock_);
    return static_cast<int>(sessions_.size());
}

void TSwitcher::SayOnBanner(const std::string& text) {
    console_.BeginUpdate(banner_);
    console_.WriteText(banner_, text.c_str());
    console_.EndUpdate(banner_);
}

bool TSwitcher::AddSession(std::unique_ptr<TSwitcherSession> session, int screen) {
    if (!session) {
        console_.DelScreen(screen);
        return false;
    }
    TSwitcherSession* started = session.get();
    {
        std::lock_guard guard(table_lock_);
        sessions_.push_back(std::move(session));
        current_ = static_cast<int>(sessions_.size()) - 1;
    }
    started->Start();
    return true;
}

void TSwitcher::StartSession(const std::string& host) {
    if (Count() >= kMaxSessions) {
        // More hosts than slots: the rest are refused, not crammed in.
        MessageBeep(-1);
        SayOnBanner("No free session for " + host + ".\r\n");
        return;
    }
    const int screen = console_.AddScreen();
    if (!AddSession(make_session_(screen, host), screen))
        SayOnBanner("Sessions are not available yet: " + host + "\r\n");
}

void TSwitcher::FillConnectSessions() {
    bool refused = false;
    while (Count() < kMaxSessions && !refused) {
        const int screen = console_.AddScreen();
        refused = !AddSession(make_connect_session_(screen), screen);
    }
    if (refused) SayOnBanner("Connect sessions are not available yet.\r\n");
    current_ = Count() > 0 ? 0 : -1;
    UpdateTitle();
}

std::string TSwitcher::Title() const {
    std::lock_guard guard(table_lock_);
    const int current = current_;
    if (current < 0 || current >= static_cast<int>(sessions_.size())) return "Quenlor";
    char title[1024];
    std::snprintf(title, sizeof title, "Quenlor - (%d): %s", current + 1,
                  sessions_[current]->GetName().c_str());
    return title;
}

std::string TSwitcher::StatusText() const {
    std::lock_guard guard(table_lock_);
    const int count = static_cast<int>(sessions_.size());
    const int current = current_;
    char head[32];
    std::string text;
    if (current < 0 || current >= count) {
        text = " Quenlor";
    } else {
        std::snprintf(head, sizeof head, " (%d) ", current + 1);
        text = head + sessions_[current]->GetStatus();
    }
    std::snprintf(head, sizeof head, "  [%d open]", count);
    return text + head;
}

void TSwitcher::UpdateStatus() {
    std::lock_guard guard(table_lock_);
    console_.SetStatusText(StatusText());
    if (console_.GetStatusLine()) console_.Refresh();
}

void TSwitcher::Resize(int width, int height) {
    std::vector<TSwitcherSession*> all;
    {
        std::lock_guard guard(table_lock_);
        for (const auto& session : sessions_) all.push_back(session.get());
    }
    // Only the main thread removes sessions, so the pointers stay valid.
    for (TSwitcherSession* session : all) session->ScreenResizing();
    console_.Resize(width, height);
    for (TSwitcherSession* session : all) session->ScreenResized();
    UpdateStatus();
}

void TSwitcher::UpdateTitle() {
    std::lock_guard guard(table_lock_);
    const int current = current_;
    if (current < 0 || current >= static_cast<int>(sessions_.size())) {
        console_.SetActiveScreen(banner_);
    } else {
        console_.SetActiveScreen(sessions_[current]->GetScreen());
    }
    SetConsoleTitle(Title());
    console_.SetStatusText(StatusText());
    if (console_.GetStatusLine()) console_.Refresh();
}

void TSwitcher::PromptNewSession() {
    if (Count() >= kMaxSessions) {
        MessageBeep(-1);
        return;
    }
    const int remembered = current_;
    current_ = -1;
    UpdateTitle();
    console_.WriteText(banner_, "Connect to: ");
    console_.Refresh();
    char line[kConnectLineLength + 1];
    if (!LineInput(console_, banner_, line, kConnectLineLength, host_history_, true)) {
        console_.SetCursor(banner_, 0, console_.GetCursorY(banner_));
        console_.ClearToEndOfLine(banner_);
        console_.Refresh();
        current_ = remembered;
        UpdateTitle();
        return;
    }
    console_.WriteText(banner_, "\r\n");
    console_.Refresh();
    StartSession(line);
    UpdateTitle();
}

void TSwitcher::RemoveFinishedSessions() {
    bool removed = false;
    {
        std::lock_guard guard(table_lock_);
        for (std::size_t i = 0; i < sessions_.size();) {
            if (!sessions_[i]->Finished()) {
                ++i;
                continue;
            }
            const int screen = sessions_[i]->GetScreen();
            sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(i));
            if (console_.IsScreenInUse(screen)) console_.DelScreen(screen);
            removed = true;
        }
        if (removed) current_ = sessions_.empty() ? -1 : 0;
    }
    if (removed) UpdateTitle();
}

bool TSwitcher::HandleEvent(INPUT_RECORD& record) {
    if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) {
        Resize(record.Event.WindowBufferSizeEvent.dwSize.X,
               record.Event.WindowBufferSizeEvent.dwSize.Y);
        return true;
    }
    int index = -1;
    const THotKey key = ClassifyHotKey(record, index);
    const int count = Count();
    switch (key) {
        case THotKey::Escape:
            if (console_.GetActiveScreen() == banner_) return false;
            break;
        case THotKey::SwitchTo:
            if (index >= count) {
                MessageBeep(-1);
            } else {
                current_ = index;
                UpdateTitle();
            }
            return true;
        case THotKey::Next:
            if (count == 0) {
                MessageBeep(-1);
            } else {
                current_ = (current_ + 1) % count;
                UpdateTitle();
            }
            return true;
        case THotKey::Previous:
            if (count == 0) {
                MessageBeep(-1);
            } else {
                current_ = current_ <= 0 ? count - 1 : current_ - 1;
                UpdateTitle();
            }
            return true;
        case THotKey::StatusLine: {
            // The status row comes out of the screens: they and the hosts
            // get one row fewer (or back).
            int width = 0, height = 0;
            console_.GetSize(width, height);
            console_.SetStatusText(StatusText());
            {
                std::lock_guard guard(table_lock_);
                for (const auto& session : sessions_) session->ScreenResizing();
            }
            console_.SetStatusLine(!console_.GetStatusLine());
            Resize(width, height);
            return true;
        }
        case THotKey::NewSession:
            PromptNewSession();
            return true;
        case THotKey::None:
            break;
    }
    TSwitcherSession* target = nullptr;
    {
        std::lock_guard guard(table_lock_);
        const int current = current_;
        if (current >= 0 && current < static_cast<int>(sessions_.size()))
            target = sessions_[current].get();
    }
    // Only the main thread removes sessions, so the pointer stays valid.
    if (target != nullptr) target->HandleInput(record);
    return true;
}

void TSwitcher::Run() {
    for (;;) {
        if (!console_.WaitInput(ThreadEndFd())) {
            DrainThreadEnds();
            RemoveFinishedSessions();
            continue;
        }
        INPUT_RECORD record;
        console_.ReadEvent(record);
        if (!HandleEvent(record)) return;
    }
}
