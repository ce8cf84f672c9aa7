// The real terminal: raw mode and the screen modes the back end needs, and
// their undoing on every way out (normal exit, exceptions, atexit, fatal and
// terminating signals).
#pragma once

// Saves the terminal settings of `inFd`, switches to raw input (no echo, no
// line editing, no signals from Ctrl+C/Ctrl+Z/Ctrl+\, no flow control),
// turns on the alternate screen, SGR mouse reporting with button-motion
// tracking and bracketed paste, clears the screen, and makes `outFd` the
// destination of TerminalWrite. Returns false when `inFd` is not a terminal
// (nothing is changed then).
bool TerminalEnter(int inFd, int outFd);
// Undoes TerminalEnter; safe to call more than once and when it never ran.
void TerminalLeave();
// The same, using only async-signal-safe calls and without the output lock.
void TerminalLeaveFromSignal();
bool TerminalActive();

// Size of the terminal on `fd`; false when it cannot be read.
bool TerminalSize(int fd, int& width, int& height);

// Read end of a pipe that gets a byte on each SIGWINCH (installed by
// TerminalEnter). DrainResizes empties it and tells whether any came.
int ResizeFd();
bool DrainResizes();
