#include "app/connect_session.h"

#include "app/screen_guard.h"
#include "app/switcher.h"
#include "config/telnet_config.h"

TConnectSession::TConnectSession(int screen) : TSimpleSession(screen) {}

TConnectSession::~TConnectSession() {
    // Run may still be creating or waiting for the child; the child's own
    // destructor then ends the child's thread.
    StopThread();
}

std::string TConnectSession::GetName() {
    TLockGuard guard(ChildLock);
    return Child ? Child->GetName() : std::string("none");
}

bool TConnectSession::HandleInput(INPUT_RECORD& record) {
    // A viewer opened here (while asking) must be closed here too.
    if (!IsScrollBackOpen()) {
        TLockGuard guard(ChildLock);
        if (Child) return Child->HandleInput(record);
    }
    return TSimpleSession::HandleInput(record);
}

int TConnectSession::Run() {
    for (;;) {
        std::string line;
        while (line.empty()) {
            {
                TLockGuard session(SessionLock);
                TScreenGuard guard;
                Console->BeginUpdate(ScreenIndex);
                Console->SetCursor(ScreenIndex, 0, Console->GetCursorY(ScreenIndex));
                Console->ClearToEndOfLine(ScreenIndex);
                Console->EndUpdate(ScreenIndex);
            }
            BeginPrompt(true, &Config.GetHistory(), "[%d] Connect to: ", ScreenIndex);
            line = WaitLine();  // ESC gives an empty line: ask again
        }
        TSession* child;
        {
            TLockGuard guard(ChildLock);
            Child = std::make_unique<TSession>(line, ScreenIndex);
            child = Child.get();
            child->Start();
        }
        // Not under ChildLock: the title is built under the switcher's lock,
        // which asks this session's name.
        UpdateTitle();
        child->WaitFor();
        {
            TLockGuard guard(ChildLock);
            Child.reset();
        }
        TLockGuard session(SessionLock);
        TScreenGuard guard;
        Console->BeginUpdate(ScreenIndex);
        Console->WriteText(ScreenIndex, "\n\n");
        Console->EndUpdate(ScreenIndex);
    }
}
