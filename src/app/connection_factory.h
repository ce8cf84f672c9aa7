// The connection a session uses for its host's protocol.
#pragma once

#include <memory>

#include "config/host_config.h"
#include "net/connection.h"

// Creates (and, for network protocols, connects) the connection for
// `host`'s protocol on screen `screen`. `host` must outlive the connection.
// Raises "TSession. Unknown protocol." for a protocol without a connection.
std::unique_ptr<TConnection> CreateConnection(const THostConfig& host, int screen);
