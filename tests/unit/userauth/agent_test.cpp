// A real ssh-agent, keys added by ssh-add, asked for its list and for
// signatures with each RSA flag; the replies' parsing is in the case file.
#include "ssh/keys/agent_client.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>

#include "key_test_support.h"

namespace {

TEST(AgentClient, RealAgentListsAndSigns) {
    const std::string socket = testing::TempDir() + "/quenlor-agent-" + std::to_string(getpid());
    std::FILE* out = popen(("ssh-agent -a '" + socket + "' -s").c_str(), "r");
    ASSERT_NE(nullptr, out);
    int pid = 0;
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr)
        std::sscanf(line, "SSH_AGENT_PID=%d;", &pid);
    pclose(out);
    ASSERT_GT(pid, 0);
    std::unique_ptr<int, void (*)(int*)> end(&pid, [](int* p) { kill(*p, SIGTERM); });
    const std::string rsa = KeyPath("rsa_pem"), ed = KeyPath("ed25519");
    // Through standard input: ssh-add refuses key files others may read.
    for (const std::string& key : {rsa, ed})
        ASSERT_EQ(0, std::system(("SSH_AUTH_SOCK='" + socket + "' ssh-add -q - <'" + key +
                                  "' >/dev/null 2>&1")
                                     .c_str()));

    AgentClient client;
    std::string error;
    ASSERT_TRUE(client.Connect(socket, &error)) << error;
    std::vector<AgentIdentity> ids;
    ASSERT_TRUE(client.ListIdentities(&ids));
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ(PubFileBlob(rsa + ".pub"), ids[0].blob);
    EXPECT_EQ(PubFileBlob(ed + ".pub"), ids[1].blob);

    const Blob data = ToBlob("data to sign");
    for (const std::string algorithm : {"rsa-sha2-512", "rsa-sha2-256", "ssh-rsa", "ssh-ed25519"}) {
        const Blob& blob = ids[algorithm == "ssh-ed25519"].blob;
        Blob signature;
        ASSERT_TRUE(client.Sign(blob, data.data(), data.size(), algorithm, &signature));
        EXPECT_TRUE(Verifies(blob, algorithm, signature, data)) << algorithm;
    }
    // A key the agent does not hold: FAILURE.
    Blob signature;
    EXPECT_FALSE(
        client.Sign(ToBlob("unknown"), data.data(), data.size(), "ssh-ed25519", &signature));
    AgentClient nowhere;
    EXPECT_FALSE(nowhere.Connect(socket + ".none", &error));
    // A name longer than a socket address holds is refused before any copy.
    EXPECT_FALSE(nowhere.Connect(std::string(200, 'x'), &error));
    EXPECT_EQ("bad agent socket name", error);
}

}  // namespace
