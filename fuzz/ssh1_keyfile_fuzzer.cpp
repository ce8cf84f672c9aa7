// Feeds arbitrary bytes as a protocol-1 private key file to both readers (the
// public head and the whole key). They must give false or a key, never read
// past the bytes, crash or leak; the only fatal allowed is the keying's
// refusal of cipher number 1.
//
// Byte 0 picks the passphrase (empty, or a fixed one); the rest is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/exception.h"
#include "ssh/keys/authfile_rsa1.h"
#include "ssh/keys/key.h"
#include "ssh/wire/xmalloc.h"

namespace {

struct RsaFree {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};

// A descriptor of an in-memory file holding `bytes`, positioned at 0.
int MemoryFile(const uint8_t* bytes, size_t size) {
    int fd = memfd_create("ssh1-key", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, bytes + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* passphrase = (data[0] & 1) ? "fuzz passphrase" : "";
    try {
        int fd = MemoryFile(data + 1, size - 1);
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        KeyPtr key(key_new(KEY_RSA));
        char* comment = nullptr;
        if (load_rsa1_public_key(path, key.get(), &comment)) xfree(comment);
        key.reset();

        // Released also when the reader raises (cipher number 1).
        std::unique_ptr<RSA, RsaFree> rsa(RSA_new());
        comment = nullptr;
        if (load_rsa1_private_key(fd, "fuzz", passphrase, rsa.get(), &comment)) {
            xfree(comment);
            // A key that was accepted must be whole.
            if (RSA_get0_d(rsa.get()) == nullptr || RSA_get0_p(rsa.get()) == nullptr ||
                RSA_get0_iqmp(rsa.get()) == nullptr)
                std::abort();
        }
    } catch (const TException&) {
    }
    return 0;
}
