// The in-session line prompt: shown by the session thread, edited by the
// main thread through HandleInput.
#include <cstdarg>
#include <cstdio>

#include "app/screen_guard.h"
#include "app/simple_session.h"
#include "base/secret_string.h"

void TSimpleSession::BeginPrompt(bool echo, const TStringHistory* history, const char* format,
                                 ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);

    // The session lock keeps the prompt off a scroll-back page that is being
    // viewed; it appears when the viewer closes.
    TLockGuard session(SessionLock);
    {
        TScreenGuard guard;
        Console->BeginUpdate(ScreenIndex);
        Console->WriteText(ScreenIndex, text);
        Console->EndUpdate(ScreenIndex);
        PromptX = Console->GetCursorX(ScreenIndex);
        PromptY = Console->GetCursorY(ScreenIndex);
    }
    PromptEcho = echo;
    LineReady.Reset();
    // Wiped rather than cleared: the last line may have been a password.
    // Room for a long line up front, so typing never leaves copies behind
    // in released blocks.
    WipeString(Line);
    Line.reserve(kPromptLineReserve);
    PromptCancelled = false;
    History.Clear();
    if (history != nullptr) History = *history;
    History.Add("");
    // Last: from here on the main thread owns the prompt state.
    PromptActive.store(true, std::memory_order_release);
}

std::string TSimpleSession::WaitLine() {
    LineReady.Wait();
    return Line;
}

std::string TSimpleSession::ReadLine() {
    std::string line = WaitLine();
    if (PromptCancelled) Terminate();
    return line;
}

void TSimpleSession::RedrawLine() {
    if (!PromptEcho) return;
    TScreenGuard guard;
    const int width = Console->GetScreen(ScreenIndex).Width;
    // The line is shown on the prompt's row only, its tail when it is longer
    // than the room left: a line that wrapped or scrolled the screen would
    // leave the prompt's position stale and the next redraw in the wrong
    // place. The last column stays free so that no wrap is pending.
    const int room = width - 1 - PromptX;
    std::string shown;
    if (room > 0) {
        const std::size_t n = static_cast<std::size_t>(room);
        shown = Line.size() > n ? Line.substr(Line.size() - n) : Line;
    }
    Console->BeginUpdate(ScreenIndex);
    Console->SetCursor(ScreenIndex, PromptX, PromptY);
    Console->ClearToEndOfLine(ScreenIndex);
    Console->WriteText(ScreenIndex, shown.c_str());
    Console->EndUpdate(ScreenIndex);
}

void TSimpleSession::PromptKey(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return;
    switch (record.Event.KeyEvent.wVirtualKeyCode) {
        case VK_BACK:
            if (!Line.empty()) {
                Line.pop_back();
                RedrawLine();
            }
            return;
        case VK_RETURN: {
            TScreenGuard guard;
            Console->BeginUpdate(ScreenIndex);
            Console->WriteText(ScreenIndex, "\r\n");
            Console->EndUpdate(ScreenIndex);
            break;
        }
        case VK_ESCAPE:
            WipeString(Line);
            RedrawLine();
            PromptCancelled = true;
            break;
        case VK_UP:
            History.Older();
            Line = History.Current();
            RedrawLine();
            return;
        case VK_DOWN:
            History.Newer();
            Line = History.Current();
            RedrawLine();
            return;
        case VK_HOME:
        case VK_END:
            Line = History.Current();
            RedrawLine();
            return;
        default: {
            const unsigned char c = KeyChar(record);
            if (c >= 0x20 && c < 0x7F) {
                Line.push_back(static_cast<char>(c));
                RedrawLine();
            }
            return;
        }
    }
    // ENTER and ESC end the prompt.
    PromptActive.store(false, std::memory_order_release);
    LineReady.Set();
}
