// The scroll-back viewer: pages through a snapshot of the scroll-back and the
// screen, taken when it opens. Main thread. While it is open the session lock
// is held, so the session's pump draws no host output over the pages; that
// output is drawn once the viewer closes.
#include <algorithm>

#include "app/screen_guard.h"
#include "app/simple_session.h"

void TSimpleSession::OpenScrollBack() {
    SessionLock.Enter();
    ScrollBackOpen = true;
    TScreenGuard guard;
    ScrollBlock = Console->TakeSnapshot(ScreenIndex, BlockLines);
    // The bottom page is the screen itself: nothing visible changes yet.
    ViewTop = BlockLines - Console->GetScreen(ScreenIndex).Height;
}

void TSimpleSession::ScrollBackKey(const INPUT_RECORD& record) {
    if (!record.Event.KeyEvent.bKeyDown) return;
    const ScreenRecord& s = Console->GetScreen(ScreenIndex);
    const int height = s.Height;
    int top = ViewTop;
    switch (record.Event.KeyEvent.wVirtualKeyCode) {
        case VK_PRIOR:
            top -= height;
            break;
        case VK_NEXT:
            top += height;
            break;
        case VK_HOME:
            top = 0;
            break;
        case VK_END:
            top = BlockLines;
            break;
        case VK_UP:
            top -= 1;
            break;
        case VK_DOWN:
            top += 1;
            break;
        default:
            break;
    }
    ScrollBackShow(top);
}

void TSimpleSession::WheelInput(const MOUSE_EVENT_RECORD& mouse) {
    // The high word: positive away from the user.
    const bool up = static_cast<std::int16_t>(mouse.dwButtonState >> 16) > 0;
    if (!ScrollBackOpen) {
        if (!up) return;
        OpenScrollBack();
    }
    const int bottom = std::max(BlockLines - Console->GetScreen(ScreenIndex).Height, 0);
    const int top = ViewTop + (up ? -kWheelLines : kWheelLines);
    if (!up && top >= bottom) {
        CloseScrollBack();
        return;
    }
    ScrollBackShow(top);
}

void TSimpleSession::ScrollBackShow(int top) {
    const ScreenRecord& s = Console->GetScreen(ScreenIndex);
    const int height = s.Height;
    ViewTop = std::clamp(top, 0, std::max(BlockLines - height, 0));
    const std::size_t width = static_cast<std::size_t>(s.Width);
    const std::size_t first = static_cast<std::size_t>(ViewTop) * width;
    if (first > ScrollBlock.size()) return;
    TScreenGuard guard;
    Console->BeginUpdate(ScreenIndex);
    Console->ShowPage(ScreenIndex, ScrollBlock.data() + first, ScrollBlock.size() - first);
    Console->EndUpdate(ScreenIndex);
}

void TSimpleSession::CloseScrollBack() {
    {
        TScreenGuard guard;
        const ScreenRecord& s = Console->GetScreen(ScreenIndex);
        const std::size_t width = static_cast<std::size_t>(s.Width);
        const int bottom = std::max(BlockLines - s.Height, 0);
        const std::size_t first = static_cast<std::size_t>(bottom) * width;
        if (first <= ScrollBlock.size()) {
            Console->BeginUpdate(ScreenIndex);
            Console->ShowPage(ScreenIndex, ScrollBlock.data() + first, ScrollBlock.size() - first);
            Console->EndUpdate(ScreenIndex);
        }
    }
    ScrollBackOpen = false;
    ScrollBlock.clear();
    ScrollBlock.shrink_to_fit();
    BlockLines = 0;
    SessionLock.Leave();
}
