// Shared by the host-key tests: files, temporary folders, and the keys and
// known answers ssh-keygen made once for tests/data/hostkeys.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include "../ssh/data_rows.h"
#include "ssh/keys/host_key.h"
#include "ssh/wire/scoped.h"

namespace hostkeys_test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/quenlor-hostkeys-XXXXXX";
        if (mkdtemp(name) != nullptr) path_ = name;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
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

// The row of tests/data/hostkeys/keys named `name`: name, type, base64 blob
// (the modulus in hex for "rsa1"), fingerprint.
inline std::vector<std::string> KeyRow(const std::string& name) {
    for (const auto& row : DataRows("hostkeys/keys"))
        if (row[0] == name) return row;
    ADD_FAILURE() << "no key " << name;
    return {name, "", "", ""};
}

inline HostKey TestKey(const std::string& name) {
    const std::vector<std::string> row = KeyRow(name);
    if (row[1] == "rsa1") {
        BIGNUM* n = nullptr;
        EXPECT_GT(BN_hex2bn(&n, row[2].c_str()), 0);
        BignumPtr modulus(n), exponent(BN_new());
        BN_set_word(exponent.get(), 65537);
        return host_key_from_rsa1(exponent.get(), modulus.get());
    }
    const std::vector<unsigned char> blob = Base64Decode(row[2]);
    return host_key_from_blob(blob.data(), blob.size());
}

// `text` with "{name}" put for the type and blob of each key of
// tests/data/hostkeys/keys, and "{name-print}" for its fingerprint.
inline std::string Fill(std::string text) {
    for (const auto& row : DataRows("hostkeys/keys")) {
        const std::pair<std::string, std::string> swaps[] = {
            {"{" + row[0] + "}", row[1] + " " + row[2]}, {"{" + row[0] + "-print}", row[3]}};
        for (const auto& [from, to] : swaps)
            for (size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace hostkeys_test
