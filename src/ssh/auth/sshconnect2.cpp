#include "ssh/auth/sshconnect2.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <openssl/crypto.h>

#include "ssh/auth/ext_info.h"
#include "ssh/auth/kbdint.h"
#include "ssh/keys/agent_client.h"
#include "ssh/keys/key_file.h"
#include "ssh/keys/user_key.h"

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
    // RFC 8308: the extensions asked for with ext-info-c may come first.
    while (type == SSH2_MSG_EXT_INFO) type = packet_read(context, nullptr);
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

// ---------------------------------------------------------------------------
// The login with every method

Blob ssh2_pubkey_signed_bytes(const unsigned char* session_id, uint32_t session_id_length,
                              int datafellows, const std::string& user, const std::string& service,
                              const std::string& algorithm, const Blob& blob) {
    BlobWriter w;
    const bool bare = (datafellows & SSH_BUG_HMACKEY) && !(datafellows & SSH_BUG_SESSIONSTR);
    if (bare) {
        w.PutRaw(session_id, session_id_length);
    } else {
        w.PutString(session_id, session_id_length);
    }
    w.PutByte(SSH2_MSG_USERAUTH_REQUEST);
    w.PutString(user);
    w.PutString(service);
    w.PutString("publickey");
    w.PutByte(1);
    w.PutString(algorithm);
    w.PutString(blob);
    return w.Take();
}

namespace {

// Message numbers of the later RFCs; 60 means what the method asked for.
constexpr int kMsgExtInfo = 7;
constexpr int kMsgPasswdChangeReq = 60;
constexpr int kMsgInfoRequest = 60;
constexpr int kMsgInfoResponse = 61;

constexpr const char* kService = "ssh-connection";

enum class Outcome { kSuccess, kRefused, kDone };

class Authenticator {
  public:
    Authenticator(PacketContext* context, Ssh2AuthOptions* options)
        : context_(context), options_(options) {}

    void Run() {
        RequestService();
        packet_start(context_, SSH2_MSG_USERAUTH_REQUEST);
        packet_put_cstring(context_, options_->user.c_str());
        packet_put_cstring(context_, kService);
        packet_put_cstring(context_, "none");
        Send();
        const int type = AwaitReply();
        if (type == SSH2_MSG_USERAUTH_SUCCESS) return;
        if (type != SSH2_MSG_USERAUTH_FAILURE) fatal("access denied: %d", type);
        ReadFailure();
        // A partial success (another factor wanted) starts the order again
        // with what the server now lists.
        for (int pass = 0; pass < 3; ++pass) {
            partial_ = false;
            if (Allowed("publickey") && TryKeyFile() == Outcome::kSuccess) return;
            if (Allowed("publickey") && TryAgent() == Outcome::kSuccess) return;
            if (Allowed("keyboard-interactive") && TryKeyboardInteractive() == Outcome::kSuccess)
                return;
            if (Allowed("password") && TryPassword() == Outcome::kSuccess) return;
            if (!partial_) break;
        }
        fatal("access denied: %d", last_type_);
    }

  private:
    void Send() {
        packet_send(context_);
        packet_write_wait(context_);
    }

    Blob Payload() {
        int length = 0;
        const unsigned char* raw = packet_get_raw(context_, &length);
        return Blob(raw, raw + (length > 0 ? length : 0));
    }

    void RequestService() {
        debug("send SSH2_MSG_SERVICE_REQUEST");
        packet_start(context_, SSH2_MSG_SERVICE_REQUEST);
        packet_put_cstring(context_, "ssh-userauth");
        Send();
        int type;
        while ((type = packet_read(context_, nullptr)) == kMsgExtInfo) TakeExtInfo();
        if (type != SSH2_MSG_SERVICE_ACCEPT) fatal("denied SSH2_MSG_SERVICE_ACCEPT: %d", type);
        if (packet_remaining(context_) > 0) {
            XmallocPtr<char> service(static_cast<char*>(packet_get_string(context_, nullptr)));
            debug("service_accept: %s", service.get());
        } else {
            debug("buggy server: service_accept w/o service");
        }
        integrity_check(context_, __LINE__);
        debug("got SSH2_MSG_SERVICE_ACCEPT");
    }

