// A private key of the user for SSH-2 public-key login, of any type this
// client signs with: Ed25519 (RFC 8709), ECDSA on nistp256/384/521
// (RFC 5656), RSA with rsa-sha2-512/256 (RFC 8332) or ssh-rsa, and DSA.
//
// The key is held by libcrypto (EVP_PKEY); this class adds the SSH public
// key blob and the SSH signature encodings. Not shared between threads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "ssh/keys/blob.h"

enum class UserKeyType { kEd25519, kEcdsaP256, kEcdsaP384, kEcdsaP521, kRsa, kDsa };

struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

class UserKey {
  public:
    // Null when libcrypto's key is of a type or curve SSH has no name for.
    static std::unique_ptr<UserKey> FromPkey(EvpPkeyPtr key, std::string comment);

    UserKeyType Type() const { return type_; }
    // The key's name in blobs: "ssh-ed25519", "ecdsa-sha2-nistp256", ...,
    // "ssh-rsa", "ssh-dss".
    const char* TypeName() const;
    const Blob& PublicBlob() const { return blob_; }
    const std::string& Comment() const { return comment_; }
    EVP_PKEY* Pkey() const { return key_.get(); }

    // The SSH signature blob (string algorithm, string signature) over
    // `data` with `algorithm`, one of SignatureAlgorithms(TypeName(), ...).
    // `bare_dss` gives the bare 40-byte ssh-dss form old servers expect.
    // False for an algorithm that does not fit the key, or when libcrypto
    // fails.
    bool Sign(const std::string& algorithm, const uint8_t* data, std::size_t length, bool bare_dss,
              Blob* signature) const;

  private:
    UserKey(EvpPkeyPtr key, UserKeyType type, Blob blob, std::string comment)
        : key_(std::move(key)), type_(type), blob_(std::move(blob)), comment_(std::move(comment)) {}

    EvpPkeyPtr key_;
    UserKeyType type_;
    Blob blob_;
    std::string comment_;
};

// The key type named at the start of a public key blob, or "" when the blob
// is too short to name one.
std::string BlobKeyType(const Blob& blob);

// The signature algorithms to offer for a key of `key_type`, best first.
// `server_algorithms` is the server's server-sig-algs (RFC 8308); when the
// server sent none, `server_known` is false and RSA keys get rsa-sha2-512
// and then ssh-rsa, so that servers from either side of RFC 8332 take one.
std::vector<std::string> SignatureAlgorithms(const std::string& key_type,
                                             const std::vector<std::string>& server_algorithms,
                                             bool server_known);

// Splits a name-list (comma separated) into its names.
std::vector<std::string> SplitNameList(const std::string& list);

// The two INTEGERs of a DER "SEQUENCE { r, s }" signature (DSA and ECDSA) as
// big-endian magnitudes; false when `der` is not exactly that.
bool SplitDerSignature(const uint8_t* der, std::size_t length, Blob* r, Blob* s);
