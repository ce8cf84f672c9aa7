#include "platform/title.h"

#include <signal.h>
#include <unistd.h>

#include <mutex>

#include "platform/terminal_output.h"

namespace {

volatile sig_atomic_t title_pushed = 0;
// Where the pop goes when a signal arrives; set while the title is pushed.
volatile sig_atomic_t title_fd = -1;
std::mutex title_lock;
std::string current_title;

constexpr char kPush[] = "\x1b[22;0t";
constexpr char kPop[] = "\x1b[23;0t";

}  // namespace

void SaveConsoleTitle() {
    std::lock_guard guard(OutputLock());
    if (title_pushed) return;
    TerminalWrite(kPush);
    title_fd = TerminalOutputFd();
    title_pushed = 1;
}

void RestoreConsoleTitle() {
    std::lock_guard guard(OutputLock());
    if (!title_pushed) return;
    title_pushed = 0;
    // The terminal modes may be undone already; the title goes to the same
    // descriptor the push went to.
    const int fd = TerminalOutputFd();
    if (fd < 0 && title_fd >= 0) {
        SetTerminalOutputFd(title_fd);
        TerminalWrite(kPop);
        SetTerminalOutputFd(-1);
    } else {
        TerminalWrite(kPop);
    }
}

void RestoreConsoleTitleFromSignal() {
    if (!title_pushed || title_fd < 0) return;
    title_pushed = 0;
    (void)!::write(title_fd, kPop, sizeof kPop - 1);
}

void SetConsoleTitle(const std::string& title) {
    std::string clean;
    for (char c : title)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) clean.push_back(c);
    {
        std::lock_guard guard(title_lock);
        current_title = clean;
    }
    TerminalWrite("\x1b]2;" + clean + "\x07");
}

std::string GetConsoleTitle() {
    std::lock_guard guard(title_lock);
    return current_title;
}
