#include "ssh/keys/authfile_rsa1.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "ssh/transport/cipher.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/buffer.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

BignumPtr new_bignum() {
    BignumPtr number(BN_new());
    if (!number) fatal("BN_new failed");
    return number;
}

// Closes the descriptor when a scope is left.
struct ScopedFd {
    int fd;
    ~ScopedFd() {
        if (fd >= 0) close(fd);
    }
};

// A comment text handed out only when the whole read succeeds.
struct ScopedText {
    char* text = nullptr;
    ScopedText() = default;
    ScopedText(const ScopedText&) = delete;
    ScopedText& operator=(const ScopedText&) = delete;
    ~ScopedText() {
        if (text != nullptr) xfree(text);
    }
    char* release() {
        char* released = text;
        text = nullptr;
        return released;
    }
};

struct RsaFree {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};

// --- Bounds-checked reads: false instead of the buffer's fatal underflow ---

bool take_bytes(Buffer* buffer, void* out, uint32_t n) {
    if (buffer_len(buffer) < n) return false;
    buffer_get(buffer, out, n);
    return true;
}

bool take_int(Buffer* buffer, uint32_t* value) {
    if (buffer_len(buffer) < 4) return false;
    *value = buffer_get_int(buffer);
    return true;
}

bool take_bignum(Buffer* buffer, BIGNUM* number) {
    if (buffer_len(buffer) < 2) return false;
    const unsigned char* p = buffer_ptr(buffer);
    uint32_t bits = (uint32_t{p[0]} << 8) | p[1];
    if (buffer_len(buffer) - 2 < (bits + 7) / 8) return false;
    buffer_get_bignum(buffer, number);
    return true;
}

bool take_string(Buffer* buffer, char** text) {
    if (buffer_len(buffer) < 4) return false;
    uint32_t n = get_u32(buffer_ptr(buffer));
    if (n > kMaxStringLength || buffer_len(buffer) - 4 < n) return false;
    *text = static_cast<char*>(buffer_get_string(buffer, nullptr));
    return true;
}

// Reads the whole file into `buffer` and closes it.
bool read_key_file(int fd, const char* name, Buffer* buffer) {
    ScopedFd closer{fd};
    off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || lseek(fd, 0, SEEK_SET) < 0) {
        debug("Read from key file %.200s failed: %.100s", name, std::strerror(errno));
        return false;
    }
    if (size > kMaxKeyFileSize) {
        debug("Bad key file %.200s.", name);
        return false;
    }
    uint32_t total = static_cast<uint32_t>(size);
    unsigned char* place = buffer_append_space(buffer, total);
    uint32_t got = 0;
    while (got < total) {
        ssize_t n = read(fd, place + got, total - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A file that shrank under us reports no system error.
            debug("Read from key file %.200s failed: %.100s", name,
                  n < 0 ? std::strerror(errno) : "unexpected end of file");
            return false;
        }
        got += static_cast<uint32_t>(n);
    }
    return true;
}

// The unencrypted head: identification, cipher number, reserved word, bits
// word, n, e and the comment. Leaves the buffer at the private part.
bool read_head(Buffer* buffer, const char* name, int* cipher, BIGNUM* n, BIGNUM* e,
               ScopedText* comment) {
    if (buffer_len(buffer) < kRsa1FileIdentificationLength ||
        std::memcmp(buffer_ptr(buffer), kRsa1FileIdentification, kRsa1FileIdentificationLength) !=
            0) {
        debug("Bad key file %.200s.", name);
        return false;
    }
    buffer_consume(buffer, kRsa1FileIdentificationLength);
    unsigned char number;
    uint32_t reserved, bits;
    if (!take_bytes(buffer, &number, 1) || !take_int(buffer, &reserved) ||
        !take_int(buffer, &bits) || !take_bignum(buffer, n) || !take_bignum(buffer, e) ||
        !take_string(buffer, &comment->text)) {
        debug("Bad key file %.200s.", name);
        return false;
    }
    *cipher = number;
    return true;
}

const char* key_file_cipher_name(int number) {
    return number >= SSH_CIPHER_NONE && number <= SSH_CIPHER_CAST128_CBC ? cipher_name(number)
                                                                         : "unknown";
}

// p and q must be the factors of n, else the private operations would work
// on numbers that do not belong together.
bool factors_match(const BIGNUM* n, const BIGNUM* p, const BIGNUM* q, BN_CTX* context) {
    if (BN_cmp(p, BN_value_one()) <= 0 || BN_cmp(q, BN_value_one()) <= 0) return false;
    BignumPtr product = new_bignum();
    return BN_mul(product.get(), p, q, context) == 1 && BN_cmp(product.get(), n) == 0;
}

// result := d mod (prime - 1).
bool crt_exponent(BIGNUM* result, const BIGNUM* d, const BIGNUM* prime, BN_CTX* context) {
    BignumPtr less = new_bignum();
    return BN_sub(less.get(), prime, BN_value_one()) == 1 &&
           BN_mod(result, d, less.get(), context) == 1;
}

}  // namespace

