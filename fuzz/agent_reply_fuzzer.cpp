// The agent's replies to REQUEST_IDENTITIES and SIGN_REQUEST, and the key
// types named by the blobs it lists.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ssh/keys/agent_client.h"
#include "ssh/keys/user_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const Blob reply(data, data + size);
    std::vector<AgentIdentity> identities;
    if (ParseAgentIdentities(reply, &identities)) {
        for (const AgentIdentity& id : identities)
            (void)SignatureAlgorithms(BlobKeyType(id.blob), {}, false);
    }
    Blob signature;
    (void)ParseAgentSignResponse(reply, &signature);
    return 0;
}
