// A session that asks "[%d] Connect to: " on its screen, runs a TSession for
// the line on the same screen until that ends, and asks again. It never ends
// by itself (the console mode "STD" opens one on every free screen).
#pragma once

#include <memory>
#include <string>

#include "app/session.h"
#include "app/simple_session.h"
#include "platform/sync.h"

// Threads: Run on its own thread, the child's Run on a further one;
// HandleInput and GetName on the main thread (GetName also wherever the
// title is updated). The child is created and deleted by Run under
// ChildLock, which the main thread holds while it hands the child an event.
class TConnectSession : public TSimpleSession {
  public:
    explicit TConnectSession(int screen);
    ~TConnectSession() override;

    int Run() override;
    // The child gets the events while it runs (its own prompts and
    // scroll-back viewer included); this session's prompt otherwise.
    bool HandleInput(INPUT_RECORD& record) override;
    // "none" without a child, else the child's name.
    std::string GetName() override;

  private:
    TCriticalSection ChildLock;
    std::unique_ptr<TSession> Child;
};
