// What a host's definition asks of the SSH-2 login.
#pragma once

#include "config/host_config.h"
#include "ssh/auth/sshconnect2.h"

// The SSH_AUTH form decides what is known up front: "pwd:" a password
// (configured when the host gave one, else typed at the login prompt), the
// key forms a key file, "agent" the agent. The agent's keys are tried by
// default whenever SSH_AUTH_SOCK names one. Raises for an AuthType that is
// no SSH-2 form.
Ssh2AuthOptions ssh2_auth_options(const THostConfig& host, Ssh2AuthPrompter* prompter,
                                  bool password_prompted);
