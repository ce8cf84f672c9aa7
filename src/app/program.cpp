#include "app/program.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/banner.h"
#include "app/config_search.h"
#include "app/switcher.h"
#include "base/exception.h"
#include "config/ssh_algorithm_check.h"
#include "config/telnet_config.h"
#include "console/text_console.h"
#include "platform/control_handler.h"
#include "platform/stderr_log.h"
#include "platform/terminal_output.h"
#include "platform/title.h"
#include "ssh/transport/kex.h"

namespace {

#ifndef QUENLOR_DATA_DIR
#define QUENLOR_DATA_DIR "/usr/local/share/quenlor"
#endif
#ifndef QUENLOR_VERSION
#define QUENLOR_VERSION "unknown"
#endif

const char kUsage[] =
    "Usage: quenlor [-cfg=FILE]... [HOST]...\n"
    "       quenlor --help | --version\n"
    "\n"
    "A multi-session terminal client for telnet, SSH-1 and SSH-2 hosts.\n"
    "Each HOST (a name defined in the configuration, or\n"
    "[protocol:]address[:port] with protocol telnet, ssh, ssh2 or file)\n"
    "opens a session; ALT+A opens one from the banner screen.\n"
    "\n"
    "Keys:\n"
    "  ALT+F1..ALT+F12  show session 1..12      ALT+N / ALT+P  next / previous\n"
    "  ALT+A            connect to a host       ALT+T          status line on/off\n"
    "  ALT+X            close the session       ALT+Q          report 80x10 (SSH)\n"
    "  CTRL+INS / SHIFT+INS  copy / paste       mouse drag     select and copy\n"
    "  CTRL+ALT+S (SCROLL LOCK)  scroll-back viewer; the mouse wheel opens it too\n"
    "  ESC on the banner screen ends the program.\n"
    "\n"
    "Configuration: every -cfg=FILE given; else the first that exists of\n"
    "  $XDG_CONFIG_HOME/quenlor/quenlor.cfg (~/.config/quenlor/quenlor.cfg)\n"
    "  quenlor.cfg beside the program\n"
    "  ../share/quenlor/quenlor.cfg from the program's folder\n"
    "  " QUENLOR_DATA_DIR
    "/quenlor.cfg\n"
    "Relative file names in a configuration are taken from its folder.\n"
    "\n"
    "Exit status: 0 when ended with ESC, or after an error was reported;\n"
    "1 when ended by a signal (SIGINT, SIGTERM, SIGHUP); 2 for an unknown\n"
    "option.\n";

// The executable's folder ("" when unknown).
std::string ProgramDirectory(const char* argv0) {
    char path[1024];
    std::snprintf(path, sizeof path, "%s", argv0 != nullptr ? argv0 : "");
    char* slash = std::strrchr(path + 1, '/');
    if (slash == nullptr && path[0] == '/') slash = path + 1;  // "/quenlor"
    if (slash == nullptr) {
        // Started through PATH: argv[0] has no directory, ask the system.
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0) return {};
        path[n] = '\0';
        slash = std::strrchr(path + 1, '/');
        if (slash == nullptr) return {};
    }
    *slash = '\0';
    return path;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Passwords and passphrases live in this process from the configuration on
// (and typed ones until the login is done): a core file or a debugger
// attached by another user of the same account must not find them.
void DisableCoreDumps() {
    const rlimit none{0, 0};
    (void)::setrlimit(RLIMIT_CORE, &none);
    (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// The configuration's SSH_KEX, SSH_HOSTKEYS, SSH_CIPHERS and SSH_MACS are
// checked against the algorithms the key exchange offers.
std::string UnknownKexName(int kind, const std::string& list) {
    static constexpr int kSlots[kSshAlgorithmKinds] = {
        PROPOSAL_KEX_ALGS, PROPOSAL_SERVER_HOST_KEY_ALGS, PROPOSAL_ENC_ALGS_CTOS,
        PROPOSAL_MAC_ALGS_CTOS};
    return kind >= 0 && kind < kSshAlgorithmKinds ? kex_unknown_name(kSlots[kind], list) : list;
}

void StartUp(int argc, char** argv, std::unique_ptr<TTextConsole>& console,
             std::unique_ptr<TSwitcher>& switcher) {
    DisableCoreDumps();
    SetSshAlgorithmCheck(UnknownKexName);
    TConfigSearch search;
    search.XdgConfigHome = Environment("XDG_CONFIG_HOME");
    search.Home = Environment("HOME");
    search.ProgramDir = ProgramDirectory(argc > 0 ? argv[0] : nullptr);
    search.DataDir = QUENLOR_DATA_DIR;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-cfg=", 5) == 0) search.CfgOptions.push_back(argv[i] + 5);
    }
    InstallControlHandler();
    SetFatalSignalLine("Unknown Win32 exception found!\n");
    // The title goes to the terminal before the console exists.
    if (::isatty(STDOUT_FILENO)) SetTerminalOutputFd(STDOUT_FILENO);
    SaveConsoleTitle();
    SetConsoleTitle("Quenlor");

    console = std::make_unique<TTextConsole>(STDIN_FILENO, STDOUT_FILENO);
    Console = console.get();
    // The error log goes beside the program as it always did, where that
    // folder can be written (an installed program's cannot): else into the
    // directory the program was started in.
    char here[4096];
    const bool haveHere = ::getcwd(here, sizeof here) != nullptr;
    const bool besideProgram = !search.ProgramDir.empty() &&
                               ::access(search.ProgramDir.c_str(), W_OK) == 0 &&
                               ::chdir(search.ProgramDir.c_str()) == 0;
    RedirectStderrFromTerminal(STDOUT_FILENO);
    if (besideProgram && haveHere && ::chdir(here) != 0) {
        // Not fatal: relative -cfg= names are then looked up beside the
        // program only.
    }
    int width = 0, height = 0;
    console->GetSize(width, height);
    console->SetConsoleSize(width, height);
    const int banner = console->AddScreen();
    console->SetActiveScreen(banner);
    WriteBanner(*console, banner);
    console->Refresh();

    // Relative names inside the configuration (termcap, checked while it
    // is read; keys, logs and replays, opened by the sessions) are taken
    // from its folder: the program works there from now on.
    std::vector<std::string> files = FindConfigFiles(search);
    for (std::string& file : files) {
        if (file.empty() || file[0] == '/') continue;
        // A relative -cfg= name: from the current directory, else (as it
        // always was) from the program's folder.
        if (haveHere && ::access(file.c_str(), F_OK) == 0) {
            file = std::string(here) + "/" + file;
        } else if (!search.ProgramDir.empty()) {
            file = search.ProgramDir + "/" + file;
        }
    }
    if (!files.empty()) {
        // The first by its name inside its folder, so that an error names
        // the file as it was given.
        const std::string folder = FolderOf(files.front());
        if (folder != "." && ::chdir(folder.c_str()) == 0)
            files.front() = files.front().substr(files.front().rfind('/') + 1);
    }
    for (const std::string& file : files) Config.LoadConfig(file);

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
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--version") {
            std::printf("quenlor %s\n", QUENLOR_VERSION);
            return 0;
        }
        if (option[0] == '-' && option.rfind("-cfg=", 0) != 0) {
            std::fprintf(stderr, "quenlor: unknown option %s (see quenlor --help)\n", argv[i]);
            return 2;
        }
    }
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
