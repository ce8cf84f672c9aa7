// The program's entry: start-up in its fixed order, the switcher's loop, and
// the handlers that end the program with a line on standard output after
// the terminal has been restored.
#pragma once

// Returns the process exit code.
int RunQuenlor(int argc, char** argv);
