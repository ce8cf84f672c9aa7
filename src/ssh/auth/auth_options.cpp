#include "ssh/auth/auth_options.h"

#include <cstdlib>

#include "base/exception.h"

Ssh2AuthOptions ssh2_auth_options(const THostConfig& host, Ssh2AuthPrompter* prompter,
                                  bool password_prompted) {
    Ssh2AuthOptions options;
    options.user = host.GetUser();
    options.host = host.GetAddress();
    options.prompter = prompter;
    const char* socket = std::getenv("SSH_AUTH_SOCK");
    if (socket != nullptr && socket[0] != '\0') {
        options.use_agent = true;
        options.agent_socket = socket;
    }
    switch (host.GetAuthType()) {
        case kAuthPassword:
            options.password = host.GetPassword();
            options.password_configured = !password_prompted && !options.password.empty();
            break;
        case kAuthRsa:
        case kAuthDsa:
        case kAuthKey:
            options.key_file = host.GetKeyFile();
            break;
        case kAuthAgent:
            if (!options.use_agent) ThrowError("SSH_AUTH=agent, but SSH_AUTH_SOCK names no agent.");
            break;
        default:
            ThrowError("TSSH2Connection::Login. Unknown authentication method.");
    }
    return options;
}
