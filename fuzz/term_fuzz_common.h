// Shared set-up of the terminal-emulation fuzzers: a headless console and a
// screen per input, so no state leaks from one input to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/host_config.h"
#include "console/headless_console.h"

inline THeadlessConsole& FuzzConsole() {
    static THeadlessConsole console(80, 25);
    static const int shown = console.AddScreen();  // slot 0 stays the shown one
    (void)shown;
    return console;
}

// A fresh screen for one input; deleted again by the destructor.
class TFuzzScreen {
  public:
    TFuzzScreen() : index_(FuzzConsole().AddScreen()) { FuzzConsole().SetActiveScreen(index_); }
    ~TFuzzScreen() { FuzzConsole().DelScreen(index_); }
    int Index() const { return index_; }

  private:
    int index_;
};
