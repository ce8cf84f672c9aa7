#include "ssh/auth/sshconnect1.h"

#include <cstring>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "ssh/keys/authfile_rsa1.h"
#include "ssh/keys/host_key.h"
#include "ssh/keys/key.h"
#include "ssh/keys/rsa.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/log.h"
#include "ssh/wire/random.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

// Where the integrity messages say they were raised.
constexpr char kSourceName[] = "sshconnect1.cpp";

struct RsaDeleter {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RsaPtr = std::unique_ptr<RSA, RsaDeleter>;

BignumPtr new_bignum() {
    BignumPtr number(BN_new());
    if (!number) fatal("BN_new failed");
    return number;
}

// Wipes a fixed block when a scope is left, also through fatal.
template <size_t N>
struct SecretBlock {
    unsigned char bytes[N] = {};
    SecretBlock() = default;
    SecretBlock(const SecretBlock&) = delete;
    SecretBlock& operator=(const SecretBlock&) = delete;
    ~SecretBlock() { OPENSSL_cleanse(bytes, N); }
};

// MD5 of the concatenated parts into digest[16].
void md5_parts(unsigned char digest[16], const unsigned char* first, size_t first_length,
               const unsigned char* second, size_t second_length) {
    unsigned int length = 0;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool ok = md != nullptr && EVP_DigestInit_ex(md, EVP_md5(), nullptr) == 1 &&
              EVP_DigestUpdate(md, first, first_length) == 1 &&
              EVP_DigestUpdate(md, second, second_length) == 1 &&
              EVP_DigestFinal_ex(md, digest, &length) == 1 && length == 16;
    EVP_MD_CTX_free(md);  // wipes the digest state
    if (!ok) fatal("MD5 failed");
}

// Reads one public key of SSH_SMSG_PUBLIC_KEY (announced bits, e, n) into a
// new RSA object; adds the bytes the two numbers took to *consumed.
RsaPtr read_public_key(PacketContext* context, int* consumed, const char* which) {
    int announced = static_cast<int>(packet_get_int(context));
    BignumPtr e = new_bignum();
    BignumPtr n = new_bignum();
    int bytes = 0;
    packet_get_bignum(context, e.get(), &bytes);
    *consumed += bytes;
    packet_get_bignum(context, n.get(), &bytes);
    *consumed += bytes;
    int actual = BN_num_bits(n.get());
    if (announced != actual) {
        log("Warning: Server lies about size of server %s: actual size is %d bits vs. announced "
            "%d.",
            which, actual, announced);
        log("Warning: This may be due to an old implementation of ssh.");
    }
    RsaPtr rsa(RSA_new());
    if (!rsa) fatal("RSA_new failed");
    if (RSA_set0_key(rsa.get(), n.get(), e.get(), nullptr) != 1) fatal("RSA_set0_key failed");
    n.release();
    e.release();
    return rsa;
}

const BIGNUM* modulus(RSA* rsa) {
    const BIGNUM* n = nullptr;
    RSA_get0_key(rsa, &n, nullptr, nullptr);
    return n;
}

// The requested SSH-1 cipher, falling back to 3DES the way the cipher
// options of the protocol-1 client always have.
int choose_cipher(PacketContext* context, uint32_t server_ciphers) {
    int number = context->cipher_type;
    if (number == -2) {
        number = SSH_CIPHER_3DES;
        log("No valid SSH1 cipher, using %.100s instead.", cipher_name(number));
    } else if (number == -1) {
        number = SSH_CIPHER_3DES;
        uint32_t bit = 1u << SSH_CIPHER_3DES;
        if ((cipher_mask1() & server_ciphers & bit) == 0)
            debug("Cipher %s not supported, using %.100s instead.", cipher_name(number),
                  cipher_name(number));
    }
    if (number < 0 || number >= 32 || (server_ciphers & (1u << number)) == 0)
        fatal("Selected cipher type %.100s not supported by server.", cipher_name(number));
    return number;
}

void send_and_wait(PacketContext* context) {
    packet_send(context);
    packet_write_wait(context);
}

}  // namespace

