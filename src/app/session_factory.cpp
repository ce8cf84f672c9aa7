#include "app/session_factory.h"

// ---------------------------------------------------------------------------
// PLACEHOLDER until the session classes exist: no session can be created.
// The switcher then tells the user on the banner screen that sessions are not
// available yet. Replace both bodies with the real constructors.
// ---------------------------------------------------------------------------

std::unique_ptr<TSwitcherSession> CreateSession(int /*screen*/, const std::string& /*host*/) {
    return nullptr;
}

std::unique_ptr<TSwitcherSession> CreateConnectSession(int /*screen*/) {
    return nullptr;
}
