// Mouse selection, copying it to the clipboard, and pasting the clipboard to
// the host. Main thread.
#include "app/screen_guard.h"
#include "app/session.h"
#include "base/exception.h"
#include "platform/clipboard.h"

void TSession::MouseInput(const MOUSE_EVENT_RECORD& mouse) {
    const int x = mouse.dwMousePosition.X;
    const int y = mouse.dwMousePosition.Y;
    const std::uint32_t buttons = mouse.dwButtonState;
    const std::uint32_t flags = mouse.dwEventFlags;
    if (flags == 0 && buttons == FROM_LEFT_1ST_BUTTON_PRESSED) {
        Selecting = true;
        AnchorX = mouse.dwMousePosition.X;
        AnchorY = mouse.dwMousePosition.Y;
        TScreenGuard guard;
        Console->BeginUpdate(ScreenIndex);
        Console->SetSelection(ScreenIndex, x, y, x, y);
        Console->EndUpdate(ScreenIndex);
    } else if (flags == MOUSE_MOVED && Selecting) {
        TScreenGuard guard;
        Console->BeginUpdate(ScreenIndex);
        Console->SetSelection(ScreenIndex, AnchorX, AnchorY, x, y);
        Console->EndUpdate(ScreenIndex);
    }
    if (flags == 0 && Selecting && (buttons & FROM_LEFT_1ST_BUTTON_PRESSED) == 0) {
        Selecting = false;
        CopySelection();
    } else if (flags == 0 && buttons == RIGHTMOST_BUTTON_PRESSED) {
        PasteClipboard();
    }
}

void TSession::CopySelection() {
    std::string text;
    {
        TScreenGuard guard;
        text = Console->GetSelectionText(ScreenIndex);
    }
    SetClipboardText(text);
    if (!KeepSelection.load(std::memory_order_acquire)) {
        TScreenGuard guard;
        Console->SetSelection(ScreenIndex, -1, -1, -1, -1);
        Console->Refresh();
    }
}

void TSession::PasteClipboard() {
    // Before the login there is nothing to paste to.
    if (!IsStarted()) return;
    std::string clip = GetClipboardText();
    // The clipboard holds zero-terminated text: nothing after a zero byte.
    clip.resize(clip.find('\0') == std::string::npos ? clip.size() : clip.find('\0'));
    if (clip.empty()) return;
    std::string text;
    text.reserve(clip.size());
    char previous = 0;
    for (const char c : clip) {
        // CR LF becomes CR: the host's line discipline ends a line on CR.
        if (!(c == '\n' && previous == '\r')) text.push_back(c);
        previous = c;
    }
    const std::string bytes = Emulator->RecodeOutgoingText(text);
    // Whole or not at all: a paste cut short could run half a command.
    Send(bytes.data(), bytes.size());
}
