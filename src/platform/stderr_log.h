// SSH log lines go to standard error. When standard error is the terminal
// the program draws on, they would scribble over the screen, so they go to
// a log file in the current directory instead.
#pragma once

// The log file's name, in the current directory.
constexpr const char* kStderrLogName = "quenlor-errors.log";

// If fd 2 is the same terminal as `terminalFd`, reopens it on the log file
// (appending). Returns true when it did.
bool RedirectStderrFromTerminal(int terminalFd);