void ssh1_session_id(unsigned char id[16], const unsigned char cookie[8], const BIGNUM* host_n,
                     const BIGNUM* server_n) {
    size_t host_length = static_cast<size_t>(BN_num_bytes(host_n));
    size_t server_length = static_cast<size_t>(BN_num_bytes(server_n));
    size_t length = host_length + server_length;
    auto* bytes = static_cast<unsigned char*>(xmalloc(length + 1));
    BN_bn2bin(host_n, bytes);
    BN_bn2bin(server_n, bytes + host_length);
    try {
        md5_parts(id, bytes, length, cookie, 8);
    } catch (...) {
        OPENSSL_cleanse(bytes, length + 1);
        xfree(bytes);
        throw;
    }
    OPENSSL_cleanse(bytes, length + 1);
    xfree(bytes);
}

void ssh1_key_exchange(PacketContext* context) {
    debug("Waiting for server public key.");
    int payload_length = 0;
    packet_read_expect(context, &payload_length, SSH_SMSG_PUBLIC_KEY);

    unsigned char cookie[8];
    for (unsigned char& byte : cookie) byte = static_cast<unsigned char>(packet_get_char(context));

    int consumed = 0;
    RsaPtr server_key = read_public_key(context, &consumed, "public key");
    RsaPtr host_key = read_public_key(context, &consumed, "host key");

    packet_set_protocol_flags(context, packet_get_int(context));
    uint32_t server_ciphers = packet_get_int(context);
    context->supported_authentications = packet_get_int(context);

    const BIGNUM* server_n = modulus(server_key.get());
    const BIGNUM* host_n = modulus(host_key.get());
    int server_bits = BN_num_bits(server_n);
    int host_bits = BN_num_bits(host_n);
    debug("Received server public key (%d bits) and host key (%d bits).", server_bits, host_bits);

    int expected = 8 + 4 + 4 + 4 + 4 + 4 + consumed;
    if (payload_length != expected) {
        log("Packet integrity error (%d != %d) at %s:%d", payload_length, expected, kSourceName,
            __LINE__);
        fatal("Packet integrity error. (%d)", SSH_SMSG_PUBLIC_KEY);
    }

    const BIGNUM* host_e = nullptr;
    RSA_get0_key(host_key.get(), nullptr, &host_e, nullptr);
    host_key_check_rsa1(context, host_e, host_n);

    ssh1_session_id(context->session_id, cookie, host_n, server_n);

    SecretBlock<32> session_key;
    random_stir();
    for (int i = 0; i < 32; i += 4) {
        uint32_t word = random_word();
        for (int j = 0; j < 4; j++)
            session_key.bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }

    // The first half travels XORed with the session identifier, which binds
    // the key to this server's keys and cookie.
    BignumPtr key = new_bignum();
    {
        SecretBlock<32> mixed;
        for (int i = 0; i < 32; i++)
            mixed.bytes[i] =
                i < 16 ? session_key.bytes[i] ^ context->session_id[i] : session_key.bytes[i];
        if (BN_bin2bn(mixed.bytes, 32, key.get()) == nullptr) fatal("BN_bin2bn failed");
    }

    // The smaller key goes first so that its result fits under the larger.
    if (BN_cmp(server_n, host_n) < 0) {
        if (host_bits < server_bits + SSH_KEY_BITS_RESERVED)
            fatal(
                "respond_to_rsa_challenge: host_key %d < public_key %d + "
                "SSH_KEY_BITS_RESERVED %d",
                host_bits, server_bits, SSH_KEY_BITS_RESERVED);
        rsa_public_encrypt(key.get(), key.get(), server_key.get());
        rsa_public_encrypt(key.get(), key.get(), host_key.get());
    } else {
        if (server_bits < host_bits + SSH_KEY_BITS_RESERVED)
            fatal(
                "respond_to_rsa_challenge: public_key %d < host_key %d + "
                "SSH_KEY_BITS_RESERVED %d",
                server_bits, host_bits, SSH_KEY_BITS_RESERVED);
        rsa_public_encrypt(key.get(), key.get(), host_key.get());
        rsa_public_encrypt(key.get(), key.get(), server_key.get());
    }
    server_key.reset();
    host_key.reset();

    int cipher = choose_cipher(context, server_ciphers);
    debug("Encryption type: %.100s", cipher_name(cipher));

    packet_start(context, SSH_CMSG_SESSION_KEY);
    packet_put_char(context, cipher);
    for (unsigned char byte : cookie) packet_put_char(context, byte);
    packet_put_bignum(context, key.get());
    packet_put_int(context, kSsh1ClientProtocolFlags);
    send_and_wait(context);
    key.reset();
    debug("Sent encrypted session key.");

    packet_set_encryption_key(context, session_key.bytes, 32, cipher);
    OPENSSL_cleanse(session_key.bytes, sizeof session_key.bytes);

    packet_read_expect(context, nullptr, SSH_SMSG_SUCCESS);
    debug("Received encrypted confirmation.");
}

