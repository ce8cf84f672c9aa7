#include "app/simple_session.h"

TSimpleSession::TSimpleSession(int screen) : ScreenIndex(screen) {}

TSimpleSession::~TSimpleSession() {
    StopThread();
    // A viewer still open holds the session lock on this (the main) thread.
    if (ScrollBackOpen) {
        ScrollBackOpen = false;
        SessionLock.Leave();
    }
}

bool TSimpleSession::HandleInput(INPUT_RECORD& record) {
    const bool key = record.EventType == KEY_EVENT;
    if (key && record.Event.KeyEvent.bKeyDown &&
        record.Event.KeyEvent.wVirtualKeyCode == VK_SCROLL) {
        if (ScrollBackOpen)
            CloseScrollBack();
        else
            OpenScrollBack();
        return true;
    }
    if (record.EventType == MOUSE_EVENT && record.Event.MouseEvent.dwEventFlags == MOUSE_WHEELED) {
        WheelInput(record.Event.MouseEvent);
        return true;
    }
    if (ScrollBackOpen) {
        // Mouse events go on to the selection, which then copies the page shown.
        if (!key) return false;
        ScrollBackKey(record);
        return true;
    }
    if (IsPromptActive()) {
        PromptKey(record);
        return true;
    }
    return false;
}
