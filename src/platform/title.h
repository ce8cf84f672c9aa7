// The window title. A terminal cannot report its title safely, so the
// title in force at start-up is pushed on the terminal's title stack
// (CSI 22;0 t) and popped back at exit (CSI 23;0 t). Terminals have no window
// icon; the icon steps of start-up and exit have nothing to do here.
#pragma once

#include <string>

// Pushes the current title; remembered so that every way out pops it.
void SaveConsoleTitle();
// Pops the pushed title (once; later calls do nothing).
void RestoreConsoleTitle();
// The same with async-signal-safe calls only.
void RestoreConsoleTitleFromSignal();
// OSC 2; control bytes in the text are left out.
void SetConsoleTitle(const std::string& title);
// The last title set (for tests and the status of the program).
std::string GetConsoleTitle();
