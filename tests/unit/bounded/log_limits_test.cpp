#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "../base/case_file.h"
#include "ssh/wire/log.h"

// Whether `what` is in `text` exactly once.
bool Once(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos && text.find(what) == text.rfind(what);
}

// Peer text never reaches the log or the screen with a byte that could act
// as a terminal control, nor longer than the limit, in a log line as well.
TEST(LogSanitize, EscapesControlsAndCutsAtTheLimit) {
    for (const TCase& c : ReadCases("bounded/log_sanitize.cases")) {
        SCOPED_TRACE(c.where + ": " + c[0]);
        const std::size_t limit = static_cast<std::size_t>(Num(c[2]));
        const std::string got = log_sanitize(c[1].data(), c[1].size(), limit);
        EXPECT_EQ(got, c[3]);
        EXPECT_EQ(log_sanitize(got.data(), got.size(), limit), got);
    }
    EXPECT_EQ(log_sanitize(nullptr), "");
    EXPECT_EQ(log_sanitize("\x1b"), "\\x1b");

    testing::internal::CaptureStderr();
    log("%s", (std::string(100 * 1024, '\x1b') + "tail").c_str());
    log("Remote: %s", "bell\x07");
    const std::string out = testing::internal::GetCapturedStderr();
    const std::size_t first = out.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_LE(first, static_cast<std::size_t>(kLogMessageSize - 1));
    EXPECT_EQ(out.substr(0, 8), "\\x1b\\x1b");
    EXPECT_EQ(out.substr(first + 2), "Remote: bell\\x07\r\n");
}

// One session (thread) logging without end writes at most its budget and a
// single notice; another session's lines still get through.
TEST(LogBudget, OneSessionCannotFillTheLog) {
    const std::string line(1000, 'p');
    testing::internal::CaptureStderr();
    std::thread([&] {
        for (int i = 0; i < 1000; ++i) log("%s", line.c_str());
    }).join();
    std::thread([] { log("other session still logs"); }).join();
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_LE(out.size(), kLogThreadBudget + 200);
    EXPECT_GE(out.size(), kLogThreadBudget - 2000);
    EXPECT_TRUE(Once(out, "log limit is reached"));
    EXPECT_TRUE(Once(out, "other session still logs"));
}
