// Address specifications: "host", "host:port", "protocol:host",
// "protocol:host:port".
#pragma once

#include <string>

#include "config/host_config.h"

// Sets Protocol, Address and Port of the host from the text. A bare host keeps
// protocol and port; "host:port" keeps the protocol; "protocol:host" takes
// the protocol's default port. Raises "DecodeAddress error. ..." on an
// unknown protocol, a bad port (not a canonical integer, or outside
// -1..65535) or a text over 255 characters. Touches nothing but the host, so
// sessions may call it on their own copy from any thread.
void DecodeAddress(const std::string& text, THostConfig& host);

// Protocol name for a Protocol number, or nullptr when out of range.
const char* ProtocolName(int protocol);
