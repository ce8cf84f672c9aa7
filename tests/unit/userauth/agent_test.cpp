// The agent protocol: replies parsed from bytes, then a real ssh-agent with
// keys added by ssh-add, asked for its list and for signatures with each
// RSA flag.
#include "ssh/keys/agent_client.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

#include "key_test_support.h"
#include "ssh/keys/key_file.h"

namespace {

TEST(AgentReplies, Identities) {
    BlobWriter w;
    w.PutByte(kAgentIdentitiesAnswer);
    w.PutU32(2);
    w.PutString("blob-one");
    w.PutString("first");
    w.PutString("blob-two");
    w.PutString("");
    std::vector<AgentIdentity> ids;
    ASSERT_TRUE(ParseAgentIdentities(w.bytes(), &ids));
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ(ToBlob("blob-one"), ids[0].blob);
    EXPECT_EQ("first", ids[0].comment);
    EXPECT_EQ(ToBlob("blob-two"), ids[1].blob);

    const Blob& good = w.bytes();
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(ParseAgentIdentities(Blob(good.begin(), good.begin() + n), &ids)) << n;
    Blob longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ParseAgentIdentities(longer, &ids));
    EXPECT_FALSE(ParseAgentIdentities(Blob{kAgentFailure}, &ids));
    BlobWriter huge;
    huge.PutByte(kAgentIdentitiesAnswer);
    huge.PutU32(kAgentMaxIdentities + 1);
    EXPECT_FALSE(ParseAgentIdentities(huge.bytes(), &ids));
}

TEST(AgentReplies, SignResponse) {
    BlobWriter w;
    w.PutByte(kAgentSignResponse);
    w.PutString("sig");
    Blob signature;
    ASSERT_TRUE(ParseAgentSignResponse(w.bytes(), &signature));
    EXPECT_EQ(ToBlob("sig"), signature);
    EXPECT_FALSE(ParseAgentSignResponse(Blob{kAgentFailure}, &signature));
    Blob cut = w.bytes();
    cut.pop_back();
    EXPECT_FALSE(ParseAgentSignResponse(cut, &signature));
    EXPECT_EQ(0u, AgentSignFlags("ssh-rsa"));
    EXPECT_EQ(kAgentRsaSha2_256, AgentSignFlags("rsa-sha2-256"));
    EXPECT_EQ(kAgentRsaSha2_512, AgentSignFlags("rsa-sha2-512"));
}

// Debian's ssh-agent on a socket in a temporary folder, ended by its pid.
class RealAgent {
  public:
    explicit RealAgent(const std::string& folder) : socket_(folder + "/agent.sock") {
        const std::string command = "ssh-agent -a '" + socket_ + "' -s";
        std::FILE* out = popen(command.c_str(), "r");
        if (out == nullptr) return;
        char line[512];
        while (std::fgets(line, sizeof line, out) != nullptr) {
            int pid = 0;
            if (std::sscanf(line, "SSH_AGENT_PID=%d;", &pid) == 1) pid_ = pid;
        }
        pclose(out);
    }
    ~RealAgent() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    bool Running() const { return pid_ > 0; }
    const std::string& Socket() const { return socket_; }
    // Through standard input: ssh-add refuses key files others may read.
    bool Add(const std::string& key) {
        const std::string command =
            "SSH_AUTH_SOCK='" + socket_ + "' ssh-add -q - <'" + key + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

  private:
    std::string socket_;
    int pid_ = 0;
};

TEST(AgentClient, RealAgentListsAndSigns) {
    TempFolder folder;
    const std::string rsa = KeyPath("rsa_pem");
    const std::string ed = KeyPath("ed25519");
    RealAgent agent(folder.path());
    ASSERT_TRUE(agent.Running());
    ASSERT_TRUE(agent.Add(rsa));
    ASSERT_TRUE(agent.Add(ed));

    AgentClient client;
    std::string error;
    ASSERT_TRUE(client.Connect(agent.Socket(), &error)) << error;
    std::vector<AgentIdentity> ids;
    ASSERT_TRUE(client.ListIdentities(&ids));
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ(PubFileBlob(rsa + ".pub"), ids[0].blob);
    EXPECT_EQ(PubFileBlob(ed + ".pub"), ids[1].blob);

    const Blob data = ToBlob("data to sign");
    struct Case {
        std::string file;
        std::size_t index;
        std::string algorithm;
    };
    const Case cases[] = {{rsa, 0, "rsa-sha2-512"},
                          {rsa, 0, "rsa-sha2-256"},
                          {rsa, 0, "ssh-rsa"},
                          {ed, 1, "ssh-ed25519"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm);
        std::unique_ptr<UserKey> key;
        ASSERT_EQ(LoadKeyResult::kOk, LoadUserKeyFile(c.file, PassphraseAsk(), &key, &error));
        Blob signature;
        ASSERT_TRUE(
            client.Sign(ids[c.index].blob, data.data(), data.size(), c.algorithm, &signature));
        std::string named;
        EXPECT_TRUE(VerifySshSignature(key->Pkey(), signature, data, &named));
        EXPECT_EQ(c.algorithm, named);
    }
    // A key the agent does not hold: FAILURE.
    Blob signature;
    EXPECT_FALSE(
        client.Sign(ToBlob("unknown"), data.data(), data.size(), "ssh-ed25519", &signature));

    AgentClient nowhere;
    EXPECT_FALSE(nowhere.Connect(folder.path() + "/no-agent", &error));
}

}  // namespace
