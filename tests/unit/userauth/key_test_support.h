// Shared by the key tests: hex, verifying SSH signatures with libcrypto
// alone, and key files made by ssh-keygen in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <unistd.h>

#include <cstdlib>
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

// Runs ssh-keygen to make `file` (and file.pub); false when it fails. Keys
// of one type and size are generated once per folder and then copied and
// rewritten in the format and with the passphrase asked for, which is much
// faster than generating each.
inline bool MakeKey(const std::string& file, const std::string& type, int bits,
                    const std::string& format, const std::string& passphrase) {
    const std::string folder = file.substr(0, file.rfind('/'));
    const std::string base = folder + "/base-" + type + std::to_string(bits);
    if (access(base.c_str(), R_OK) != 0) {
        std::string command = "ssh-keygen -q -t " + type + " -N '' -C test -f '" + base + "'";
        if (bits > 0) command += " -b " + std::to_string(bits);
        command += " </dev/null >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return false;
    }
    std::string command = "cp '" + base + "' '" + file + "' && cp '" + base + ".pub' '" + file +
                          ".pub' && ssh-keygen -q -p -P '' -N '" + passphrase + "' -f '" + file +
                          "'";
    if (!format.empty()) command += " -m " + format;
    command += " </dev/null >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}
