// The terminal back end on a pseudo-terminal: what it sends on start and
// exit, how it draws, and how it reads keys.
#include "console/text_console.h"
#include "platform/terminal_output.h"

#include <fcntl.h>
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

#include "base/exception.h"
#include "platform/beep.h"
#include "platform/terminal.h"

namespace {

// A pty whose master side is read continuously by a thread.
class Pty {
  public:
    Pty() {
        struct winsize size {};
        size.ws_col = 80;
        size.ws_row = 25;
        if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) ADD_FAILURE() << "openpty";
        reader = std::thread([this] {
            char buffer[4096];
            while (!stop) {
                pollfd fd{master, POLLIN, 0};
                if (::poll(&fd, 1, 20) <= 0) continue;
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0) continue;
                std::lock_guard guard(lock);
                output.append(buffer, static_cast<std::size_t>(n));
            }
        });
    }
    ~Pty() {
        stop = true;
        reader.join();
        ::close(slave);
        ::close(master);
    }
    // Waits (bounded) until the output contains `text`; returns all output.
    std::string WaitFor(const std::string& text) {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard guard(lock);
                if (output.find(text) != std::string::npos) return output;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard guard(lock);
        ADD_FAILURE() << "never saw " << testing::PrintToString(text) << " in "
                      << testing::PrintToString(output);
        return output;
    }
    std::string Take() {
        std::lock_guard guard(lock);
        std::string all;
        all.swap(output);
        return all;
    }
    void Type(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int master = -1;
    int slave = -1;
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
        FAIL() << "a pipe was taken for a terminal";
    } catch (const TException& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      "TTextConsole::CreateHandle: Unable to create handle -10.", 0),
                  0u)
            << e.what();
    }
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_FALSE(TerminalActive());
}

TEST(TextConsole, StartDrawReadAndRestore) {
    Pty pty;
    {
        TTextConsole console(pty.slave, pty.slave);
        int w = 0, h = 0;
        console.GetSize(w, h);
        EXPECT_EQ(w, 80);
        EXPECT_EQ(h, 25);
        struct termios modes {};
        ASSERT_EQ(::tcgetattr(pty.slave, &modes), 0);
        EXPECT_EQ(modes.c_lflag & (ICANON | ECHO | ISIG), 0u);
        const std::string start = pty.WaitFor("\x1b[2J");
        EXPECT_NE(start.find("\x1b[?1049h"), std::string::npos);
        EXPECT_NE(start.find("\x1b[?1002h\x1b[?1006h"), std::string::npos);
        EXPECT_NE(start.find("\x1b[?2004h"), std::string::npos);

        const int screen = console.AddScreen();
        console.SetActiveScreen(screen);
        pty.WaitFor("\r\n");  // the full redraw has begun
        pty.Take();
        console.BeginUpdate(screen);
        console.SetCursor(screen, 10, 5);
        console.SetAttribute(screen, 0x1E);  // yellow on blue
        console.WriteText(screen, "Hi\x86");
        console.EndUpdate(screen);
        const std::string drawn = pty.WaitFor("Hi\xd0\x96");
        EXPECT_NE(drawn.find("\x1b[6;11H\x1b[93;44mHi\xd0\x96"), std::string::npos)
            << testing::PrintToString(drawn);
        // An update on a screen that is not shown sends nothing.
        const int other = console.AddScreen();
        console.BeginUpdate(other);
        console.WriteText(other, "hidden");
        console.EndUpdate(other);
        console.UpdateCursor();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(pty.Take().find("hidden"), std::string::npos);

        // Keys: an arrow with CTRL, a lone ESC after the pause, Cyrillic.
        pty.Type("\x1b[1;5A");
        INPUT_RECORD r;
        console.ReadEvent(r);
        EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, VK_UP);
        EXPECT_EQ(r.Event.KeyEvent.dwControlKeyState,
                  static_cast<std::uint32_t>(LEFT_CTRL_PRESSED));
        pty.Type("\x1b");
        const auto before = std::chrono::steady_clock::now();
        console.ReadEvent(r);
        EXPECT_GE(std::chrono::steady_clock::now() - before,
                  std::chrono::milliseconds(TTextConsole::kEscapeDelayMs - 5));
        EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, VK_ESCAPE);
        EXPECT_EQ(KeyChar(r), 27);
        pty.Type(
            "\xd0\xaf"
            "a");
        console.ReadEvent(r);
        EXPECT_EQ(KeyChar(r), 0x9F);  // Я
        EXPECT_TRUE(console.EventPending());
        console.ReadEvent(r);
        EXPECT_EQ(KeyChar(r), 'a');
        EXPECT_FALSE(console.EventPending());
        // WaitInput wakes for input and for the wake descriptor.
        int wake[2];
        ASSERT_EQ(::pipe(wake), 0);
        ASSERT_EQ(::write(wake[1], "x", 1), 1);
        EXPECT_FALSE(console.WaitInput(wake[0]));
        ::close(wake[0]);
        ::close(wake[1]);
        pty.Take();
    }
    const std::string end = pty.WaitFor("\x1b[?1049l");
    EXPECT_NE(end.find("\x1b[?2004l"), std::string::npos);
    struct termios modes {};
    ASSERT_EQ(::tcgetattr(pty.slave, &modes), 0);
    EXPECT_NE(modes.c_lflag & ICANON, 0u);
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
    const std::string all = pty.WaitFor("\x1b[?1049l");
    std::size_t bells = 0;
    for (char c : all) bells += c == '\a';
    EXPECT_EQ(bells, 200u);
}

}  // namespace
