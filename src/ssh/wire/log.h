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
//
// Every log line passes through log_sanitize, so text a peer sent (banners,
// DEBUG messages, names from its proposals) can neither drive the terminal
// that shows the log nor make a line longer than kLogMessageSize. Fatal
// texts are the caller's: peer text in them (a DISCONNECT reason) is
// sanitised where it is put in. A session thread writes at most kLogThreadBudget
// bytes of log lines and the process kLogProcessBudget; past that one notice
// is written and further lines are dropped, so no peer can fill the disk.
#pragma once

#include <cstddef>
#include <string>

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
constexpr std::size_t kLogThreadBudget = std::size_t{256} << 10;
constexpr std::size_t kLogProcessBudget = std::size_t{4} << 20;

// `length` bytes of text (NUL bytes included) made fit for the log and the
// screen: every byte outside printable ASCII becomes \xNN, and the result
// is cut to at most `limit` bytes, ending in "..." when cut. Printable text
// within the limit comes back unchanged, so sanitising twice changes
// nothing.
std::string log_sanitize(const char* text, std::size_t length,
                         std::size_t limit = kLogMessageSize - 1);
// The same for zero-terminated text; null gives "".
std::string log_sanitize(const char* text);

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
