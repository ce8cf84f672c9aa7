// Appending to known-hosts files, the trust decision on them, and the mode
// check of private key files.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>

#include "../base/case_file.h"
#include "base/exception.h"
#include "hostkeys_test_support.h"
#include "ssh/keys/key_file_mode.h"
#include "ssh/keys/known_hosts.h"

using namespace hostkeys_test;

namespace {

TEST(KnownHostsFile, AppendKeepsTheRestInTheToolsFormat) {
    // The folder is made (mode 700), the file too (mode 600).
    const TempDir dir;
    const std::string file = dir / "new/.ssh/known_hosts";
    std::string error;
    ASSERT_TRUE(known_hosts_add(file, "[127.0.0.1]:2222", TestKey("dss"), &error)) << error;
    struct stat st {};
    ASSERT_EQ(stat((dir / "new/.ssh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The line is the name and the public key as ssh-keygen wrote it.
    EXPECT_EQ(ReadFile(file), Fill("[127.0.0.1]:2222 {dss}\n"));

    // Unreadable lines and a missing final line end stay byte for byte.
    const std::string old_text = "# mine\n|bogus line\t with tabs\r\n\nlast ssh-dss AAAA";
    WriteFile(file, old_text);
    ASSERT_TRUE(known_hosts_add(file, "example.org", TestKey("ed"), &error)) << error;
    ASSERT_TRUE(known_hosts_add(file, "example.org", TestKey("ed"), &error)) << error;
    EXPECT_EQ(ReadFile(file), old_text + Fill("\nexample.org {ed}\n"));
}

TEST(KnownHostsFile, ConcurrentWritersLeaveEveryLineWhole) {
    const TempDir dir;
    const std::string file = dir / "known_hosts";
    const HostKey dss = TestKey("dss"), ed = TestKey("ed");
    constexpr int kPerWriter = 150;
    // A second process appends its own hosts, and both record one shared
    // host at the same time: it must end up there once.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const std::string prefix = child == 0 ? "child" : "parent";
    bool ok = true;
    std::string error;
    for (int i = 0; i < kPerWriter; ++i) {
        ok = known_hosts_add(file, prefix + std::to_string(i) + ".example", dss, &error) && ok;
        if (i == kPerWriter / 2) ok = known_hosts_add(file, "shared.example", ed, &error) && ok;
    }
    if (child == 0) _exit(ok ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(ok) << error;

    std::istringstream lines(ReadFile(file));
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(0, line.find(' '));
        EXPECT_EQ(line, known_hosts_line(name, name == "shared.example" ? ed : dss));
        EXPECT_TRUE(seen.insert(name).second) << name;
    }
    EXPECT_EQ(seen.size(), 2u * kPerWriter + 1);
}

TEST(KnownHostsFile, VerifySteps) {
    const std::map<std::string, HostKeyPolicy> policies = {
        {"strict", HostKeyPolicy::kStrict},
        {"ask", HostKeyPolicy::kAsk},
        {"accept-new", HostKeyPolicy::kAcceptNew},
        {"off", HostKeyPolicy::kOff}};
    const TempDir dir;
    const std::string file = dir / "known_hosts";
    int asked = 0;
    std::string text;
    for (const TCase& c : ReadCases("hostkeys/verify")) {
        SCOPED_TRACE(c.where);
        const HostKey key = TestKey(c[1]);
        if (c.size() > 6) WriteFile(file, text = Fill(c[6]));
        auto answer = [&](const std::string& name, const HostKey&, const std::string& print) {
            asked++;
            EXPECT_EQ(name, "[h]:2222");
            EXPECT_EQ(print, KeyRow(c[1])[3]);
            return c[2] == "yes";
        };
        std::string message;
        try {
            known_hosts_verify(file, policies.at(c[0]), "[h]:2222", key, answer);
        } catch (const TException& e) {
            message = e.Message();
        }
        std::string holds = Fill(c[3]);
        if (holds.find("{file}") != std::string::npos) holds.replace(holds.find("{file}"), 6, file);
        EXPECT_EQ(message.empty(), holds.empty()) << message;
        EXPECT_NE(message.find(holds), std::string::npos) << message;
        EXPECT_EQ(asked, std::stoi(c[4]));
        if (c[5] != "=") text = Fill(c[5]);
        EXPECT_EQ(ReadFile(file), text);
    }
}

// Private key files others can read are refused before they are read; a
// missing file is the reader's to report.
TEST(KeyFileMode, OnlyTheOwnerMayHaveAccess) {
    const TempDir dir;
    const std::string key = dir / "id_dsa";
    WriteFile(key, "not read here");
    const std::pair<mode_t, bool> cases[] = {{0600, false}, {0400, false}, {0700, false},
                                             {0640, true},  {0604, true},  {0644, true},
                                             {0610, true}};
    for (const auto& [mode, refused] : cases) {
        ASSERT_EQ(chmod(key.c_str(), mode), 0);
        std::string message;
        try {
            key_file_check_mode(key.c_str());
        } catch (const TException& e) {
            message = e.Message();
        }
        // A refusal names the file and the cure.
        EXPECT_EQ(message.find(key) != std::string::npos &&
                      message.find("chmod 600") != std::string::npos,
                  refused)
            << std::oct << mode << " " << message;
        EXPECT_EQ(message.empty(), !refused);
    }
    EXPECT_NO_THROW(key_file_check_mode((dir / "missing").c_str()));
}

}  // namespace
