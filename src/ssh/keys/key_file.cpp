#include "ssh/keys/key_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "ssh/keys/openssh_key.h"

namespace {

constexpr int kPassphraseTries = 3;

struct PemPassword {
    const std::string* passphrase;  // null: report that one is needed
    bool asked = false;
};

int PemCallback(char* buffer, int size, int, void* user) {
    auto* state = static_cast<PemPassword*>(user);
    state->asked = true;
    if (state->passphrase == nullptr) return -1;
    const std::size_t n = state->passphrase->size();
    if (size < 0 || n > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, state->passphrase->data(), n);
    return static_cast<int>(n);
}

KeyFileStatus ParsePem(const std::string& text, const std::string* passphrase,
                       std::unique_ptr<UserKey>* key) {
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    if (bio == nullptr) return KeyFileStatus::kBadFormat;
    PemPassword state{passphrase};
    EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, PemCallback, &state);
    BIO_free(bio);
    ERR_clear_error();
    if (pkey == nullptr) {
        if (!state.asked) return KeyFileStatus::kBadFormat;
        return passphrase == nullptr ? KeyFileStatus::kNeedPassphrase
                                     : KeyFileStatus::kBadPassphrase;
    }
    *key = UserKey::FromPkey(EvpPkeyPtr(pkey), "");
    return *key ? KeyFileStatus::kOk : KeyFileStatus::kUnsupported;
}

KeyFileStatus Parse(const std::string& text, const std::string* passphrase,
                    std::unique_ptr<UserKey>* key) {
    if (IsOpensshKeyText(text)) return ParseOpensshKeyText(text, passphrase, key);
    return ParsePem(text, passphrase, key);
}

const char* Reason(KeyFileStatus status) {
    switch (status) {
        case KeyFileStatus::kUnsupported:
            return "key type or encryption not supported";
        case KeyFileStatus::kBadPassphrase:
            return "incorrect passphrase";
        case KeyFileStatus::kNeedPassphrase:
            return "the key is encrypted";
        default:
            return "not a private key file";
    }
}

}  // namespace

LoadKeyResult LoadUserKeyFile(const std::string& path, const PassphraseAsk& ask,
                              std::unique_ptr<UserKey>* key, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (errno == ENOENT) return LoadKeyResult::kMissing;
        *error = std::strerror(errno);
        return LoadKeyResult::kFailed;
    }
    std::string text;
    char block[4096];
    std::size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0 && text.size() <= kMaxKeyFileSize)
        text.append(block, n);
    const bool read_error = std::ferror(file) != 0;
    std::fclose(file);
    OPENSSL_cleanse(block, sizeof block);
    if (read_error || text.size() > kMaxKeyFileSize) {
        WipeString(&text);
        *error = read_error ? "read error" : "file too large";
        return LoadKeyResult::kFailed;
    }
    const LoadKeyResult result = LoadUserKeyText(text, path, ask, key, error);
    WipeString(&text);
    return result;
}

LoadKeyResult LoadUserKeyText(const std::string& text, const std::string& name,
                              const PassphraseAsk& ask, std::unique_ptr<UserKey>* key,
                              std::string* error) {
    KeyFileStatus status = Parse(text, nullptr, key);
    for (int attempt = 0; status == KeyFileStatus::kNeedPassphrase ||
                          (status == KeyFileStatus::kBadPassphrase && attempt > 0);
         ++attempt) {
        if (!ask || attempt == kPassphraseTries) break;
        std::string passphrase;
        const std::string prompt =
            (status == KeyFileStatus::kBadPassphrase ? "Bad passphrase. " : "") +
            std::string("Enter passphrase for key '") + name + "': ";
        if (!ask(prompt, &passphrase)) {
            WipeString(&passphrase);
            return LoadKeyResult::kCancelled;
        }
        status = Parse(text, &passphrase, key);
        WipeString(&passphrase);
    }
    if (status == KeyFileStatus::kOk) return LoadKeyResult::kOk;
    *error = Reason(status);
    return LoadKeyResult::kFailed;
}
