#include "ssh/keys/agent_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include "ssh/keys/user_key.h"

namespace {

bool WriteAll(int fd, const uint8_t* bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t done = ::send(fd, bytes, n, MSG_NOSIGNAL);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t done = ::read(fd, bytes, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

bool ParseAgentIdentities(const Blob& reply, std::vector<AgentIdentity>* identities) {
    BlobReader r(reply);
    uint8_t type = 0;
    uint32_t count = 0;
    if (!r.GetByte(&type) || type != kAgentIdentitiesAnswer || !r.GetU32(&count) ||
        count > kAgentMaxIdentities)
        return false;
    std::vector<AgentIdentity> found;
    for (uint32_t i = 0; i < count; ++i) {
        AgentIdentity id;
        if (!r.GetString(&id.blob) || !r.GetString(&id.comment)) return false;
        found.push_back(std::move(id));
    }
    if (!r.AtEnd()) return false;
    *identities = std::move(found);
    return true;
}

bool ParseAgentSignResponse(const Blob& reply, Blob* signature) {
    BlobReader r(reply);
    uint8_t type = 0;
    Blob blob;
    if (!r.GetByte(&type) || type != kAgentSignResponse || !r.GetString(&blob) || !r.AtEnd())
        return false;
    *signature = std::move(blob);
    return true;
}

uint32_t AgentSignFlags(const std::string& algorithm) {
    if (algorithm == "rsa-sha2-256") return kAgentRsaSha2_256;
    if (algorithm == "rsa-sha2-512") return kAgentRsaSha2_512;
    return 0;
}

AgentClient::~AgentClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool AgentClient::Connect(const std::string& socket_path, std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.empty() || socket_path.size() >= sizeof address.sun_path) {
        *error = "bad agent socket name";
        return false;
    }
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 ||
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = std::strerror(errno);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool AgentClient::Exchange(const Blob& request, Blob* reply) {
    if (fd_ < 0) return false;
    BlobWriter frame;
    frame.PutString(request);
    uint8_t header[4];
    if (!WriteAll(fd_, frame.bytes().data(), frame.bytes().size()) ||
        !ReadAll(fd_, header, sizeof header))
        return false;
    const uint32_t length = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) |
                            (uint32_t{header[2]} << 8) | uint32_t{header[3]};
    if (length == 0 || length > kAgentMaxReply) return false;
    reply->resize(length);
    return ReadAll(fd_, reply->data(), length);
}

bool AgentClient::ListIdentities(std::vector<AgentIdentity>* identities) {
    Blob reply;
    return Exchange(Blob{kAgentRequestIdentities}, &reply) &&
           ParseAgentIdentities(reply, identities);
}

bool AgentClient::Sign(const Blob& key_blob, const uint8_t* data, std::size_t length,
                       const std::string& algorithm, Blob* signature) {
    BlobWriter w;
    w.PutByte(kAgentSignRequest);
    w.PutString(key_blob);
    w.PutString(data, length);
    w.PutU32(AgentSignFlags(algorithm));
    Blob reply;
    if (!Exchange(w.bytes(), &reply) || !ParseAgentSignResponse(reply, signature)) return false;
    // The agent must have used the algorithm asked for: an old agent that
    // ignores the flags answers ssh-rsa, which the request would misname.
    return BlobKeyType(*signature) == algorithm;
}
