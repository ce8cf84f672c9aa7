#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../base/case_file.h"
#include "ssh/wire/log.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Peer text never reaches the log or the screen with a byte that could act
// as a terminal control, and never longer than the limit; text that is
// already safe passes unchanged.
TEST(LogSanitize, EscapesControlsAndCutsAtTheLimit) {
    for (const TCase& c : ReadCases("bounded/log_sanitize.cases")) {
        SCOPED_TRACE(c.where + ": " + c[0]);
        const std::size_t limit = static_cast<std::size_t>(Num(c[2]));
        const std::string got = log_sanitize(c[1].data(), c[1].size(), limit);
        EXPECT_EQ(got, c[3]);
        EXPECT_LE(got.size(), limit);
        for (char ch : got) EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << static_cast<int>(ch);
        // Sanitising the result again changes nothing.
        EXPECT_EQ(log_sanitize(got.data(), got.size(), limit), got);
    }
    EXPECT_EQ(log_sanitize(nullptr), "");
    EXPECT_EQ(log_sanitize("\x1b"), "\\x1b");
}

// Whatever the format puts in, a log line holds printable text only and at
// most 1 KB before its CR LF.
TEST(LogSanitize, LogLinesAndFatalTextsAreSafe) {
    const std::string banner = std::string(100 * 1024, '\x1b') + "tail";
    CaptureStderr();
    log("%s", banner.c_str());
    log("Remote: %s", "bell\x07");
    const std::string out = GetCapturedStderr();
    const std::size_t first = out.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_LE(first, static_cast<std::size_t>(kLogMessageSize - 1));
    EXPECT_EQ(out.substr(0, 8), "\\x1b\\x1b");
    EXPECT_EQ(out.substr(first + 2), "Remote: bell\\x07\r\n");
}

namespace {

// Runs `body` with standard error going to a file; what was written.
template <typename Body>
std::string StderrOf(Body body) {
    char name[] = "/tmp/quenlor-log-limit-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(fd, 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(fd);
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    unlink(name);
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

// One session (thread) logging without end writes at most its budget and a
// single notice; another session's lines still get through.
TEST(LogBudget, OneSessionCannotFillTheLog) {
    const std::string line(1000, 'p');
    const std::string out = StderrOf([&] {
        std::thread noisy([&] {
            for (int i = 0; i < 1000; ++i) log("%s", line.c_str());  // ~1 MB asked
        });
        noisy.join();
        std::thread other([] { log("other session still logs"); });
        other.join();
    });
    EXPECT_LE(out.size(), kLogThreadBudget + 200);
    EXPECT_GE(out.size(), kLogThreadBudget - 2000);
    EXPECT_EQ(Count(out, "log limit is reached"), 1u);
    EXPECT_EQ(Count(out, "other session still logs"), 1u);
}

// However many sessions log, the process as a whole stops at its budget.
// In a child process: the budget spent there must not silence later tests.
TEST(LogBudget, TheProcessStopsAtItsBudget) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string line(1000, 'q');
            const std::string out = StderrOf([&] {
                const int sessions = static_cast<int>(kLogProcessBudget / kLogThreadBudget) + 4;
                for (int s = 0; s < sessions; ++s) {
                    std::thread t([&] {
                        for (int i = 0; i < 400; ++i) log("%s", line.c_str());
                    });
                    t.join();
                }
            });
            const bool bounded = out.size() <= kLogProcessBudget + 64 * 1024;
            const bool noticed = Count(out, "the log limit is reached") == 1;
            std::_Exit(bounded && noticed ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
