// The one entry point through which the SSH-2 login reads a private key file
// of the user, whatever its format: OpenSSH's own, PEM ("BEGIN RSA / EC /
// DSA PRIVATE KEY", encrypted or not) and PKCS #8 ("BEGIN PRIVATE KEY",
// "BEGIN ENCRYPTED PRIVATE KEY"). Checks that concern every key file belong
// here, before the file is parsed.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ssh/keys/user_key.h"

// Asks for a passphrase with the given prompt; false when the user cancels.
using PassphraseAsk = std::function<bool(const std::string& prompt, std::string* passphrase)>;

enum class LoadKeyResult {
    kOk,
    kMissing,    // no such file
    kCancelled,  // the user gave up at the passphrase prompt
    kFailed,     // unreadable, malformed, unsupported, or three wrong passphrases
};

// Larger files are no key files.
constexpr std::size_t kMaxKeyFileSize = 1 << 20;

// Reads the key in `path`. An encrypted key gets up to three passphrases
// from `ask` (which may be empty: encrypted keys then fail). `error` gets a
// one-line reason for kFailed.
LoadKeyResult LoadUserKeyFile(const std::string& path, const PassphraseAsk& ask,
                              std::unique_ptr<UserKey>* key, std::string* error);

// The same on a file's text, for keys that are not in a file.
LoadKeyResult LoadUserKeyText(const std::string& text, const std::string& name,
                              const PassphraseAsk& ask, std::unique_ptr<UserKey>* key,
                              std::string* error);
