// Fingerprints and matching, checked against ssh-keygen and openssl.
#include <sstream>

#include <openssl/bn.h>

#include "../ssh/data_rows.h"
#include "hostkeys_test_support.h"
#include "ssh/keys/known_hosts.h"
#include "ssh/wire/scoped.h"

using namespace hostkeys_test;

namespace {

TEST(HostKeyFingerprint, MatchesSshKeygenForEveryKeyType) {
    TempDir dir;
    for (const char* type : {"dsa", "rsa", "ecdsa", "ed25519"}) {
        SCOPED_TRACE(type);
        const std::string path = dir / std::string("key_") + type;
        HostKey key = MakeKey(path, type);
        ASSERT_FALSE(key.blob.empty());
        std::istringstream listed(Shell("ssh-keygen -lf '" + path + ".pub'"));
        std::string bits;
        std::string expected;
        listed >> bits >> expected;
        ASSERT_EQ(expected.rfind("SHA256:", 0), 0u) << expected;
        EXPECT_EQ(host_key_fingerprint(key), expected);
        // The type comes from the blob itself, as the known-hosts line names it.
        std::istringstream pub(ReadFile(path + ".pub"));
        std::string name;
        pub >> name;
        EXPECT_EQ(key.type, name);
    }
}

TEST(HostKeyFingerprint, Rsa1IsModulusThenExponentAsOpensslHashesThem) {
    TempDir dir;
    const std::string pem = dir / "rsa.pem";
    Shell("openssl genrsa -out '" + pem + "' 1024 2>/dev/null");
    std::string modulus = Shell("openssl rsa -in '" + pem + "' -noout -modulus");
    ASSERT_EQ(modulus.rfind("Modulus=", 0), 0u);
    modulus = modulus.substr(8);
    while (!modulus.empty() && (modulus.back() == '\n' || modulus.back() == '\r'))
        modulus.pop_back();
    // Modulus bytes, then 65537 as 01 00 01, hashed and encoded by the tools.
    std::string expected =
        Shell("python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(sys.argv[1]))' " +
              modulus + "010001 | openssl dgst -sha256 -binary | base64");
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '='))
        expected.pop_back();
    ASSERT_FALSE(expected.empty());

    BIGNUM* n = nullptr;
    ASSERT_GT(BN_hex2bn(&n, modulus.c_str()), 0);
    BignumPtr modulus_number(n);
    BignumPtr exponent(BN_new());
    BN_set_word(exponent.get(), 65537);
    HostKey key = host_key_from_rsa1(exponent.get(), modulus_number.get());
    EXPECT_EQ(key.type, "rsa1");
    EXPECT_EQ(key.bits, 1024);
    EXPECT_EQ(host_key_fingerprint(key), "SHA256:" + expected);
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

TEST(KnownHostsHashed, MatchesWhatSshKeygenHashes) {
    TempDir dir;
    HostKey key = MakeKey(dir / "host", "ed25519");
    const std::string file = dir / "known_hosts";
    const char* names[] = {"[127.0.0.1]:2222", "example.org", "10.1.2.3"};
    std::string text;
    for (const char* name : names) text += known_hosts_line(name, key) + "\n";
    WriteFile(file, text);
    int status = -1;
    Shell("ssh-keygen -H -f '" + file + "' >/dev/null 2>&1", &status);
    ASSERT_EQ(status, 0);
    const std::string hashed = ReadFile(file);
    ASSERT_EQ(hashed.find("example.org"), std::string::npos) << hashed;

    std::istringstream lines(hashed);
    std::vector<std::string> entries;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string hosts;
        fields >> hosts;
        entries.push_back(hosts);
    }
    ASSERT_EQ(entries.size(), 3u);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].rfind("|1|", 0), 0u);
        for (size_t j = 0; j < 3; ++j)
            EXPECT_EQ(known_hosts_match_hashed(entries[i], names[j]), i == j)
                << entries[i] << " against " << names[j];
        EXPECT_FALSE(known_hosts_match_hashed(entries[i], "127.0.0.1"));
    }
    for (const char* name : names)
        EXPECT_EQ(known_hosts_lookup(file, name, key).status, KnownHostsResult::kKnown) << name;
    EXPECT_EQ(known_hosts_lookup(file, "example.com", key).status, KnownHostsResult::kUnknown);
    // Damaged hashed entries match nothing.
    EXPECT_FALSE(known_hosts_match_hashed("|1|abc|def", "example.org"));
    EXPECT_FALSE(known_hosts_match_hashed("|2|" + entries[1].substr(3), "example.org"));
}

}  // namespace
