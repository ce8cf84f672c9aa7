// Shared by the key tests: the key files ssh-keygen made once for
// tests/data/userauth/keys (passphrase "passphrase" where the name says
// "pass", the public key beside each), and signature checks by the host-key
// verifier, which the host-key tests hold against ssh-keygen's signatures.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "ssh/keys/blob.h"
#include "ssh/keys/sshkey.h"

inline std::string KeyPath(const std::string& name) {
    return std::string(QUENLOR_TEST_DATA) + "/userauth/keys/" + name;
}

inline Blob ToBlob(const std::string& text) {
    return Blob(text.begin(), text.end());
}

// The blob of the OpenSSH public key line "type base64 comment" in `path`.
inline Blob PubFileBlob(const std::string& path) {
    std::ifstream file(path);
    std::string type, base64;
    file >> type >> base64;
    Blob out(base64.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const uint8_t*>(base64.data()),
                                  static_cast<int>(base64.size()));
    out.resize(n < 0 ? 0 : n - std::count(base64.begin(), base64.end(), '='));
    return out;
}

// True when `signature` is a good `algorithm` signature over `data` by the
// key of the public blob.
inline bool Verifies(const Blob& public_blob, const std::string& algorithm, const Blob& signature,
                     const Blob& data) {
    std::string why;
    SshPublicKeyPtr key = sshkey_from_blob(public_blob.data(), public_blob.size(), &why);
    EXPECT_TRUE(key) << why;
    return key && sshkey_verify(key.get(), algorithm.c_str(), signature.data(), signature.size(),
                                data.data(), data.size(), nullptr) == 1;
}
