// The trust check of a new SSH connection's host key, and the question to
// the user when the key is not known yet. Reading and recording the
// known-hosts file is the SSH layer's; this file adds the configuration and
// the in-session prompt.
#include <cctype>

#include "app/session.h"
#include "base/exception.h"
#include "ssh/keys/known_hosts.h"
#include "ssh/transport/packet.h"

namespace {

HostKeyPolicy PolicyOf(int check) {
    switch (check) {
        case kHostKeyCheckAcceptNew:
            return HostKeyPolicy::kAcceptNew;
        case kHostKeyCheckStrict:
            return HostKeyPolicy::kStrict;
        case kHostKeyCheckOff:
            return HostKeyPolicy::kOff;
        default:
            return HostKeyPolicy::kAsk;
    }
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

void TSession::HostKeyHook(PacketContext* context, const HostKey* key) {
    static_cast<TSession*>(context->host_key_hook_data)->CheckHostKey(*key);
}

void TSession::CheckHostKey(const HostKey& key) {
    const std::string file = known_hosts_expand_path(Host.GetKnownHosts());
    const std::string name = known_hosts_name(Host.GetAddress(), Host.GetPort());
    known_hosts_verify(
        file, PolicyOf(Host.GetHostKeyCheck()), name, key,
        [&](const std::string& shown, const HostKey& offered, const std::string& fingerprint) {
            return AskHostKey(shown, offered, fingerprint, file);
        });
}

bool TSession::AskHostKey(const std::string& name, const HostKey& key,
                          const std::string& fingerprint, const std::string& file) {
    BeginPrompt(true, nullptr,
                "\r\nThe host %s is not known yet.\r\nIts %s key: %s\r\nKnown hosts: %s\r\n"
                "Trust this key and connect (yes/no)? ",
                name.c_str(), key.type.c_str(), fingerprint.c_str(), file.c_str());
    for (;;) {
        const std::string answer = Lower(WaitLine());
        if (PromptCancelled || answer == "no") return false;  // ESC answers no
        if (answer == "yes") return true;
        BeginPrompt(true, nullptr, "Please type yes or no: ");
    }
}
