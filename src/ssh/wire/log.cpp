#include "ssh/wire/log.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/exception.h"
#include "ssh/wire/xmalloc.h"

namespace {

std::atomic<int> g_log_level{SYSLOG_LEVEL_INFO};
thread_local FatalHook t_fatal_hook = nullptr;
thread_local std::size_t t_logged = 0;
std::atomic<std::size_t> g_logged{0};

struct CleanupNode {
    CleanupNode* next;
    CleanupFunction function;
    void* context;
};

std::mutex g_cleanup_lock;
CleanupNode* g_cleanups = nullptr;
std::atomic<bool> g_cleanup_running{false};

struct NameNumber {
    const char* name;
    int number;
};

constexpr NameNumber kLevels[] = {
    {"QUIET", SYSLOG_LEVEL_QUIET}, {"FATAL", SYSLOG_LEVEL_FATAL},     {"ERROR", SYSLOG_LEVEL_ERROR},
    {"INFO", SYSLOG_LEVEL_INFO},   {"VERBOSE", SYSLOG_LEVEL_VERBOSE}, {"DEBUG", SYSLOG_LEVEL_DEBUG},
};

constexpr NameNumber kFacilities[] = {
    {"DAEMON", 0}, {"USER", 1},   {"AUTH", 2},   {"LOCAL0", 3}, {"LOCAL1", 4},  {"LOCAL2", 5},
    {"LOCAL3", 6}, {"LOCAL4", 7}, {"LOCAL5", 8}, {"LOCAL6", 9}, {"LOCAL7", 10},
};

int lookup(const NameNumber* table, size_t count, const char* name) {
    if (name == nullptr) return -1;
    for (size_t i = 0; i < count; i++)
        if (strcasecmp(table[i].name, name) == 0) return table[i].number;
    return -1;
}

void write_line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// Charges a line to the thread's and the process's budgets; false when it
// must be dropped. The line that first crosses a budget is replaced by one
// notice (the notices themselves are not charged).
bool charge(std::size_t size) {
    if (t_logged > kLogThreadBudget) return false;
    t_logged += size;
    if (t_logged > kLogThreadBudget) {
        write_line("log: this session's log limit is reached; its further lines are dropped\r\n");
        return false;
    }
    const std::size_t before = g_logged.fetch_add(size, std::memory_order_relaxed);
    if (before > kLogProcessBudget) return false;
    if (before + size > kLogProcessBudget) {
        write_line("log: the log limit is reached; further lines are dropped\r\n");
        return false;
    }
    return true;
}

void do_log(int level, const char* format, va_list args) {
    if (level > g_log_level.load(std::memory_order_relaxed)) return;
    // Prefix, the message cut to its 1024-byte area, CR LF: built whole so
    // that one stdio call writes the line.
    char message[kLogMessageSize];
    const int formatted = std::vsnprintf(message, sizeof message, format, args);
    const std::size_t length =
        formatted < 0 ? 0 : std::min<std::size_t>(formatted, sizeof message - 1);
    std::string line = level == SYSLOG_LEVEL_DEBUG ? "debug: " : "";
    line += log_sanitize(message, length);
    line += "\r\n";
    if (charge(line.size())) write_line(line);
}

}  // namespace

std::string log_sanitize(const char* text, std::size_t length, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr char kCut[] = "...";
    std::string out;
    if (text == nullptr) return out;
    out.reserve(std::min(length, limit));
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool printable = byte >= 0x20 && byte < 0x7f;
        if (out.size() + (printable ? 1 : 4) > limit) {
            // Room for the marker: drop whole escapes, never half of one.
            const std::size_t marker = std::min(limit, sizeof kCut - 1);
            while (out.size() > limit - marker) {
                const std::size_t escape = out.size() >= 4 ? out.size() - 4 : std::string::npos;
                if (escape != std::string::npos && out[escape] == '\\' && out[escape + 1] == 'x')
                    out.resize(escape);
                else
                    out.pop_back();
            }
            out.append(kCut, marker);
            return out;
        }
        if (printable) {
            out.push_back(static_cast<char>(byte));
        } else {
            out += "\\x";
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        }
    }
    return out;
}

std::string log_sanitize(const char* text) {
    return text == nullptr ? std::string() : log_sanitize(text, std::strlen(text));
}

#define DEFINE_LOGGER(name, level)       \
    void name(const char* format, ...) { \
        va_list args;                    \
        va_start(args, format);          \
        do_log(level, format, args);     \
        va_end(args);                    \
    }

DEFINE_LOGGER(error, SYSLOG_LEVEL_ERROR)
DEFINE_LOGGER(log, SYSLOG_LEVEL_INFO)
DEFINE_LOGGER(verbose, SYSLOG_LEVEL_VERBOSE)
DEFINE_LOGGER(debug, SYSLOG_LEVEL_DEBUG)

#undef DEFINE_LOGGER

void fatal(const char* format, ...) {
    char text[kLogMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (FatalHook hook = t_fatal_hook) hook(text);
    // The text may hold remote data: ThrowError would read it as a format.
    throw TException(text);
}

void log_set_level(int level) {
    if (level >= SYSLOG_LEVEL_QUIET && level <= SYSLOG_LEVEL_DEBUG)
        g_log_level.store(level, std::memory_order_relaxed);
}

int log_get_level() {
    return g_log_level.load(std::memory_order_relaxed);
}

int log_level_number(const char* name) {
    return lookup(kLevels, sizeof kLevels / sizeof kLevels[0], name);
}

int log_facility_number(const char* name) {
    return lookup(kFacilities, sizeof kFacilities / sizeof kFacilities[0], name);
}

FatalHook fatal_set_hook(FatalHook hook) {
    FatalHook previous = t_fatal_hook;
    t_fatal_hook = hook;
    return previous;
}

void fatal_add_cleanup(CleanupFunction function, void* context) {
    auto* node = static_cast<CleanupNode*>(xmalloc(sizeof(CleanupNode)));
    node->function = function;
    node->context = context;
    std::lock_guard<std::mutex> lock(g_cleanup_lock);
    node->next = g_cleanups;
    g_cleanups = node;
}

void fatal_remove_cleanup(CleanupFunction function, void* context) {
    {
        std::lock_guard<std::mutex> lock(g_cleanup_lock);
        for (CleanupNode** link = &g_cleanups; *link != nullptr; link = &(*link)->next) {
            CleanupNode* node = *link;
            if (node->function == function && node->context == context) {
                *link = node->next;
                xfree(node);
                return;
            }
        }
    }
    fatal("fatal_remove_cleanup: no such cleanup function: 0x%lx 0x%lx\n",
          reinterpret_cast<unsigned long>(function), reinterpret_cast<unsigned long>(context));
}

void fatal_cleanup() {
    if (g_cleanup_running.exchange(true)) std::exit(255);
    // The functions may add or remove entries while they run: call them from
    // a copy taken under the lock, newest first.
    std::vector<CleanupNode> run;
    {
        std::lock_guard<std::mutex> lock(g_cleanup_lock);
        for (CleanupNode* node = g_cleanups; node != nullptr; node = node->next)
            run.push_back(*node);
    }
    for (const CleanupNode& node : run) {
        debug("Calling cleanup 0x%lx(0x%lx)", reinterpret_cast<unsigned long>(node.function),
              reinterpret_cast<unsigned long>(node.context));
        node.function(node.context);
    }
    std::exit(255);
}
