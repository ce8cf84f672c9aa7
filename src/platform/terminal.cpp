#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/terminal_output.h"

namespace {

struct termios saved_modes;
volatile sig_atomic_t active = 0;
int terminal_in = -1;
int terminal_out = -1;
int resize_pipe[2] = {-1, -1};

constexpr char kEnter[] =
    "\x1b[?1049h"             // alternate screen (saves the cursor)
    "\x1b[?1002h\x1b[?1006h"  // button-motion mouse, SGR coordinates
    "\x1b[?2004h"             // bracketed paste
    "\x1b[0m\x1b[H\x1b[2J";
constexpr char kLeave[] =
    "\x1b[?2004l\x1b[?1006l\x1b[?1002l"
    "\x1b[0m\x1b[?25h"
    "\x1b[?1049l";

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void OnResize(int) {
    const int saved_errno = errno;
    const char byte = 1;
    (void)!::write(resize_pipe[1], &byte, 1);
    errno = saved_errno;
}

}  // namespace

bool TerminalEnter(int inFd, int outFd) {
    if (active) return true;
    if (!::isatty(inFd) || ::tcgetattr(inFd, &saved_modes) != 0) return false;
    struct termios raw = saved_modes;
    raw.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    raw.c_oflag &= ~OPOST;
    raw.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag &= ~(CSIZE | PARENB);
    raw.c_cflag |= CS8;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(inFd, TCSAFLUSH, &raw) != 0) return false;
    terminal_in = inFd;
    terminal_out = outFd;
    if (resize_pipe[0] < 0 && ::pipe(resize_pipe) == 0) {
        for (int fd : resize_pipe) {
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        struct sigaction action {};
        action.sa_handler = OnResize;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGWINCH, &action, nullptr);
    }
    active = 1;
    SetTerminalOutputFd(outFd);
    TerminalWrite(std::string_view(kEnter, sizeof kEnter - 1));
    return true;
}

void TerminalLeaveFromSignal() {
    if (!active) return;
    active = 0;
    WriteAll(terminal_out, kLeave, sizeof kLeave - 1);
    ::tcsetattr(terminal_in, TCSAFLUSH, &saved_modes);
}

void TerminalLeave() {
    std::lock_guard guard(OutputLock());
    if (!active) return;
    TerminalLeaveFromSignal();
    SetTerminalOutputFd(-1);
}

bool TerminalActive() {
    return active != 0;
}

bool TerminalSize(int fd, int& width, int& height) {
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
    width = size.ws_col;
    height = size.ws_row;
    return true;
}

int ResizeFd() {
    return resize_pipe[0];
}

bool DrainResizes() {
    if (resize_pipe[0] < 0) return false;
    bool any = false;
    char buffer[64];
    while (::read(resize_pipe[0], buffer, sizeof buffer) > 0) any = true;
    return any;
}
