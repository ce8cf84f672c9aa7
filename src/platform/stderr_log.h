// SSH log lines go to standard error. When standard error is the terminal
// the program draws on, they would scribble over the screen, so they go to
// a log file in the current directory instead.
#pragma once

// The log file's name, in the current directory.
constexpr const char* kStderrLogName = "quenlor-errors.log";
// A log file at least this large when the program starts is renamed to
// kStderrLogOldName (replacing an older one) and a new one begun. As one run
// writes at most the SSH log's process budget (4 MiB), each file stays below
// 8 MiB.
constexpr long kStderrLogRotateSize = 4L << 20;
constexpr const char* kStderrLogOldName = "quenlor-errors.log.old";

// If fd 2 is the same terminal as `terminalFd`, reopens it on the log file
// (appending, after the rotation above). Returns true when it did.
bool RedirectStderrFromTerminal(int terminalFd);
