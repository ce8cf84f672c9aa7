// The one path to the terminal's output. Drawing, the bell, the title and
// clipboard transfers all come from different threads; each of them goes out
// as one write under the output lock so that escape sequences never
// interleave.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "platform/fair_mutex.h"

// Recursive: a back end composes and draws under it and may call helpers that
// write again. Fair: see TFairRecursiveMutex.
TFairRecursiveMutex& OutputLock();

// Where TerminalWrite sends its bytes: a file descriptor (-1: nowhere) ...
void SetTerminalOutputFd(int fd);
int TerminalOutputFd();
// ... or, when set, a function (the headless back end and tests capture the
// bytes this way). An empty function goes back to the descriptor.
void SetTerminalOutputSink(std::function<void(std::string_view)> sink);

// Writes all of `bytes` under the output lock; retries short writes and
// EINTR, gives up silently on other errors (the terminal is gone).
void TerminalWrite(std::string_view bytes);
