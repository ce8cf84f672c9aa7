// Shared by the host-key tests: shell commands, temporary folders and keys
// made by ssh-keygen.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "ssh/keys/host_key.h"

namespace hostkeys_test {

// Runs `command` with sh; its standard output, and its exit status in *status.
inline std::string Shell(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) out.append(block, got);
    const int code = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    return out;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/quenlor-hostkeys-XXXXXX";
        if (mkdtemp(name) != nullptr) path_ = name;
    }
    ~TempDir() {
        if (!path_.empty()) Shell("rm -rf '" + path_ + "'");
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::vector<unsigned char> Base64Decode(const std::string& text) {
    std::vector<unsigned char> out(text.size() / 4 * 3 + 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return {};
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding++;
    if (text.size() > 1 && text[text.size() - 2] == '=') padding++;
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

// A new key of `type` (ssh-keygen -t) at `path`; the public key's host key.
inline HostKey MakeKey(const std::string& path, const std::string& type) {
    Shell("ssh-keygen -q -t " + type + " -N '' -f '" + path + "' </dev/null >/dev/null 2>&1");
    std::istringstream pub(ReadFile(path + ".pub"));
    std::string name;
    std::string base64;
    pub >> name >> base64;
    std::vector<unsigned char> blob = Base64Decode(base64);
    return host_key_from_blob(blob.data(), blob.size());
}

}  // namespace hostkeys_test
