// SSH_AUTH values: "pwd:password", "rsa:keyfile", "dsa:keyfile",
// "key:keyfile" (a key of any type, SSH-2) and "agent" (the SSH agent's
// keys, SSH-2).
#pragma once

#include <string>

#include "config/host_config.h"

// Sets AuthType and Password or KeyFile. Raises
// "DecodeAuth. Unknown SSH authentication type: |%s|." for any other value;
// AuthType is then 0.
void DecodeAuth(const std::string& text, THostConfig& host);
