// The OpenSSH private key format on arbitrary bytes: as the binary inside
// the armour, and as a whole file's text. A passphrase is offered so that
// the encrypted path is reached too, for inputs asking for few KDF rounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ssh/keys/openssh_key.h"

namespace {

// The KDF rounds the input asks for; 0 when it names none. Every round
// costs real time, so only cheap inputs are decrypted.
uint32_t Rounds(const Blob& binary) {
    BlobReader r(binary);
    const uint8_t* magic = nullptr;
    std::string cipher, kdf;
    Blob options;
    if (!r.GetRaw(15, &magic) || !r.GetString(&cipher) || !r.GetString(&kdf) ||
        !r.GetString(&options))
        return 0;
    BlobReader o(options);
    const uint8_t* salt = nullptr;
    uint32_t salt_length = 0;
    uint32_t rounds = 0;
    if (!o.GetString(&salt, &salt_length) || !o.GetU32(&rounds)) return 0;
    return rounds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const Blob binary(data, data + size);
    const std::string passphrase = "fuzz";
    std::unique_ptr<UserKey> key;
    (void)ParseOpensshKeyBinary(binary, nullptr, &key);
    if (Rounds(binary) <= 2) (void)ParseOpensshKeyBinary(binary, &passphrase, &key);
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)ParseOpensshKeyText(text, nullptr, &key);
    return 0;
}
