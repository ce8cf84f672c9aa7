// The OpenSSH private key format on arbitrary bytes: as the binary inside
// the armour, and as a whole file's text. A passphrase is offered so that
// the encrypted path (with its round count capped) is reached too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ssh/keys/openssh_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const Blob binary(data, data + size);
    const std::string passphrase = "fuzz";
    std::unique_ptr<UserKey> key;
    (void)ParseOpensshKeyBinary(binary, nullptr, &key);
    // Encrypted bodies cost bcrypt rounds; only small inputs try them.
    if (size < 512) (void)ParseOpensshKeyBinary(binary, &passphrase, &key);
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)ParseOpensshKeyText(text, nullptr, &key);
    return 0;
}
