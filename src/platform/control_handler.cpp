#include "platform/control_handler.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/terminal.h"
#include "platform/title.h"

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
bool installed = false;
const char* volatile fatal_line = nullptr;
bool atexit_registered = false;

void RestoreForSignal() {
    TerminalLeaveFromSignal();
    RestoreConsoleTitleFromSignal();
}

void OnEnd(int) {
    RestoreForSignal();
    ::_exit(1);
}

void OnFatal(int signal) {
    RestoreForSignal();
    if (const char* line = fatal_line; line != nullptr)
        (void)!::write(STDOUT_FILENO, line, std::strlen(line));
    // SA_RESETHAND put the default action back: die of the same signal.
    ::raise(signal);
}

void AtExit() {
    TerminalLeave();
    RestoreConsoleTitle();
}

}  // namespace

void InstallControlHandler() {
    if (installed) return;
    installed = true;
    if (!atexit_registered) {
        atexit_registered = true;
        std::atexit(AtExit);
    }
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    for (int s : kEndSignals) sigaddset(&action.sa_mask, s);
    action.sa_handler = OnEnd;
    for (int s : kEndSignals) ::sigaction(s, &action, nullptr);
    action.sa_handler = OnFatal;
    action.sa_flags = SA_RESETHAND;
    for (int s : kFatalSignals) ::sigaction(s, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void SetFatalSignalLine(const char* line) {
    fatal_line = line;
}

void RemoveControlHandler() {
    if (!installed) return;
    installed = false;
    for (int s : kEndSignals) ::signal(s, SIG_DFL);
    for (int s : kFatalSignals) ::signal(s, SIG_DFL);
}
