// Leveled logging and the fatal path of the SSH code.
//
// Log lines go to standard error, each as one write ending in CR LF, so lines
// of different session threads may interleave but are never torn. The level is
// process-wide (INFO from start) and may be read from any thread.
//
// `fatal` never returns. It hands the formatted text to the fatal hook of the
// calling thread; the hook is expected to raise (the SSH connection installs
// one that raises TException). Hooks are per thread because every session
// thread runs its own connection. When the thread has no hook, or the hook
// returns, `fatal` raises TException with the text itself, so a failure can
// never be taken for success. The text is never used as a format again.
#pragma once

enum LogLevel {
    SYSLOG_LEVEL_QUIET = 0,
    SYSLOG_LEVEL_FATAL = 1,
    SYSLOG_LEVEL_ERROR = 2,
    SYSLOG_LEVEL_INFO = 3,
    SYSLOG_LEVEL_VERBOSE = 4,
    SYSLOG_LEVEL_DEBUG = 5,
};

// Formatted texts (log lines and fatal messages) are cut to fit this area,
// terminator included.
constexpr int kLogMessageSize = 1024;

void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void verbose(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Values outside SYSLOG_LEVEL_QUIET..SYSLOG_LEVEL_DEBUG are ignored.
void log_set_level(int level);
int log_get_level();

// Case-insensitive name lookups; -1 for a null or unknown name.
int log_level_number(const char* name);
int log_facility_number(const char* name);

// The fatal hook of the calling thread; returns the one it replaces. Pass
// nullptr to fall back to raising TException directly.
using FatalHook = void (*)(const char* text);
FatalHook fatal_set_hook(FatalHook hook);

// Clean-up registry for fatal ends of the whole process. `fatal` does not run
// it; `fatal_cleanup` runs every registered function newest first and then
// ends the process with exit code 255.
using CleanupFunction = void (*)(void* context);
void fatal_add_cleanup(CleanupFunction function, void* context);
void fatal_remove_cleanup(CleanupFunction function, void* context);
[[noreturn]] void fatal_cleanup();
