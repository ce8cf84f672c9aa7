// What the session switcher needs of a session. The session classes
// (TSimpleSession and its descendants) implement it; the switcher owns the
// objects, starts them, routes input to the shown one and deletes them after
// their thread has ended.
#pragma once

#include <string>

#include "platform/input_record.h"

class TSwitcherSession {
  public:
    virtual ~TSwitcherSession() = default;
    // Main thread: an input event for the shown session; true when consumed.
    virtual bool HandleInput(INPUT_RECORD& record) = 0;
    // Any thread: the name shown in the title.
    virtual std::string GetName() = 0;
    // The session's screen index in the console.
    virtual int GetScreen() const = 0;
    // Starts the session's thread (once).
    virtual void Start() = 0;
    // The thread has ended; the object may be deleted now.
    virtual bool Finished() const = 0;
    // Main thread, around a change of the screens' size: before it, views
    // laid out for the old size close; after it, the host is told.
    virtual void ScreenResizing() {}
    virtual void ScreenResized() {}
    // Any thread: the session's part of the status line (host, protocol,
    // cipher, state); empty for sessions that have none.
    virtual std::string GetStatus() { return {}; }
};
