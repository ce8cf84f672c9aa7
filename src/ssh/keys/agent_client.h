// A client of the SSH agent protocol over the agent's Unix socket: the list
// of identities (REQUEST_IDENTITIES) and signatures (SIGN_REQUEST, with the
// rsa-sha2-256/512 flags for RSA keys). The agent is only ever asked for
// signatures on this client's own logins; it is never forwarded.
#pragma once

#include <string>
#include <vector>

#include "ssh/keys/blob.h"

struct AgentIdentity {
    Blob blob;
    std::string comment;
};

enum AgentMessage : uint8_t {
    kAgentFailure = 5,
    kAgentRequestIdentities = 11,
    kAgentIdentitiesAnswer = 12,
    kAgentSignRequest = 13,
    kAgentSignResponse = 14,
};
constexpr uint32_t kAgentRsaSha2_256 = 2;
constexpr uint32_t kAgentRsaSha2_512 = 4;
// Replies longer than this are refused (the agent's own limit is similar).
constexpr uint32_t kAgentMaxReply = 256 * 1024;
// An agent with more keys than this is not believed.
constexpr uint32_t kAgentMaxIdentities = 1024;

// The body (message type onwards) of an IDENTITIES_ANSWER; false when it is
// anything else or malformed.
bool ParseAgentIdentities(const Blob& reply, std::vector<AgentIdentity>* identities);
// The signature blob of a SIGN_RESPONSE; false for FAILURE or malformed.
bool ParseAgentSignResponse(const Blob& reply, Blob* signature);
// The SIGN_REQUEST flags for a signature algorithm.
uint32_t AgentSignFlags(const std::string& algorithm);

class AgentClient {
  public:
    AgentClient() = default;
    ~AgentClient();
    AgentClient(const AgentClient&) = delete;
    AgentClient& operator=(const AgentClient&) = delete;

    // Connects to the socket; false (with a reason) when there is none.
    bool Connect(const std::string& socket_path, std::string* error);
    bool ListIdentities(std::vector<AgentIdentity>* identities);
    // The signature blob (string algorithm, string signature).
    bool Sign(const Blob& key_blob, const uint8_t* data, std::size_t length,
              const std::string& algorithm, Blob* signature);

  private:
    // Sends one framed request and reads one framed reply.
    bool Exchange(const Blob& request, Blob* reply);
    int fd_ = -1;
};
