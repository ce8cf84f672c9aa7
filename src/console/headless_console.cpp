#include "console/headless_console.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "base/exception.h"
#include "platform/terminal_output.h"

THeadlessConsole::THeadlessConsole(int width, int height)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
    shown_.assign(static_cast<std::size_t>(width_) * height_, TCell{' ', 0, kDefaultAttribute});
    SetConsoleSize(width_, height_);
    if (::pipe(pipe_) != 0) ThrowError("THeadlessConsole: Unable to create a pipe.");
    ::fcntl(pipe_[0], F_SETFL, O_NONBLOCK);
    ::fcntl(pipe_[1], F_SETFL, O_NONBLOCK);
    SetTerminalOutputSink([this](std::string_view bytes) { terminal_bytes_.append(bytes); });
}

THeadlessConsole::~THeadlessConsole() {
    SetTerminalOutputSink({});
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void THeadlessConsole::GetSize(int& width, int& height) {
    width = width_;
    height = height_;
}

void THeadlessConsole::Draw(const ScreenRecord& s, bool whole) {
    last_update_cells_ = 0;
    const int w = std::min(s.Width, width_);
    // The display holds the screen's rows and the status row, if shown.
    const int rows = s.Width > 0 ? static_cast<int>(s.Display.size() / s.Width) : 0;
    const int h = std::min(rows, height_);
    if (s.Previous.size() != s.Display.size()) whole = true;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * s.Width + x;
            if (!whole && s.Display[i] == s.Previous[i]) continue;
            shown_[static_cast<std::size_t>(y) * width_ + x] = s.Display[i];
            ++last_update_cells_;
        }
    }
}

void THeadlessConsole::Refresh() {
    std::lock_guard guard(OutputLock());
    ScreenRecord& s = Screens[ActiveScreen];
    if (!s.InUse || s.Width <= 0) return;
    ComposeScreen(s);
    Draw(s, true);
    UpdateCursor();
}

void THeadlessConsole::UpdateCursor() {
    std::lock_guard guard(OutputLock());
    const ScreenRecord& s = Screens[ActiveScreen];
    cursor_x_ = s.CursorX;
    cursor_y_ = s.CursorY;
}

void THeadlessConsole::BeginUpdate(int screen) {
    if (!IsScreenInUse(screen)) return;
    std::lock_guard guard(OutputLock());
    ScreenRecord& s = Screens[screen];
    s.Previous = s.Display;
}

void THeadlessConsole::EndUpdate(int screen) {
    if (!IsScreenInUse(screen)) return;
    std::lock_guard guard(OutputLock());
    if (screen != ActiveScreen) return;
    ScreenRecord& s = Screens[screen];
    if (s.Width <= 0) return;
    ComposeScreen(s);
    Draw(s, false);
    UpdateCursor();
}

int THeadlessConsole::GetInputHandle() {
    return pipe_[0];
}

bool THeadlessConsole::EventPending() {
    std::lock_guard guard(input_lock_);
    return !queue_.empty();
}

bool THeadlessConsole::WaitInput(int wakeFd) {
    for (;;) {
        {
            std::lock_guard guard(input_lock_);
            if (!queue_.empty() || closed_) return true;
        }
        pollfd fds[2] = {{pipe_[0], POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int n = ::poll(fds, wakeFd >= 0 ? 2 : 1, 100);
        if (n > 0 && wakeFd >= 0 && (fds[1].revents & POLLIN)) return false;
    }
}

void THeadlessConsole::ReadEvent(INPUT_RECORD& record) {
    std::unique_lock guard(input_lock_);
    input_cv_.wait(guard, [this] { return !queue_.empty() || closed_; });
    if (queue_.empty()) ThrowError("THeadlessConsole::ReadEvent: Input closed.");
    record = queue_.front();
    queue_.pop_front();
    char byte;
    (void)!::read(pipe_[0], &byte, 1);
}

void THeadlessConsole::PushEvent(const INPUT_RECORD& record) {
    {
        std::lock_guard guard(input_lock_);
        queue_.push_back(record);
    }
    const char byte = 1;
    (void)!::write(pipe_[1], &byte, 1);
    input_cv_.notify_all();
}

void THeadlessConsole::PushKey(std::uint16_t vk, unsigned char ch, std::uint32_t state) {
    PushEvent(MakeKeyEvent(true, vk, ch, state));
}

void THeadlessConsole::CloseInput() {
    {
        std::lock_guard guard(input_lock_);
        closed_ = true;
    }
    input_cv_.notify_all();
}

std::string THeadlessConsole::ShownRow(int y) const {
    std::lock_guard guard(OutputLock());
    std::string row;
    if (y < 0 || y >= height_) return row;
    for (int x = 0; x < width_; ++x)
        row.push_back(static_cast<char>(shown_[static_cast<std::size_t>(y) * width_ + x].Char));
    return row;
}

TCell THeadlessConsole::ShownCell(int x, int y) const {
    std::lock_guard guard(OutputLock());
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return TCell{0, 0, 0};
    return shown_[static_cast<std::size_t>(y) * width_ + x];
}

int THeadlessConsole::ShownCursorX() const {
    std::lock_guard guard(OutputLock());
    return cursor_x_;
}

int THeadlessConsole::ShownCursorY() const {
    std::lock_guard guard(OutputLock());
    return cursor_y_;
}

int THeadlessConsole::LastUpdateCells() const {
    std::lock_guard guard(OutputLock());
    return last_update_cells_;
}

std::string THeadlessConsole::TerminalBytes() const {
    std::lock_guard guard(OutputLock());
    return terminal_bytes_;
}

int THeadlessConsole::Beeps() const {
    std::lock_guard guard(OutputLock());
    // A BEL that ends an OSC sequence (title, clipboard) is no bell.
    int beeps = 0;
    bool in_osc = false;
    for (std::size_t i = 0; i < terminal_bytes_.size(); ++i) {
        const char c = terminal_bytes_[i];
        if (in_osc) {
            if (c == '\a' ||
                (c == '\x1b' && i + 1 < terminal_bytes_.size() && terminal_bytes_[i + 1] == '\\'))
                in_osc = false;
        } else if (c == '\x1b' && i + 1 < terminal_bytes_.size() && terminal_bytes_[i + 1] == ']') {
            in_osc = true;
        } else if (c == '\a') {
            ++beeps;
        }
    }
    return beeps;
}