bool load_rsa1_public_key(const char* name, Key* key, char** comment) {
    if (name == nullptr || key == nullptr || key->type != KEY_RSA || key->rsa == nullptr)
        return false;
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ScopedBuffer file;
    if (!read_key_file(fd, name, file.get())) return false;

    BignumPtr n = new_bignum();
    BignumPtr e = new_bignum();
    ScopedText text;
    int cipher;
    if (!read_head(file.get(), name, &cipher, n.get(), e.get(), &text)) return false;
    if (RSA_set0_key(key->rsa, n.get(), e.get(), nullptr) != 1) return false;
    n.release();
    e.release();
    if (comment != nullptr) *comment = text.release();
    return true;
}

bool load_rsa1_private_key(int fd, const char* name, const char* passphrase, RSA* rsa,
                           char** comment) {
    ScopedBuffer file;
    if (!read_key_file(fd, name, file.get())) return false;

    BignumPtr n = new_bignum();
    BignumPtr e = new_bignum();
    ScopedText text;
    int cipher;
    if (!read_head(file.get(), name, &cipher, n.get(), e.get(), &text)) return false;

    // Number 1 (IDEA) is let through as the format always has; keying then
    // refuses it with its own fatal message.
    if (cipher != SSH_CIPHER_NONE && cipher != SSH_CIPHER_IDEA &&
        (cipher >= 32 || (cipher_mask1() & (1u << cipher)) == 0)) {
        debug("Unsupported cipher %.100s used in key file %.200s.", key_file_cipher_name(cipher),
              name);
        return false;
    }
    // Block ciphers need whole blocks; a cut-off file has none.
    uint32_t rest = buffer_len(file.get());
    if (rest % 8 != 0) {
        debug("Bad key file %.200s.", name);
        return false;
    }

    ScopedBuffer decrypted;
    {
        CipherContext context{};
        cipher_set_key_string(&context, cipher, passphrase);
        unsigned char* place = buffer_append_space(decrypted.get(), rest);
        cipher_decrypt(&context, place, buffer_ptr(file.get()), rest);
        cipher_cleanup(&context);
    }
    buffer_free(file.get());

    unsigned char check[4];
    if (!take_bytes(decrypted.get(), check, 4) || check[0] != check[2] || check[1] != check[3]) {
        if (passphrase[0] != '\0') debug("Bad passphrase supplied for key file %.200s.", name);
        return false;
    }

    // The file keeps the primes in the other order than the library names
    // them: u is the inverse of the library's q modulo its p.
    BignumPtr d = new_bignum();
    BignumPtr u = new_bignum();
    BignumPtr q = new_bignum();
    BignumPtr p = new_bignum();
    if (!take_bignum(decrypted.get(), d.get()) || !take_bignum(decrypted.get(), u.get()) ||
        !take_bignum(decrypted.get(), q.get()) || !take_bignum(decrypted.get(), p.get())) {
        debug("Bad key file %.200s.", name);
        return false;
    }

    BignumPtr dmp1 = new_bignum();
    BignumPtr dmq1 = new_bignum();
    BN_CTX* context = BN_CTX_new();
    if (context == nullptr) fatal("BN_CTX_new failed");
    bool ok = !BN_is_zero(d.get()) && factors_match(n.get(), p.get(), q.get(), context) &&
              crt_exponent(dmq1.get(), d.get(), q.get(), context) &&
              crt_exponent(dmp1.get(), d.get(), p.get(), context);
    BN_CTX_free(context);
    if (!ok) {
        debug("Bad key file %.200s.", name);
        return false;
    }

    // Each set0 call takes its numbers over only when it succeeds; none can
    // fail here, as every number passed is present.
    if (RSA_set0_key(rsa, n.get(), e.get(), d.get()) != 1) return false;
    n.release();
    e.release();
    d.release();
    if (RSA_set0_factors(rsa, p.get(), q.get()) != 1) return false;
    p.release();
    q.release();
    if (RSA_set0_crt_params(rsa, dmp1.get(), dmq1.get(), u.get()) != 1) return false;
    dmp1.release();
    dmq1.release();
    u.release();
    if (comment != nullptr) *comment = text.release();
    return true;
}

bool load_rsa1_private_key_file(const char* name, const char* passphrase, Key* key,
                                char** comment) {
    if (name == nullptr || key == nullptr || key->type != KEY_RSA) return false;
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A fresh object, so that a failed read leaves the key as it was.
    std::unique_ptr<RSA, RsaFree> rsa(RSA_new());
    if (!rsa) {
        close(fd);
        fatal("RSA_new failed");
    }
    if (!load_rsa1_private_key(fd, name, passphrase != nullptr ? passphrase : "", rsa.get(),
                               comment))
        return false;
    RSA_free(key->rsa);
    key->rsa = rsa.release();
    return true;
}