    void TakeExtInfo() {
        const Blob payload = Payload();
        if (!ParseExtInfo(payload.data(), payload.size(), &ext_info_))
            debug("malformed SSH2_MSG_EXT_INFO ignored");
        if (ext_info_.has_server_sig_algs)
            debug("server-sig-algs: %zu names", ext_info_.server_sig_algs.size());
    }

    // The next answer of the server, past banners and extension messages.
    int AwaitReply() {
        int type;
        for (;;) {
            type = packet_read(context_, nullptr);
            if (type == SSH2_MSG_USERAUTH_BANNER) {
                XmallocPtr<char> message(static_cast<char*>(packet_get_string(context_, nullptr)));
                XmallocPtr<char> language(static_cast<char*>(packet_get_string(context_, nullptr)));
                log("%.900s", message.get());
            } else if (type == kMsgExtInfo) {
                TakeExtInfo();
            } else {
                break;
            }
        }
        last_type_ = type;
        if (type == SSH2_MSG_USERAUTH_SUCCESS) debug("ssh-userauth2 successfull");
        return type;
    }

    void ReadFailure() {
        XmallocPtr<char> methods(static_cast<char*>(packet_get_string(context_, nullptr)));
        const bool partial = packet_get_char(context_) != 0;
        integrity_check(context_, __LINE__);
        methods_ = SplitNameList(methods.get());
        if (partial) partial_ = true;
        debug("authentications that can continue: %s", methods.get());
    }

    bool Allowed(const char* method) const {
        for (const std::string& m : methods_)
            if (m == method) return true;
        return false;
    }

    // SUCCESS, FAILURE (the list re-read) or fatal for anything else.
    Outcome Answer(int type) {
        if (type == SSH2_MSG_USERAUTH_SUCCESS) return Outcome::kSuccess;
        if (type != SSH2_MSG_USERAUTH_FAILURE) fatal("access denied: %d", type);
        ReadFailure();
        return Outcome::kRefused;
    }

    void Show(const std::string& text) {
        if (options_->prompter != nullptr) options_->prompter->Show(CleanServerText(text));
    }

    // --- publickey ---

    Outcome SendSigned(const Blob& blob, const std::string& algorithm,
                       const std::function<bool(const Blob&, Blob*)>& sign) {
        const int datafellows = context_->datafellows;
        if (context_->session_id2 == nullptr) fatal("ssh2_try_pubkey: internal error");
        // Old servers check a signature over "ssh-userauth" while the
        // request itself names the real service.
        const std::string signed_service =
            (datafellows & SSH_BUG_PKSERVICE) ? "ssh-userauth" : kService;
        Blob data =
            ssh2_pubkey_signed_bytes(context_->session_id2, context_->session_id2_len, datafellows,
                                     options_->user, signed_service, algorithm, blob);
        Blob signature;
        const bool signed_ok = sign(data, &signature);
        WipeBytes(&data);
        if (!signed_ok) {
            error("could not sign with the %s key", algorithm.c_str());
            return Outcome::kDone;
        }
        debug("try publickey %s", algorithm.c_str());
        packet_start(context_, SSH2_MSG_USERAUTH_REQUEST);
        packet_put_cstring(context_, options_->user.c_str());
        packet_put_cstring(context_, kService);
        packet_put_cstring(context_, "publickey");
        packet_put_char(context_, 1);
        packet_put_cstring(context_, algorithm.c_str());
        packet_put_string(context_, blob.data(), static_cast<uint32_t>(blob.size()));
        packet_put_string(context_, signature.data(), static_cast<uint32_t>(signature.size()));
        Send();
        return Answer(AwaitReply());
    }

