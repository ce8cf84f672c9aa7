// The process's control handler: what Ctrl+Break did on the console.
// SIGTERM, SIGHUP and SIGINT restore the terminal and the title and end the
// process with exit code 1. Fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) restore them too and then die of the signal as before; atexit
// covers a plain exit(). SIGPIPE is ignored: a peer that goes away must show
// up as a write error, not end the program.
#pragma once

void InstallControlHandler();
// A line written to standard output, after the restore, when a fatal
// signal ends the program (the text must outlive the program; null: none).
void SetFatalSignalLine(const char* line);
// Back to the default actions (the ESC exit path, after the restore).
void RemoveControlHandler();
