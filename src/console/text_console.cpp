#include "console/text_console.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/exception.h"
#include "console/key_table.h"
#include "platform/terminal.h"
#include "platform/terminal_output.h"

TTextConsole::TTextConsole(int inFd, int outFd) : in_fd_(inFd), out_fd_(outFd) {
    if (!::isatty(inFd))
        ThrowError("TTextConsole::CreateHandle: Unable to create handle %d. Error code %d.\n", -10,
                   errno);
    if (!::isatty(outFd))
        ThrowError("TTextConsole::CreateHandle: Unable to create handle %d. Error code %d.\n", -11,
                   errno);
    if (!TerminalSize(outFd, width_, height_)) {
        width_ = 80;
        height_ = 25;
    }
    if (!TerminalEnter(inFd, outFd))
        ThrowError("TTextConsole::CreateHandle: Unable to create handle %d. Error code %d.\n", -10,
                   errno);
    visible_width_ = width_;
    visible_height_ = height_;
    SetConsoleSize(width_, height_);
    shown_.assign(static_cast<std::size_t>(width_) * height_, TCell{' ', 0, kDefaultAttribute});
    // TerminalEnter cleared the screen with default colours; that is what
    // the terminal shows, except that its default colours may not be ours.
    Send("\x1b[?7l\x1b[37;40m\x1b[2J");
    painter_.Reset();
}

TTextConsole::~TTextConsole() {
    Send("\x1b[?7h");
    TerminalLeave();
}

void TTextConsole::Send(const std::string& bytes) {
    if (!bytes.empty()) TerminalWrite(bytes);
}

void TTextConsole::GetSize(int& width, int& height) {
    width = width_;
    height = height_;
}

void TTextConsole::PlaceCursor(const ScreenRecord& s) {
    painter_.PlaceCursor(out_, std::min(s.CursorX, visible_width_ - 1),
                         std::min(s.CursorY, visible_height_ - 1));
}

void TTextConsole::Redraw(bool resized) {
    std::lock_guard guard(OutputLock());
    out_.clear();
    if (resized) {
        int w = 0, h = 0;
        if (TerminalSize(out_fd_, w, h)) {
            visible_width_ = w;
            visible_height_ = h;
        }
        painter_.Reset();
        out_.append("\x1b[?7l\x1b[?1002h\x1b[?1006h\x1b[?2004h\x1b[0m\x1b[37;40m\x1b[2J");
    }
    ScreenRecord& s = Screens[ActiveScreen];
    if (s.InUse && s.Width == width_ && s.Width > 0) ComposeScreen(s);
    if (s.InUse && s.Width == width_ && s.Width > 0 &&
        s.Display.size() == static_cast<std::size_t>(width_) * height_) {
        painter_.Paint(out_, s.Display.data(), shown_.data(), width_, height_, true, visible_width_,
                       visible_height_);
        PlaceCursor(s);
    }
    Send(out_);
}

void TTextConsole::Refresh() {
    Redraw(false);
}

void TTextConsole::UpdateCursor() {
    std::lock_guard guard(OutputLock());
    const ScreenRecord& s = Screens[ActiveScreen];
    out_.clear();
    PlaceCursor(s);
    Send(out_);
}

void TTextConsole::BeginUpdate(int screen) {
    if (!IsScreenInUse(screen)) return;
    std::lock_guard guard(OutputLock());
    ScreenRecord& s = Screens[screen];
    s.Previous = s.Display;
}

void TTextConsole::EndUpdate(int screen) {
    if (!IsScreenInUse(screen)) return;
    std::lock_guard guard(OutputLock());
    if (screen != ActiveScreen) return;
    ScreenRecord& s = Screens[screen];
    if (s.Width != width_ || s.Width <= 0) return;
    ComposeScreen(s);
    // The screen and the status row must fill the terminal exactly.
    if (s.Display.size() != static_cast<std::size_t>(width_) * height_) return;
    // Compared with what the terminal shows rather than with the display at
    // BeginUpdate: a Refresh or another writer in between cannot leave
    // stale cells behind.
    out_.clear();
    painter_.Paint(out_, s.Display.data(), shown_.data(), width_, height_, false, visible_width_,
                   visible_height_);
    PlaceCursor(s);
    Send(out_);
}

void TTextConsole::ReadInput(int timeoutMs) {
    pollfd fds[2] = {{in_fd_, POLLIN, 0}, {ResizeFd(), POLLIN, 0}};
    const int n = ::poll(fds, ResizeFd() >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) return;  // EINTR: the caller loops
    if (n == 0) {
        decoder_.Timeout();
        return;
    }
    if (ResizeFd() >= 0 && (fds[1].revents & POLLIN) && DrainResizes()) NoteResize();
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        const ssize_t got = ::read(in_fd_, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            ThrowError("TTextConsole::ReadEvent: Terminal input closed.");
        if (got > 0) decoder_.Feed(buffer, static_cast<std::size_t>(got));
    }
}

bool TTextConsole::WaitInput(int wakeFd) {
    for (;;) {
        if (resize_pending_ || decoder_.HasEvent()) return true;
        if (decoder_.Incomplete()) {
            ReadInput(kEscapeDelayMs);
            continue;
        }
        pollfd fds[3] = {{in_fd_, POLLIN, 0}, {ResizeFd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int n = ::poll(fds, 3, -1);
        if (n < 0) continue;
        if (fds[1].revents & POLLIN) {
            if (DrainResizes()) NoteResize();
        }
        if (resize_pending_) return true;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return true;
        if (wakeFd >= 0 && (fds[2].revents & POLLIN)) return false;
    }
}

void TTextConsole::NoteResize() {
    int w = 0, h = 0;
    if (!TerminalSize(out_fd_, w, h)) return;
    {
        // Clipped from now on: output drawn before the screens take the
        // new size never reaches past the terminal's edge.
        std::lock_guard guard(OutputLock());
        visible_width_ = w;
        visible_height_ = h;
    }
    resize_pending_ = true;
    pending_width_ = w;
    pending_height_ = h;
}

void TTextConsole::Resize(int width, int height) {
    {
        std::lock_guard guard(OutputLock());
        width_ = width;
        height_ = height;
        shown_.assign(static_cast<std::size_t>(width_) * height_, TCell{' ', 0, kDefaultAttribute});
        SetConsoleSize(width, height);
        ResizeScreens();
    }
    Redraw(true);
}

void TTextConsole::ReadEvent(INPUT_RECORD& record) {
    if (resize_pending_) {
        resize_pending_ = false;
        record = INPUT_RECORD{};
        record.EventType = WINDOW_BUFFER_SIZE_EVENT;
        record.Event.WindowBufferSizeEvent.dwSize = COORD{
            static_cast<std::int16_t>(pending_width_), static_cast<std::int16_t>(pending_height_)};
        return;
    }
    while (!decoder_.HasEvent() && !resize_pending_)
        ReadInput(decoder_.Incomplete() ? kEscapeDelayMs : -1);
    if (resize_pending_) {
        ReadEvent(record);
        return;
    }
    record = decoder_.PopEvent();
    NormaliseKeyEvent(record);
}