    Outcome TryBlob(const Blob& blob,
                    const std::function<bool(const std::string&, const Blob&, Blob*)>& sign) {
        for (const std::string& algorithm : SignatureAlgorithms(
                 BlobKeyType(blob), ext_info_.server_sig_algs, ext_info_.has_server_sig_algs)) {
            if (!Allowed("publickey")) return Outcome::kDone;
            const Outcome outcome = SendSigned(blob, algorithm, [&](const Blob& data, Blob* out) {
                return sign(algorithm, data, out);
            });
            if (outcome == Outcome::kSuccess) return outcome;
        }
        return Outcome::kDone;
    }

    Outcome TryKeyFile() {
        if (options_->key_file.empty() || key_file_tried_) return Outcome::kDone;
        key_file_tried_ = true;
        const std::string& path = options_->key_file;
        debug("try pubkey: %s", path.c_str());
        std::unique_ptr<UserKey> key;
        std::string reason;
        PassphraseAsk ask;
        if (options_->prompter != nullptr) {
            ask = [this](const std::string& prompt, std::string* passphrase) {
                return options_->prompter->Ask(prompt, false, true, passphrase);
            };
        }
        switch (LoadUserKeyFile(path, ask, &key, &reason)) {
            case LoadKeyResult::kMissing:
                fatal("key does not exist: %s", path.c_str());
            case LoadKeyResult::kCancelled:
                debug("passphrase not given: %s", path.c_str());
                return Outcome::kDone;
            case LoadKeyResult::kFailed:
                error("%.300s: %s", path.c_str(), reason.c_str());
                fatal("Unable to load private key");
            case LoadKeyResult::kOk:
                break;
        }
        file_blob_ = key->PublicBlob();
        const bool bare_dss = (context_->datafellows & SSH_BUG_SIGBLOB) != 0;
        return TryBlob(file_blob_, [&](const std::string& algorithm, const Blob& data, Blob* out) {
            return key->Sign(algorithm, data.data(), data.size(), bare_dss, out);
        });
    }

    Outcome TryAgent() {
        if (!options_->use_agent || agent_tried_) return Outcome::kDone;
        agent_tried_ = true;
        AgentClient agent;
        std::string reason;
        std::vector<AgentIdentity> identities;
        if (!agent.Connect(options_->agent_socket, &reason)) {
            error("cannot reach the agent: %s", reason.c_str());
            return Outcome::kDone;
        }
        if (!agent.ListIdentities(&identities)) {
            error("the agent did not list its keys");
            return Outcome::kDone;
        }
        debug("agent offers %zu keys", identities.size());
        for (const AgentIdentity& id : identities) {
            if (!Allowed("publickey")) break;
            if (id.blob == file_blob_) continue;  // tried already
            const Outcome outcome =
                TryBlob(id.blob, [&](const std::string& algorithm, const Blob& data, Blob* out) {
                    return agent.Sign(id.blob, data.data(), data.size(), algorithm, out);
                });
            if (outcome == Outcome::kSuccess) return outcome;
        }
        return Outcome::kDone;
    }

    // --- keyboard-interactive ---

