// The SSH-2 login's questions at the in-session prompt: passphrases,
// keyboard-interactive prompts and repeated passwords.
#include <cstdio>

#include "app/screen_guard.h"
#include "app/session.h"

void TSession::Show(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c == '\n') shown += '\r';
        shown += c;
    }
    shown += "\r\n";
    TLockGuard session(SessionLock);
    TScreenGuard guard;
    Console->BeginUpdate(ScreenIndex);
    Console->WriteText(ScreenIndex, shown.c_str());
    Console->EndUpdate(ScreenIndex);
}

bool TSession::Ask(const std::string& prompt, bool echo, bool may_cancel, std::string* answer) {
    BeginPrompt(echo, nullptr, "%s", prompt.c_str());
    if (!may_cancel) {
        *answer = ReadLine();
        return true;
    }
    *answer = WaitLine();
    return !PromptCancelled;
}