void ssh_userauth(PacketContext* context, const char* server_user, int method) {
    uint32_t supported = context->supported_authentications;
    if (supported == 0) fatal("ssh_userauth: server supports no auth methods");

    packet_start(context, SSH_CMSG_USER);
    packet_put_cstring(context, server_user != nullptr ? server_user : "");
    send_and_wait(context);

    int type = packet_read(context, nullptr);
    if (type == SSH_SMSG_SUCCESS) return;
    if (type != SSH_SMSG_FAILURE)
        fatal("Protocol error: got %d in response to SSH_CMSG_USER", type);

    if ((supported & (1u << SSH_AUTH_PASSWORD)) != 0 && method == kSsh1MethodPassword &&
        ssh1_try_password(context))
        return;
    if ((supported & (1u << SSH_AUTH_RSA)) != 0 && method == kSsh1MethodRsa &&
        ssh1_try_rsa(context, context->keyfile))
        return;
    fatal("Permission denied.");
}

bool ssh1_try_password(PacketContext* context) {
    debug("Doing password authentication.");
    packet_start(context, SSH_CMSG_AUTH_PASSWORD);
    packet_put_cstring(context, context->password != nullptr ? context->password : "");
    send_and_wait(context);

    int type = packet_read(context, nullptr);
    if (type == SSH_SMSG_SUCCESS) return true;
    if (type == SSH_SMSG_FAILURE) return false;
    fatal("Protocol error: got %d in response to passwd auth", type);
}

bool ssh1_try_rsa(PacketContext* context, const char* keyfile) {
    if (keyfile == nullptr) return false;
    XmallocPtr<char> comment;
    {
        KeyPtr public_key(key_new(KEY_RSA));
        char* text = nullptr;
        if (!load_rsa1_public_key(keyfile, public_key.get(), &text)) return false;
        comment.reset(text);
        debug("Trying RSA authentication with key '%.100s'", comment.get());

        packet_start(context, SSH_CMSG_AUTH_RSA);
        packet_put_bignum(context, modulus(public_key->rsa));
        send_and_wait(context);
    }

    int payload_length = 0;
    int type = packet_read(context, &payload_length);
    if (type == SSH_SMSG_FAILURE) {
        debug("Server refused our key.");
        return false;
    }
    if (type != SSH_SMSG_AUTH_RSA_CHALLENGE)
        fatal("Protocol error during RSA authentication: %d", type);

    BignumPtr challenge = new_bignum();
    int bytes = 0;
    packet_get_bignum(context, challenge.get(), &bytes);
    if (bytes != payload_length) {
        log("Packet integrity error (%d != %d) at %s:%d", bytes, payload_length, kSourceName,
            __LINE__);
        fatal("Packet integrity error. (%d)", type);
    }
    debug("Received RSA challenge from server.");

    KeyPtr private_key(key_new(KEY_RSA));
    if (!load_rsa1_private_key_file(keyfile, "", private_key.get(), nullptr))
        fatal("Unable to read private key. No password.");
    comment.reset();
    respond_to_rsa_challenge(context, challenge.get(), private_key->rsa);
    private_key.reset();
    challenge.reset();

    type = packet_read(context, nullptr);
    if (type == SSH_SMSG_SUCCESS) {
        debug("RSA authentication accepted by server.");
        return true;
    }
    if (type != SSH_SMSG_FAILURE) fatal("Protocol error waiting RSA auth response: %d", type);
    debug("RSA authentication refused.");
    return false;
}

void respond_to_rsa_challenge(PacketContext* context, BIGNUM* challenge, RSA* private_key) {
    rsa_private_decrypt(challenge, challenge, private_key);
    int length = BN_num_bytes(challenge);
    if (length < 1 || length > 32)
        fatal("respond_to_rsa_challenge: bad challenge length %d", length);

    SecretBlock<32> block;
    BN_bn2bin(challenge, block.bytes + 32 - length);
    SecretBlock<16> response;
    md5_parts(response.bytes, block.bytes, sizeof block.bytes, context->session_id, 16);

    debug("Sending response to host key RSA challenge.");
    packet_start(context, SSH_CMSG_AUTH_RSA_RESPONSE);
    for (unsigned char byte : response.bytes) packet_put_char(context, byte);
    send_and_wait(context);
}
