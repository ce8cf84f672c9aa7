#include "ssh/keys/authfile.h"

#include "ssh/keys/authfile_rsa1.h"

#include <fcntl.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

}  // namespace

bool load_dsa_private_key(FILE* file, const char* passphrase, Key* key, char** comment_out) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_file()));
    if (!bio) {
        error("BIO_new failed");
        return false;
    }
    BIO_set_fp(bio.get(), file, BIO_NOCLOSE);
    // A non-null passphrase as the callback data keeps libcrypto from ever
    // asking for one on the terminal: a protected key simply fails to decrypt.
    DSA* dsa = PEM_read_bio_DSAPrivateKey(
        bio.get(), nullptr, nullptr, const_cast<char*>(passphrase != nullptr ? passphrase : ""));
    if (dsa == nullptr) {
        debug("PEM_read_bio_DSAPrivateKey failed");
        ERR_clear_error();
    } else {
        if (key->dsa != nullptr) DSA_free(key->dsa);
        key->dsa = dsa;
    }
    if (comment_out != nullptr) *comment_out = xstrdup("dsa w/o comment");
    debug("read DSA private key done");
    return dsa != nullptr;
}

bool load_private_key_file(const char* file_name, const char* passphrase, Key* key,
                           char** comment_out) {
    int fd = open(file_name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    switch (key->type) {
        case KEY_DSA: {
            std::unique_ptr<FILE, FileClose> file(fdopen(fd, "r"));
            if (!file) {
                error("fdopen failed");
                close(fd);
                return false;
            }
            return load_dsa_private_key(file.get(), passphrase, key, comment_out);
        }
        case KEY_RSA:
            // The protocol-1 key file format has a reader of its own.
            close(fd);
            return load_rsa1_private_key_file(file_name, passphrase, key, comment_out);
        default:
            close(fd);
            return false;
    }
}
