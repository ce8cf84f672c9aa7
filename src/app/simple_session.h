// A session: a thread with a virtual screen of its own, a session lock, an
// in-session line prompt and the scroll-back viewer.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "app/simple_thread.h"
#include "app/switcher_session.h"
#include "base/string_history.h"
#include "console/console.h"
#include "platform/input_record.h"
#include "platform/sync.h"

// Threads: Run on the session thread; HandleInput and GetName on the main
// thread. The prompt is shown by the session thread (BeginPrompt) and edited
// by the main thread (HandleInput); the line ready event hands the line back.
//
// Lock order, to stay free of deadlocks: a session lock is always taken
// before the terminal output lock (OutputLock), never while holding it.
// Bytes kept ready for a prompt's line.
constexpr std::size_t kPromptLineReserve = 256;

class TSimpleSession : public TSimpleThread, public TSwitcherSession {
  public:
    explicit TSimpleSession(int screen);
    ~TSimpleSession() override;

    int Run() override { return 0; }
    // Returns true when the event was consumed. Main thread.
    bool HandleInput(INPUT_RECORD& record) override;
    // Any thread.
    std::string GetName() override { return "TSimpleSession"; }
    int GetScreen() const override { return ScreenIndex; }
    void Start() override { TSimpleThread::Start(); }
    bool Finished() const override { return TSimpleThread::Finished(); }
    void ScreenResizing() override {
        if (ScrollBackOpen) CloseScrollBack();
    }
    void Lock() { SessionLock.Enter(); }
    void Unlock() { SessionLock.Leave(); }

    // --- The in-session prompt (session thread) ---

    // Writes the formatted prompt (at most 1024 bytes) and starts a line.
    // `history` (may be null) is copied: the prompt never changes it.
    void BeginPrompt(bool echo, const TStringHistory* history, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    // Waits for ENTER or ESC; the line typed (empty after ESC).
    std::string WaitLine();
    // As WaitLine, but ESC ends the session thread.
    std::string ReadLine();

    bool IsPromptActive() const { return PromptActive.load(std::memory_order_acquire); }
    bool IsScrollBackOpen() const { return ScrollBackOpen; }

    // Lines one wheel step scrolls the viewer.
    static constexpr int kWheelLines = 3;

  protected:
    // The prompt's key handler (main thread, only while the prompt is active).
    void PromptKey(const INPUT_RECORD& record);
    // Shows the line after the prompt text, with echo only.
    void RedrawLine();
    // The scroll-back viewer (main thread).
    void OpenScrollBack();
    void CloseScrollBack();
    void ScrollBackKey(const INPUT_RECORD& record);
    // Shows the page whose first line is `top` (clamped).
    void ScrollBackShow(int top);
    // The wheel: up opens the viewer and scrolls back; down scrolls on, and
    // reaching the bottom closes the viewer.
    void WheelInput(const MOUSE_EVENT_RECORD& mouse);

    TCriticalSection SessionLock;
    // Written by the session thread before it is set (release) and by the
    // main thread after it saw it set (acquire); the line ready event orders
    // the main thread's last writes before the session thread's reads.
    std::atomic<bool> PromptActive{false};
    bool PromptEcho = false;
    TEvent LineReady{true, true};
    std::string Line;
    TStringHistory History;
    int PromptX = 0;
    int PromptY = 0;
    bool PromptCancelled = false;

    // Main thread only.
    bool ScrollBackOpen = false;
    std::vector<TCell> ScrollBlock;
    int BlockLines = 0;
    int ViewTop = 0;

    const int ScreenIndex;
};
