// SSH_AUTH values: "pwd:password", "rsa:keyfile", "dsa:keyfile".
#pragma once

#include <string>

#include "config/host_config.h"

// Sets AuthType and Password or KeyFile. Raises
// "DecodeAuth. Unknown SSH authentication type: |%s|." for any other prefix;
// AuthType is then 0.
void DecodeAuth(const std::string& text, THostConfig& host);
