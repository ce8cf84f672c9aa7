// The terminal back end on a pseudo-terminal: what it sends on start and
// exit, how it draws, and how it reads keys.
#include "console/text_console.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "base/exception.h"
#include "platform/beep.h"
#include "platform/terminal.h"
#include "platform/terminal_output.h"

namespace {

using std::chrono::milliseconds;

// A pty whose master side a thread reads all along.
struct Pty {
    Pty() {
        winsize size{25, 80, 0, 0};
        EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
        reader = std::thread([this] {
            char buffer[4096];
            while (!stop) {
                pollfd fd{master, POLLIN, 0};
                const ssize_t n =
                    ::poll(&fd, 1, 20) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
                std::lock_guard guard(lock);
                if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
            }
        });
    }
    ~Pty() {
        stop = true;
        reader.join();
        ::close(slave);
        ::close(master);
    }
    // Waits (bounded) until the output holds `text`; hands out all of it.
    std::string Take(const std::string& text) {
        for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(milliseconds(10))) {
            std::lock_guard guard(lock);
            if (output.find(text) != std::string::npos) return std::exchange(output, "");
        }
        ADD_FAILURE() << "never saw " << testing::PrintToString(text);
        return "";
    }
    void Type(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    tcflag_t LocalModes() {
        termios modes{};
        return ::tcgetattr(slave, &modes) == 0 ? modes.c_lflag : ~tcflag_t{0};
    }

    int master = -1, slave = -1;
    std::mutex lock;
    std::string output;
    std::atomic<bool> stop{false};
    std::thread reader;
};

TEST(TextConsole, RefusesWhatIsNotATerminal) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    try {
        TTextConsole console(fds[0], fds[1]);
        ADD_FAILURE() << "a pipe was taken for a terminal";
    } catch (const TException& e) {
        const std::string message = "TTextConsole::CreateHandle: Unable to create handle -10.";
        EXPECT_EQ(std::string(e.what()).substr(0, message.size()), message);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_FALSE(TerminalActive());
}

TEST(TextConsole, StartDrawReadAndRestore) {
    Pty pty;
    {
        TTextConsole console(pty.slave, pty.slave);
        std::pair<int, int> size;
        console.GetSize(size.first, size.second);
        EXPECT_EQ(size, std::make_pair(80, 25));
        EXPECT_EQ(pty.LocalModes() & (ICANON | ECHO | ISIG), 0u);
        const std::string start = pty.Take("\x1b[2J");
        for (const char* mode : {"\x1b[?1049h", "\x1b[?1002h\x1b[?1006h", "\x1b[?2004h"})
            EXPECT_NE(start.find(mode), std::string::npos) << mode;

        const int screen = console.AddScreen();
        console.SetActiveScreen(screen);
        pty.Take("\r\n");  // the full redraw
        console.BeginUpdate(screen);
        console.SetCursor(screen, 10, 5);
        console.SetAttribute(screen, 0x1E);  // yellow on blue
        console.WriteText(screen, "Hi\x86");
        console.EndUpdate(screen);
        EXPECT_NE(pty.Take("Hi\xd0\x96").find("\x1b[6;11H\x1b[93;44mHi\xd0\x96"),
                  std::string::npos);
        // An update on a screen that is not shown sends nothing.
        const int other = console.AddScreen();
        console.BeginUpdate(other);
        console.WriteText(other, "hidden");
        console.EndUpdate(other);
        console.UpdateCursor();
        std::this_thread::sleep_for(milliseconds(50));
        EXPECT_EQ(pty.Take("").find("hidden"), std::string::npos);

        // Keys: an arrow with CTRL, a lone ESC after the pause, Cyrillic.
        INPUT_RECORD r;
        pty.Type("\x1b[1;5A");
        console.ReadEvent(r);
        EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, VK_UP);
        EXPECT_EQ(r.Event.KeyEvent.dwControlKeyState, LEFT_CTRL_PRESSED);
        pty.Type("\x1b");
        const auto before = std::chrono::steady_clock::now();
        console.ReadEvent(r);
        EXPECT_GE(std::chrono::steady_clock::now() - before,
                  milliseconds(TTextConsole::kEscapeDelayMs - 5));
        EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, VK_ESCAPE);
        EXPECT_EQ(KeyChar(r), 27);
        pty.Type(std::string("\xd0\xaf") + 'a');
        console.ReadEvent(r);
        EXPECT_EQ(KeyChar(r), 0x9F);  // Я
        EXPECT_TRUE(console.EventPending());
        EXPECT_TRUE(console.WaitInput(-1));  // for an event decoded already
        console.ReadEvent(r);
        EXPECT_EQ(KeyChar(r), 'a');
        EXPECT_FALSE(console.EventPending());
        // WaitInput wakes for the wake descriptor too.
        int wake[2];
        ASSERT_EQ(::pipe(wake), 0);
        ASSERT_EQ(::write(wake[1], "x", 1), 1);
        EXPECT_FALSE(console.WaitInput(wake[0]));
        ::close(wake[0]);
        ::close(wake[1]);
    }
    EXPECT_NE(pty.Take("\x1b[?1049l").find("\x1b[?2004l"), std::string::npos);
    EXPECT_NE(pty.LocalModes() & ICANON, 0u);
    EXPECT_FALSE(TerminalActive());
}

// Session threads draw and beep while the main thread redraws: every write
// goes out whole under the output lock.
TEST(TextConsole, DrawingFromSeveralThreads) {
    Pty pty;
    {
        TTextConsole console(pty.slave, pty.slave);
        const int shown = console.AddScreen();
        const int hidden = console.AddScreen();
        console.SetActiveScreen(shown);
        std::thread session([&] {
            for (int i = 0; i < 200; ++i) {
                {
                    // As sessions do: a screen changes under the output lock,
                    // which a resize takes too.
                    std::lock_guard guard(OutputLock());
                    console.BeginUpdate(hidden);
                    console.WriteText(hidden, "session output ");
                    console.EndUpdate(hidden);
                }
                MessageBeep(0);
            }
        });
        for (int i = 0; i < 50; ++i) {
            console.Refresh();
            console.SetStatusLine(i % 2 == 0);
        }
        session.join();
        console.SetStatusLine(false);
    }
    const std::string all = pty.Take("\x1b[?1049l");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\a'), 200);
}

}  // namespace