    Outcome TryKeyboardInteractive() {
        while (kbd_tries_ < kSsh2InteractiveTries && Allowed("keyboard-interactive")) {
            ++kbd_tries_;
            debug("try keyboard-interactive");
            packet_start(context_, SSH2_MSG_USERAUTH_REQUEST);
            packet_put_cstring(context_, options_->user.c_str());
            packet_put_cstring(context_, kService);
            packet_put_cstring(context_, "keyboard-interactive");
            packet_put_cstring(context_, "");  // language
            packet_put_cstring(context_, "");  // submethods
            Send();
            bool used_known = false;
            int type;
            while ((type = AwaitReply()) == kMsgInfoRequest) {
                const Blob payload = Payload();
                KbdIntRequest request;
                if (!ParseKbdIntRequest(payload.data(), payload.size(), &request))
                    fatal("Packet integrity error.");
                if (!request.name.empty()) Show(request.name);
                if (!request.instruction.empty()) Show(request.instruction);
                std::vector<std::string> answers;
                // A known password answers a round that asks for one hidden
                // line, until the server has refused it once.
                const bool use_known = !options_->password.empty() && !known_refused_ &&
                                       request.prompts.size() == 1 && !request.prompts[0].echo;
                for (const KbdIntPrompt& prompt : request.prompts) {
                    std::string answer;
                    if (use_known) {
                        answer = options_->password;
                        used_known = true;
                    } else if (options_->prompter != nullptr) {
                        options_->prompter->Ask(CleanServerText(prompt.text), prompt.echo, false,
                                                &answer);
                    }
                    answers.push_back(std::move(answer));
                }
                Blob response = BuildKbdIntResponse(answers);
                for (std::string& a : answers) WipeString(&a);
                packet_start(context_, kMsgInfoResponse);
                packet_put_raw(context_, response.data(), static_cast<uint32_t>(response.size()));
                WipeBytes(&response);
                Send();
            }
            if (Answer(type) == Outcome::kSuccess) return Outcome::kSuccess;
            if (used_known) known_refused_ = true;
            // Without a way to ask there is nothing new to answer with.
            if (options_->prompter == nullptr && (known_refused_ || options_->password.empty()))
                break;
        }
        return Outcome::kDone;
    }

    // --- password ---

    Outcome TryPassword() {
        const int tries = options_->password_configured ? 1 : kSsh2InteractiveTries;
        while (password_tries_ < tries && Allowed("password") && !password_change_) {
            ++password_tries_;
            std::string password;
            if (!options_->password.empty() && !known_refused_) {
                password = options_->password;
            } else if (options_->password_configured || options_->prompter == nullptr) {
                break;
            } else {
                char prompt[600];
                std::snprintf(prompt, sizeof prompt,
                              "%.200s@%.300s's password: ", options_->user.c_str(),
                              options_->host.c_str());
                options_->prompter->Ask(prompt, false, false, &password);
            }
            debug("try password");
            packet_start(context_, SSH2_MSG_USERAUTH_REQUEST);
            packet_put_cstring(context_, options_->user.c_str());
            packet_put_cstring(context_, kService);
            packet_put_cstring(context_, "password");
            packet_put_char(context_, 0);
            packet_put_string(context_, password.data(), static_cast<uint32_t>(password.size()));
            WipeString(&password);
            Send();
            const int type = AwaitReply();
            if (type == kMsgPasswdChangeReq) {
                // Changing the password is not offered here: the server's
                // request is shown and this method ends.
                XmallocPtr<char> text(static_cast<char*>(packet_get_string(context_, nullptr)));
                XmallocPtr<char> language(static_cast<char*>(packet_get_string(context_, nullptr)));
                Show(std::string("The server requires a new password: ") + text.get());
                Show("Change it with another program, then log in again.");
                password_change_ = true;
                break;
            }
            if (Answer(type) == Outcome::kSuccess) return Outcome::kSuccess;
            known_refused_ = true;
            if (password_tries_ < tries && Allowed("password"))
                Show("Permission denied, please try again.");
        }
        return Outcome::kDone;
    }

    PacketContext* context_;
    Ssh2AuthOptions* options_;
    ExtInfo ext_info_;
    std::vector<std::string> methods_;
    bool partial_ = false;
    int last_type_ = SSH2_MSG_USERAUTH_FAILURE;
    bool key_file_tried_ = false;
    bool agent_tried_ = false;
    Blob file_blob_;
    int kbd_tries_ = 0;
    int password_tries_ = 0;
    bool known_refused_ = false;
    bool password_change_ = false;
};

}  // namespace

void ssh2_authenticate(PacketContext* context, Ssh2AuthOptions* options) {
    Authenticator(context, options).Run();
}
