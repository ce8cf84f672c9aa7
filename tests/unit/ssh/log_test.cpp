#include "ssh/wire/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ssh_test_support.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using LogTest = SshTest;

TEST_F(LogTest, LinesEndInCrLfAndRespectTheLevel) {
    CaptureStderr();
    log("hello %d", 42);
    error("bad %s", "thing");
    verbose("not shown");
    debug("not shown either");
    EXPECT_EQ(GetCapturedStderr(), "hello 42\r\nbad thing\r\n");

    log_set_level(SYSLOG_LEVEL_DEBUG);
    CaptureStderr();
    debug("detail %s", "x");
    verbose("more");
    EXPECT_EQ(GetCapturedStderr(), "debug: detail x\r\nmore\r\n");

    log_set_level(SYSLOG_LEVEL_QUIET);
    CaptureStderr();
    error("suppressed");
    EXPECT_EQ(GetCapturedStderr(), "");

    // Out-of-range levels are ignored.
    log_set_level(SYSLOG_LEVEL_ERROR);
    log_set_level(6);
    log_set_level(-1);
    EXPECT_EQ(log_get_level(), SYSLOG_LEVEL_ERROR);
}

TEST_F(LogTest, NamesAreLookedUpIgnoringCase) {
    EXPECT_EQ(log_level_number("debug"), 5);
    EXPECT_EQ(log_level_number("DEBUG"), 5);
    EXPECT_EQ(log_level_number("Quiet"), 0);
    EXPECT_EQ(log_level_number("info"), 3);
    EXPECT_EQ(log_level_number("TRACE"), -1);
    EXPECT_EQ(log_level_number(nullptr), -1);
    EXPECT_EQ(log_facility_number("daemon"), 0);
    EXPECT_EQ(log_facility_number("User"), 1);
    EXPECT_EQ(log_facility_number("local7"), 10);
    EXPECT_EQ(log_facility_number("LOCAL8"), -1);
    EXPECT_EQ(log_facility_number(nullptr), -1);
}

TEST_F(LogTest, TextIsTakenLiterallyAndCutTo1023Characters) {
    CaptureStderr();
    log("%s", std::string(2000, 'x').c_str());
    EXPECT_EQ(GetCapturedStderr(), std::string(1023, 'x') + "\r\n");

    // Remote text with conversions in it must reach the message unchanged.
    const char* remote = "100%s sure %n %d";
    EXPECT_EQ(FatalMessage([&] { fatal("Remote: %s", remote); }), "Remote: 100%s sure %n %d");

    std::string longText(3000, 'y');
    std::string message = FatalMessage([&] { fatal("%s", longText.c_str()); });
    EXPECT_EQ(message, std::string(1023, 'y'));
}

namespace {
std::string g_hook_text;
struct HookRaised {};
void RecordingHook(const char* text) {
    g_hook_text = text;
    throw HookRaised{};
}
void ReturningHook(const char*) {}
}  // namespace

TEST_F(LogTest, FatalGoesThroughTheInstalledHook) {
    FatalHook outer = fatal_set_hook(RecordingHook);
    EXPECT_EQ(outer, RaisingFatalHook);
    EXPECT_THROW(fatal("code %d", 7), HookRaised);
    EXPECT_EQ(g_hook_text, "code 7");

    // A hook that returns must not turn the failure into success.
    fatal_set_hook(ReturningHook);
    EXPECT_EQ(FatalMessage([] { fatal("still fatal"); }), "still fatal");

    // Without a hook the text is raised as TException.
    fatal_set_hook(nullptr);
    EXPECT_EQ(FatalMessage([] { fatal("no hook"); }), "no hook");
}

namespace {
void CleanupA(void* context) {
    std::fprintf(stderr, "cleanup A %s\n", static_cast<char*>(context));
}
void CleanupB(void* context) {
    std::fprintf(stderr, "cleanup B %s\n", static_cast<char*>(context));
}
char g_first[] = "first";
char g_second[] = "second";
}  // namespace

TEST_F(LogTest, CleanupRegistry) {
    std::string message = FatalMessage([] { fatal_remove_cleanup(CleanupA, g_first); });
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "fatal_remove_cleanup: no such cleanup function: 0x%lx 0x%lx\n",
                  reinterpret_cast<unsigned long>(CleanupA),
                  reinterpret_cast<unsigned long>(static_cast<void*>(g_first)));
    EXPECT_EQ(message, expected);

    // Only the node matching both function and pointer goes.
    fatal_add_cleanup(CleanupA, g_first);
    fatal_remove_cleanup(CleanupA, g_first);
    fatal_add_cleanup(CleanupA, g_first);
    fatal_add_cleanup(CleanupA, g_second);
    fatal_remove_cleanup(CleanupA, g_first);
    EXPECT_FALSE(FatalMessage([] { fatal_remove_cleanup(CleanupA, g_first); }).empty());
    fatal_remove_cleanup(CleanupA, g_second);
}

TEST_F(LogTest, CleanupRunCallsNewestFirstAndExits255) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fatal_add_cleanup(CleanupA, g_first);
            fatal_add_cleanup(CleanupB, g_second);
            fatal_cleanup();
        },
        ::testing::ExitedWithCode(255), "cleanup B second\ncleanup A first\n");
}
