// Changes to a session's screen, made on the session thread (host output,
// prompts, error reports) and on the main thread (prompt echo, the close
// question, selection marks, scroll-back pages), are made under the terminal
// output lock. The back ends draw a screen under that lock too, so a change
// never meets a draw of the same screen half done, whichever thread draws.
//
// Never take a session lock while holding this one (see TSimpleSession).
#pragma once

#include <mutex>

#include "platform/terminal_output.h"

class TScreenGuard {
  public:
    TScreenGuard() : guard_(OutputLock()) {}
    TScreenGuard(const TScreenGuard&) = delete;
    TScreenGuard& operator=(const TScreenGuard&) = delete;

  private:
    std::lock_guard<TFairRecursiveMutex> guard_;
};
