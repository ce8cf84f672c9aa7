#include "ssh/auth/sshconnect2.h"

#include <sys/stat.h>

#include <cstring>

#include <openssl/crypto.h>

#include "ssh/keys/authfile.h"
#include "ssh/keys/dsa.h"
#include "ssh/keys/key.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

void integrity_check(PacketContext* context, int line) {
    int remaining = packet_remaining(context);
    if (remaining > 0) {
        log("Packet integrity error (%d bytes remaining) at %s:%d", remaining, __FILE__, line);
        fatal("Packet integrity error.");
    }
}

struct WipedBlock {
    unsigned char* bytes = nullptr;
    uint32_t length = 0;
    ~WipedBlock() {
        if (bytes != nullptr) {
            OPENSSL_cleanse(bytes, length);
            xfree(bytes);
        }
    }
};

}  // namespace

uint32_t ssh2_pubkey_signed_data(Buffer* b, const unsigned char* session_id,
                                 uint32_t session_id_length, int datafellows, const char* user,
                                 const char* service, const unsigned char* blob,
                                 uint32_t blob_length) {
    const uint32_t start = buffer_len(b);
    // RFC 4252 signs the session identifier as a string. Only the old
    // servers of the compatibility table that lack SSH_BUG_SESSIONSTR (2.0.x
    // and 2.1.0, recognisable by SSH_BUG_HMACKEY) expect the bare bytes.
    const bool bare = (datafellows & SSH_BUG_HMACKEY) && !(datafellows & SSH_BUG_SESSIONSTR);
    if (!bare) {
        buffer_put_string(b, session_id, session_id_length);
    } else {
        buffer_append(b, session_id, session_id_length);
    }
    const uint32_t skip = buffer_len(b) - start;
    buffer_put_char(b, SSH2_MSG_USERAUTH_REQUEST);
    buffer_put_cstring(b, user);
    buffer_put_cstring(b, service);
    buffer_put_cstring(b, "publickey");
    buffer_put_char(b, 1);
    buffer_put_cstring(b, "ssh-dss");
    buffer_put_string(b, blob, blob_length);
    return skip;
}

int ssh2_try_password(PacketContext* context, const char* user, const char* service) {
    packet_start(context, SSH2_MSG_USERAUTH_REQUEST);
    packet_put_cstring(context, user);
    packet_put_cstring(context, service);
    packet_put_cstring(context, "password");
    packet_put_char(context, 0);
    packet_put_cstring(context, context->password != nullptr ? context->password : "");
    packet_send(context);
    packet_write_wait(context);
    return 1;
}

int ssh2_try_pubkey(PacketContext* context, const char* key_file, const char* user,
                    const char* service) {
    struct stat st;
    if (key_file == nullptr || stat(key_file, &st) != 0) {
        debug("key does not exist: %s", key_file != nullptr ? key_file : "");
        return 0;
    }
    debug("try pubkey: %s", key_file);
    KeyPtr key(key_new(KEY_DSA));
    if (!load_private_key_file(key_file, "", key.get(), nullptr))
        fatal("Unable to load private key");
    WipedBlock blob;
    if (dsa_key_to_blob(key.get(), &blob.bytes, &blob.length) == 0)
        fatal("Unable to load private key");

    const unsigned char* session_id = context->session_id2;
    const uint32_t session_id_length = context->session_id2_len;
    if (session_id == nullptr) fatal("ssh2_try_pubkey: internal error");
    const int datafellows = context->datafellows;
    // Old servers check a signature over "ssh-userauth" while the request
    // itself names the real service.
    const char* signed_service = (datafellows & SSH_BUG_PKSERVICE) ? "ssh-userauth" : service;

    ScopedBuffer b;
    uint32_t skip = ssh2_pubkey_signed_data(b.get(), session_id, session_id_length, datafellows,
                                            user, signed_service, blob.bytes, blob.length);
    WipedBlock signature;
    if (dsa_sign(key.get(), &signature.bytes, &signature.length, buffer_ptr(b.get()),
                 buffer_len(b.get()), datafellows) != 0)
        fatal("Unable to sign with private key");
    key.reset();
    if (signed_service != service) {
        buffer_clear(b.get());
        skip = ssh2_pubkey_signed_data(b.get(), session_id, session_id_length, datafellows, user,
                                       service, blob.bytes, blob.length);
    }
    buffer_put_string(b.get(), signature.bytes, signature.length);
    if (buffer_len(b.get()) < skip + 1) fatal("ssh2_try_pubkey: internal error");
    // The request carries everything after the session id and message number.
    buffer_consume(b.get(), skip + 1);

    packet_start(context, SSH2_MSG_USERAUTH_REQUEST);
    packet_put_raw(context, buffer_ptr(b.get()), buffer_len(b.get()));
    packet_send(context);
    packet_write_wait(context);
    return 1;
}

void ssh2_userauth(PacketContext* context, const char* user, int method) {
    debug("send SSH2_MSG_SERVICE_REQUEST");
    packet_start(context, SSH2_MSG_SERVICE_REQUEST);
    packet_put_cstring(context, "ssh-userauth");
    packet_send(context);
    packet_write_wait(context);

    int type = packet_read(context, nullptr);
    if (type != SSH2_MSG_SERVICE_ACCEPT) fatal("denied SSH2_MSG_SERVICE_ACCEPT: %d", type);
    if (packet_remaining(context) > 0) {
        XmallocPtr<char> service(static_cast<char*>(packet_get_string(context, nullptr)));
        debug("service_accept: %s", service.get());
    } else {
        debug("buggy server: service_accept w/o service");
    }
    integrity_check(context, __LINE__);
    debug("got SSH2_MSG_SERVICE_ACCEPT");

    if (method == SSH2_AUTH_PASSWORD) {
        ssh2_try_password(context, user, "ssh-connection");
    } else if (ssh2_try_pubkey(context, context->keyfile, user, "ssh-connection") == 0) {
        // Nothing was sent, so no answer will come: end here instead of
        // waiting for ever.
        fatal("key does not exist: %s", context->keyfile != nullptr ? context->keyfile : "");
    }

    // A server may show a banner before it answers (RFC 4252 section 5.4);
    // many do, with a legal notice. It goes to the log and the answer is
    // still awaited.
    while ((type = packet_read(context, nullptr)) == SSH2_MSG_USERAUTH_BANNER) {
        uint32_t length = 0;
        XmallocPtr<char> message(static_cast<char*>(packet_get_string(context, &length)));
        XmallocPtr<char> language(static_cast<char*>(packet_get_string(context, nullptr)));
        log("%s", log_sanitize(message.get(), length).c_str());
    }
    if (type != SSH2_MSG_USERAUTH_SUCCESS) fatal("access denied: %d", type);
    integrity_check(context, __LINE__);
    debug("ssh-userauth2 successfull");
}
