#include "app/program.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/banner.h"
#include "app/switcher.h"
#include "base/exception.h"
#include "config/telnet_config.h"
#include "console/text_console.h"
#include "platform/control_handler.h"
#include "platform/stderr_log.h"
#include "platform/terminal_output.h"
#include "platform/title.h"

namespace {

// Makes the executable's directory current, so a relative configuration
// file name resolves beside the executable.
void ChangeToProgramDirectory(const char* argv0) {
    char path[1024];
    std::snprintf(path, sizeof path, "%s", argv0 != nullptr ? argv0 : "");
    char* slash = std::strrchr(path + 1, '/');
    if (slash == nullptr && path[0] == '/') slash = path + 1;  // "/quenlor"
    if (slash == nullptr) {
        // Started through PATH: argv[0] has no directory, ask the system.
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0) return;
        path[n] = '\0';
        slash = std::strrchr(path + 1, '/');
        if (slash == nullptr) return;
    }
    *slash = '\0';
    if (::chdir(path) != 0) {
        // Not fatal: the configuration is then looked for in the current
        // directory, and a missing one is reported by the loader.
    }
}

// Passwords and passphrases live in this process from the configuration on
// (and typed ones until the login is done): a core file or a debugger
// attached by another user of the same account must not find them.
void DisableCoreDumps() {
    const rlimit none{0, 0};
    (void)::setrlimit(RLIMIT_CORE, &none);
    (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void StartUp(int argc, char** argv, std::unique_ptr<TTextConsole>& console,
             std::unique_ptr<TSwitcher>& switcher) {
    DisableCoreDumps();
    ChangeToProgramDirectory(argc > 0 ? argv[0] : nullptr);
    InstallControlHandler();
    SetFatalSignalLine("Unknown Win32 exception found!\n");
    // The title goes to the terminal before the console exists.
    if (::isatty(STDOUT_FILENO)) SetTerminalOutputFd(STDOUT_FILENO);
    SaveConsoleTitle();
    SetConsoleTitle("Quenlor");

    console = std::make_unique<TTextConsole>(STDIN_FILENO, STDOUT_FILENO);
    Console = console.get();
    RedirectStderrFromTerminal(STDOUT_FILENO);
    int width = 0, height = 0;
    console->GetSize(width, height);
    console->SetConsoleSize(width, height);
    const int banner = console->AddScreen();
    console->SetActiveScreen(banner);
    WriteBanner(*console, banner);
    console->Refresh();

    bool loaded = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-cfg=", 5) == 0) {
            Config.LoadConfig(argv[i] + 5);
            loaded = true;
        }
    }
    if (!loaded) Config.LoadConfig("quenlor.cfg");

    switcher = std::make_unique<TSwitcher>(*console, banner, &Config.GetHistory());
    Switcher = switcher.get();
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') switcher->StartSession(argv[i]);
    }
    switcher->UpdateTitle();
    if (Config.GetHost(0).GetConsoleType() == kConsoleStd) switcher->FillConnectSessions();
}

}  // namespace

int RunQuenlor(int argc, char** argv) {
    std::unique_ptr<TTextConsole> console;
    std::unique_ptr<TSwitcher> switcher;
    std::string line;  // printed after the terminal is restored
    try {
        StartUp(argc, argv, console, switcher);
        switcher->Run();
    } catch (const TCloseException&) {
    } catch (const TException& e) {
        line = std::string("Exception: ") + e.what() + "\n";
    } catch (...) {
        line = "Unknown C++ exception found.\n";
    }
    Switcher = nullptr;
    switcher.reset();
    Console = nullptr;
    console.reset();  // leaves raw mode and the alternate screen
    if (!line.empty()) {
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }
    RestoreConsoleTitle();
    RemoveControlHandler();
    return 0;
}
