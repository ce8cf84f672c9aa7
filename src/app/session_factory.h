// Creation of sessions for the switcher. Kept apart from the switcher so the
// session classes plug in here and nowhere else.
#pragma once

#include <memory>
#include <string>

#include "app/switcher_session.h"

// A session that connects to `host` on screen `screen`; nullptr when
// sessions cannot be created. Does not start its thread.
std::unique_ptr<TSwitcherSession> CreateSession(int screen, const std::string& host);
// A session that asks "[%d] Connect to: " on screen `screen` (CONSOLE=STD);
// nullptr when such sessions cannot be created.
std::unique_ptr<TSwitcherSession> CreateConnectSession(int screen);
