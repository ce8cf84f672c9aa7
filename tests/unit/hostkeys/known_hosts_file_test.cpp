// Reading, appending and the trust decision on real files.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "base/exception.h"
#include "hostkeys_test_support.h"
#include "ssh/keys/known_hosts.h"

using namespace hostkeys_test;

namespace {

class KnownHostsFile : public ::testing::Test {
  protected:
    HostKey Rsa1(int modulus_seed) {
        HostKey key;
        key.type = kHostKeyTypeRsa1;
        key.exponent = {0x01, 0x00, 0x01};
        key.modulus.assign(128, static_cast<unsigned char>(modulus_seed));
        key.modulus[0] |= 0x80;
        key.bits = 1024;
        return key;
    }
    TempDir dir_;
    const HostKey dss_ = TestKey("dss");
    const HostKey other_dss_ = TestKey("dss2");
    const HostKey ed_ = TestKey("ed");
};

TEST_F(KnownHostsFile, LookupTable) {
    const std::string dss = known_hosts_line("", dss_).substr(1);  // "ssh-dss AAAA..."
    const std::string other = known_hosts_line("", other_dss_).substr(1);
    const std::string ed = known_hosts_line("", ed_).substr(1);
    struct Case {
        std::string text;
        std::string name;
        KnownHostsResult::Status status;
        int line;
    };
    const Case cases[] = {
        {"", "h", KnownHostsResult::kUnknown, 0},
        {"h " + dss + "\n", "h", KnownHostsResult::kKnown, 1},
        {"h " + dss, "h", KnownHostsResult::kKnown, 1},  // no final line end
        {"h " + dss + " a comment here\r\n", "h", KnownHostsResult::kKnown, 1},
        {"other " + dss + "\n", "h", KnownHostsResult::kUnknown, 0},
        {"# h " + dss + "\n\nh " + other + "\n", "h", KnownHostsResult::kChanged, 3},
        {"h " + other + "\nh " + dss + "\n", "h", KnownHostsResult::kKnown, 2},
        {"h " + ed + "\n", "h", KnownHostsResult::kUnknown, 0},  // another type only
        {"@revoked h " + dss + "\nh " + dss + "\n", "h", KnownHostsResult::kRevoked, 1},
        {"h " + dss + "\n@revoked * " + dss + "\n", "h", KnownHostsResult::kRevoked, 2},
        {"@revoked h " + other + "\nh " + dss + "\n", "h", KnownHostsResult::kKnown, 2},
        {"@cert-authority h " + other + "\n", "h", KnownHostsResult::kUnknown, 0},
        {"@unknown-marker h " + other + "\n", "h", KnownHostsResult::kUnknown, 0},
        {"*.org,!bad.org " + other + "\n", "bad.org", KnownHostsResult::kUnknown, 0},
        {"*.org,!bad.org " + other + "\n", "ok.org", KnownHostsResult::kChanged, 1},
        {"[h]:2222 " + other + "\n", "h", KnownHostsResult::kUnknown, 0},
        {"[h]:2222 " + other + "\n", "[h]:2222", KnownHostsResult::kChanged, 1},
        // Damaged lines are passed over.
        {"h ssh-dss !!notbase64!!\nh\nh ssh-dss\nh ssh-ed25519 " + dss.substr(8) + "\nh " + dss +
             "\n",
         "h", KnownHostsResult::kKnown, 5},
    };
    for (const Case& c : cases) {
        const KnownHostsResult result = known_hosts_lookup_text(c.text, c.name, dss_);
        EXPECT_EQ(result.status, c.status) << c.text;
        EXPECT_EQ(result.line, c.line) << c.text;
    }
}

TEST_F(KnownHostsFile, Rsa1LinesAreBitsExponentModulus) {
    const HostKey first = Rsa1(0x11);
    const HostKey second = Rsa1(0x22);
    const std::string line = known_hosts_line("[h]:2225", first);
    std::istringstream fields(line);
    std::string name, bits, exponent, modulus;
    fields >> name >> bits >> exponent >> modulus;
    EXPECT_EQ(name, "[h]:2225");
    EXPECT_EQ(bits, "1024");
    EXPECT_EQ(exponent, "65537");
    EXPECT_GT(modulus.size(), 300u);
    EXPECT_EQ(known_hosts_lookup_text(line + "\n", "[h]:2225", first).status,
              KnownHostsResult::kKnown);
    EXPECT_EQ(known_hosts_lookup_text(line + "\n", "[h]:2225", second).status,
              KnownHostsResult::kChanged);
    // An SSH-2 key of the host does not speak for its SSH-1 key.
    EXPECT_EQ(known_hosts_lookup_text(known_hosts_line("[h]:2225", dss_), "[h]:2225", first).status,
              KnownHostsResult::kUnknown);
}

TEST_F(KnownHostsFile, AppendKeepsTheRestInTheToolsFormat) {
    // The folder is made (mode 700), the file too (mode 600).
    const std::string file = dir_ / "new/.ssh/known_hosts";
    std::string error;
    ASSERT_TRUE(known_hosts_add(file, "[127.0.0.1]:2222", dss_, &error)) << error;
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "new/.ssh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The line is the name and the public key as ssh-keygen wrote it.
    const std::vector<std::string> row = KeyRow("dss");
    EXPECT_EQ(ReadFile(file), "[127.0.0.1]:2222 " + row[1] + " " + row[2] + "\n");

    // Unreadable lines and a missing final line end stay byte for byte.
    const std::string old_text = "# mine\n|bogus line\t with tabs\r\n\nlast ssh-dss AAAA";
    WriteFile(file, old_text);
    ASSERT_TRUE(known_hosts_add(file, "example.org", ed_, &error)) << error;
    ASSERT_TRUE(known_hosts_add(file, "example.org", ed_, &error)) << error;  // known: no line
    EXPECT_EQ(ReadFile(file), old_text + "\n" + known_hosts_line("example.org", ed_) + "\n");
}

TEST_F(KnownHostsFile, ConcurrentWritersLeaveEveryLineWhole) {
    const std::string file = dir_ / "known_hosts";
    constexpr int kPerWriter = 150;
    // A second process appends its own hosts, and both record one shared
    // host at the same time: it must end up there once.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const char* prefix = child == 0 ? "child" : "parent";
    bool ok = true;
    std::string error;
    for (int i = 0; i < kPerWriter; ++i) {
        ok = known_hosts_add(file, std::string(prefix) + std::to_string(i) + ".example", dss_,
                             &error) &&
             ok;
        if (i == kPerWriter / 2) ok = known_hosts_add(file, "shared.example", ed_, &error) && ok;
    }
    if (child == 0) _exit(ok ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(ok) << error;

    std::istringstream lines(ReadFile(file));
    std::set<std::string> seen;
    int shared = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        const HostKey& key = name == "shared.example" ? ed_ : dss_;
        EXPECT_EQ(line, known_hosts_line(name, key));
        if (name == "shared.example") shared++;
        seen.insert(name);
    }
    EXPECT_EQ(shared, 1);
    EXPECT_EQ(seen.size(), 2u * kPerWriter + 1);
}

TEST_F(KnownHostsFile, VerifyPolicies) {
    const std::string file = dir_ / "known_hosts";
    int asked = 0;
    auto answer = [&](bool yes) {
        return [&asked, yes](const std::string& name, const HostKey&, const std::string& print) {
            asked++;
            EXPECT_EQ(name, "[h]:2222");
            EXPECT_EQ(print.rfind("SHA256:", 0), 0u);
            return yes;
        };
    };
    auto message = [&](HostKeyPolicy policy, const HostKey& key, bool yes) -> std::string {
        try {
            known_hosts_verify(file, policy, "[h]:2222", key, answer(yes));
        } catch (const TException& e) {
            return e.Message();
        }
        return "";
    };
    // Unknown host.
    EXPECT_NE(message(HostKeyPolicy::kStrict, dss_, true).find("strict"), std::string::npos);
    EXPECT_NE(message(HostKeyPolicy::kAsk, dss_, false).find("not accepted"), std::string::npos);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_EQ(message(HostKeyPolicy::kOff, dss_, false), "");
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_EQ(message(HostKeyPolicy::kAsk, dss_, true), "");
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ReadFile(file), known_hosts_line("[h]:2222", dss_) + "\n");
    // Known now: no question under any policy.
    for (HostKeyPolicy policy :
         {HostKeyPolicy::kAsk, HostKeyPolicy::kStrict, HostKeyPolicy::kAcceptNew})
        EXPECT_EQ(message(policy, dss_, false), "");
    EXPECT_EQ(asked, 2);
    // Changed: refused without a question, naming file, line, key and the cure.
    const std::string changed = message(HostKeyPolicy::kAsk, other_dss_, true);
    EXPECT_EQ(asked, 2);
    EXPECT_NE(changed.find("[h]:2222"), std::string::npos);
    EXPECT_NE(changed.find(file + ", line 1"), std::string::npos);
    EXPECT_NE(changed.find("ssh-dss " + host_key_fingerprint(other_dss_)), std::string::npos);
    EXPECT_NE(changed.find("ssh-keygen -R '[h]:2222' -f " + file), std::string::npos);
    EXPECT_NE(message(HostKeyPolicy::kAcceptNew, other_dss_, true).find("CHANGED"),
              std::string::npos);
    EXPECT_EQ(message(HostKeyPolicy::kOff, other_dss_, false), "");
    // A new type under accept-new is recorded beside the old key.
    EXPECT_EQ(message(HostKeyPolicy::kAcceptNew, ed_, false), "");
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ReadFile(file),
              known_hosts_line("[h]:2222", dss_) + "\n" + known_hosts_line("[h]:2222", ed_) + "\n");
    // Revoked keys are refused whatever the policy asks for.
    WriteFile(file, "@revoked [h]:2222 " + known_hosts_line("", ed_).substr(1) + "\n");
    EXPECT_NE(message(HostKeyPolicy::kAcceptNew, ed_, true).find("REVOKED"), std::string::npos);
}

}  // namespace
