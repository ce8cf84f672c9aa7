// Shared by the key tests: hex, verifying SSH signatures with libcrypto
// alone, and the key files ssh-keygen made for the tests.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <sstream>
#include <string>

#include "../hostkeys/hostkeys_test_support.h"
#include "ssh/keys/blob.h"
#include "ssh/keys/user_key.h"

inline Blob HexBlob(const std::string& hex) {
    Blob out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Blob ToBlob(const std::string& text) {
    return Blob(text.begin(), text.end());
}

// Checks an SSH signature blob over `data` with libcrypto's verifier on
// `key` (its public half). The SSH encodings are taken apart here, by hand.
inline bool VerifySshSignature(EVP_PKEY* key, const Blob& signature, const Blob& data,
                               std::string* algorithm_out = nullptr) {
    BlobReader r(signature);
    std::string algorithm;
    Blob raw;
    if (!r.GetString(&algorithm) || !r.GetString(&raw) || !r.AtEnd()) return false;
    if (algorithm_out != nullptr) *algorithm_out = algorithm;
    const char* digest = nullptr;
    Blob der;
    if (algorithm == "ssh-ed25519") {
        der = raw;
    } else if (algorithm.rfind("rsa-sha2-", 0) == 0 || algorithm == "ssh-rsa") {
        digest = algorithm == "rsa-sha2-512"   ? "SHA512"
                 : algorithm == "rsa-sha2-256" ? "SHA256"
                                               : "SHA1";
        der = raw;
    } else {
        Blob rb, sb;
        if (algorithm == "ssh-dss") {
            if (raw.size() != 40) return false;
            rb.assign(raw.begin(), raw.begin() + 20);
            sb.assign(raw.begin() + 20, raw.end());
            digest = "SHA1";
        } else {
            BlobReader inner(raw);
            if (!inner.GetString(&rb) || !inner.GetString(&sb) || !inner.AtEnd()) return false;
            digest = algorithm == "ecdsa-sha2-nistp256"   ? "SHA256"
                     : algorithm == "ecdsa-sha2-nistp384" ? "SHA384"
                                                          : "SHA512";
        }
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(rb.data(), static_cast<int>(rb.size()), nullptr),
                       BN_bin2bn(sb.data(), static_cast<int>(sb.size()), nullptr));
        unsigned char* out = nullptr;
        const int n = i2d_ECDSA_SIG(sig, &out);
        ECDSA_SIG_free(sig);
        if (n <= 0) return false;
        der.assign(out, out + n);
        OPENSSL_free(out);
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok =
        EVP_DigestVerifyInit_ex(ctx, nullptr, digest, nullptr, nullptr, key, nullptr) == 1 &&
        EVP_DigestVerify(ctx, der.data(), der.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

// The blob of an OpenSSH public key line "type base64 comment".
inline Blob PubFileBlob(const std::string& path) {
    std::istringstream line(hostkeys_test::ReadFile(path));
    std::string type, base64;
    line >> type >> base64;
    const std::vector<unsigned char> bytes = hostkeys_test::Base64Decode(base64);
    return Blob(bytes.begin(), bytes.end());
}

// A folder removed with its files at the end of the test.
using TempFolder = hostkeys_test::TempDir;

// A key file ssh-keygen made once for tests/data/userauth/keys (with
// "passphrase" when its name says "pass"); its public key is beside it.
inline std::string KeyPath(const std::string& name) {
    return std::string(QUENLOR_TEST_DATA) + "/userauth/keys/" + name;
}
