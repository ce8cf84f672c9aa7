// The session switcher: the table of up to 12 sessions, the current one, the
// window title, and the wait loop that routes console input and removes
// sessions whose threads have ended.
//
// Threads: the main thread runs everything here and alone changes the table.
// UpdateTitle may also run on session threads (a connect-prompt session
// calls it when it begins a connection); the table lock makes that safe.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/switcher_session.h"
#include "platform/input_record.h"

class TConsole;
class TStringHistory;

constexpr int kMaxSessions = 12;
constexpr int kConnectLineLength = 64;

class TSwitcher {
  public:
    TSwitcher(TConsole& console, int bannerScreen, TStringHistory* hostHistory);
    ~TSwitcher();

    // How sessions are made; CreateSession and CreateConnectSession unless
    // replaced (tests put fakes here).
    using TSessionMaker = std::function<std::unique_ptr<TSwitcherSession>(int, const std::string&)>;
    using TConnectSessionMaker = std::function<std::unique_ptr<TSwitcherSession>(int)>;
    void SetSessionMakers(TSessionMaker session, TConnectSessionMaker connect);

    // A session for the host text on a new screen; it becomes current.
    void StartSession(const std::string& host);
    // Fills every free slot with a connect-prompt session (CONSOLE=STD) and
    // makes session 0 current.
    void FillConnectSessions();
    // Shows the current session's screen (or the banner) and sets the title.
    void UpdateTitle();
    // Builds the status line for the shown session and draws it when on.
    // Any thread (sessions call it when their state changes).
    void UpdateStatus();
    std::string StatusText() const;
    // The terminal's new size (or the status row turned on or off): every
    // screen takes it and every session tells its host.
    void Resize(int width, int height);
    // The ALT+A prompt on the banner screen.
    void PromptNewSession();
    // The wait loop; returns when ESC is pressed on the banner screen.
    void Run();
    // One event of the loop; false means "leave the program".
    bool HandleEvent(INPUT_RECORD& record);
    // Deletes the sessions whose threads have ended.
    void RemoveFinishedSessions();

    int Count() const;
    int Current() const { return current_; }
    std::string Title() const;

    // Appends a created session on `screen`, makes it current and starts
    // it; with none, frees the screen and returns false.
    bool AddSession(std::unique_ptr<TSwitcherSession> session, int screen);

  private:
    void SayOnBanner(const std::string& text);

    TConsole& console_;
    const int banner_;
    TStringHistory* host_history_;
    TSessionMaker make_session_;
    TConnectSessionMaker make_connect_session_;
    mutable std::recursive_mutex table_lock_;
    std::vector<std::unique_ptr<TSwitcherSession>> sessions_;
    std::atomic<int> current_{-1};
};

// The one switcher, for code on session threads that must update the title.
// Set and cleared by the main thread while session threads may read it; the
// object outlives every session thread (its destructor waits for them), so a
// pointer read before the clear stays usable.
extern std::atomic<TSwitcher*> Switcher;
void UpdateTitle();
void UpdateStatus();
