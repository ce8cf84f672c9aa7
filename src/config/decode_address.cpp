#include "config/decode_address.h"

#include "base/exception.h"
#include "config/config_text.h"

namespace {

struct TProtocolName {
    const char* name;
    int port;
};

// The position in this list is the Protocol number.
constexpr TProtocolName kProtocols[] = {
    {"telnet", 23}, {"ssh", 22}, {"file", -1}, {"ssh2", 22}, {"serial", -1},
};
constexpr int kProtocolCount = sizeof kProtocols / sizeof kProtocols[0];

// Addresses are copied into fixed buffers further down (the TCP layer), and
// the program has always documented this bound.
constexpr size_t kMaxAddressLength = 255;

}  // namespace

const char* ProtocolName(int protocol) {
    if (protocol < 0 || protocol >= kProtocolCount) return nullptr;
    return kProtocols[protocol].name;
}

void DecodeAddress(const std::string& text, THostConfig& host) {
    if (text.size() > kMaxAddressLength) {
        ThrowError("DecodeAddress error. Address longer than %zu characters: %s.",
                   kMaxAddressLength, text.c_str());
    }
    size_t first = text.find(':');
    size_t last = text.rfind(':');
    if (first == std::string::npos) {
        host.SetAddress(text);
        return;
    }
    if (first == last) {
        std::string before = text.substr(0, first);
        std::string after = text.substr(first + 1);
        if (!after.empty() && ParseCanonicalInt(after)) {
            const char* name = ProtocolName(host.GetProtocol());
            if (name == nullptr) {
                ThrowError("DecodeAddress error. Unknown protocol: %d.", host.GetProtocol());
            }
            DecodeAddress(std::string(name) + ":" + text, host);
            return;
        }
        for (const TProtocolName& protocol : kProtocols) {
            if (text.compare(0, std::char_traits<char>::length(protocol.name), protocol.name) ==
                0) {
                DecodeAddress(text + ":" + std::to_string(protocol.port), host);
                return;
            }
        }
        ThrowError("DecodeAddress error. Unknown protocol: %s.", before.c_str());
    }
    std::string protocol = text.substr(0, first);
    std::string address = text.substr(first + 1, last - first - 1);
    std::string port = text.substr(last + 1);
    int number = -1;
    for (int i = 0; i < kProtocolCount; ++i) {
        if (protocol == kProtocols[i].name) number = i;
    }
    if (number < 0) ThrowError("DecodeAddress error. Unknown protocol: %s.", protocol.c_str());
    host.SetProtocol(number);
    host.SetPort(kProtocols[number].port);
    host.SetAddress(address);
    std::optional<int> value = ParseCanonicalInt(port);
    if (!value || *value < -1 || *value > 65535) {
        ThrowError("DecodeAddress error. Bad port: %s.", port.c_str());
    }
    host.SetPort(*value);
}
