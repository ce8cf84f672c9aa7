// Fingerprints, names, matching and lookups in known-hosts text, against
// answers ssh-keygen and openssl gave.
#include "ssh/keys/known_hosts.h"

#include <map>
#include <sstream>

#include "../base/case_file.h"
#include "hostkeys_test_support.h"

using namespace hostkeys_test;

namespace {

TEST(HostKeyFingerprint, MatchesTheToolsForEveryKeyType) {
    // SSH-1's is over the modulus bytes, then 65537 as 01 00 01.
    for (const char* name : {"dss", "rsa", "ecdsa", "ed", "rsa1"}) {
        const std::vector<std::string> row = KeyRow(name);
        const HostKey key = TestKey(name);
        // The type comes from the blob itself, as the known-hosts line names it.
        EXPECT_EQ(key.type, row[1]);
        EXPECT_EQ(host_key_fingerprint(key), row[3]);
    }
    EXPECT_EQ(known_hosts_line("h", TestKey("rsa1")), "h 1024 65537 " + KeyRow("rsa1")[4]);
    // A blob that is only its type string names the type; one cut inside it, none.
    const unsigned char bare[] = {0,   0,   0,   11,  's', 's', 'h', '-',
                                  'e', 'd', '2', '5', '5', '1', '9'};
    EXPECT_EQ(host_key_from_blob(bare, sizeof bare).type, "ssh-ed25519");
    EXPECT_EQ(host_key_from_blob(bare, sizeof bare - 1).type, "");
}

TEST(KnownHostsName, PortTwentyTwoIsPlainOthersBracketed) {
    EXPECT_EQ(known_hosts_name("Example.ORG", 22), "example.org");
    EXPECT_EQ(known_hosts_name("127.0.0.1", 2222), "[127.0.0.1]:2222");
}

TEST(KnownHostsPattern, Table) {
    const auto rows = DataRows("hostkeys/patterns");
    EXPECT_EQ(rows.size(), 25u);
    for (const auto& row : rows)
        EXPECT_EQ(known_hosts_match_list(row[0], row[1]), std::stoi(row[2]))
            << row[0] << " against " << row[1];
}

TEST(KnownHostsLookup, Table) {
    const std::map<std::string, KnownHostsResult::Status> status = {
        {"unknown", KnownHostsResult::kUnknown},
        {"known", KnownHostsResult::kKnown},
        {"changed", KnownHostsResult::kChanged},
        {"revoked", KnownHostsResult::kRevoked}};
    for (const TCase& c : ReadCases("hostkeys/lookup")) {
        const HostKey key = TestKey(c.size() > 4 ? c[4] : "dss");
        const KnownHostsResult result = known_hosts_lookup_text(Fill(c[0]), c[1], key);
        EXPECT_EQ(result.status, status.at(c[2])) << c.where;
        EXPECT_EQ(result.line, std::stoi(c[3])) << c.where;
    }
}

}  // namespace
