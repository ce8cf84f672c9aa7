#include "app/session_factory.h"

#include "app/connect_session.h"
#include "app/session.h"

std::unique_ptr<TSwitcherSession> CreateSession(int screen, const std::string& host) {
    return std::make_unique<TSession>(host, screen);
}

std::unique_ptr<TSwitcherSession> CreateConnectSession(int screen) {
    return std::make_unique<TConnectSession>(screen);
}
