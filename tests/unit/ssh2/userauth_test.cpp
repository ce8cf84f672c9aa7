// SSH-2 user authentication against a scripted server on an in-memory link:
// the service request, the one password or public-key attempt, the signed
// data variants of old servers, and every refusal.
#include "ssh/auth/sshconnect2.h"
#include "ssh/keys/authfile.h"
#include "ssh/keys/dsa.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"
#include "ssh2_test_support.h"

namespace {

const std::string kKeyFile = QUENLOR_TEST_DATA "/ssh2/user_dsa";

Bytes TakeString(PacketContext* context) {
    uint32_t length = 0;
    XmallocPtr<char> text(static_cast<char*>(packet_get_string(context, &length)));
    return Bytes(text.get(), length);
}

class UserauthTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        // A session identifier as the key exchange leaves it.
        Client()->session_id2 = static_cast<unsigned char*>(xmalloc(20));
        for (int i = 0; i < 20; i++)
            Client()->session_id2[i] = static_cast<unsigned char>(0xA0 + i);
        Client()->session_id2_len = 20;
    }
    PacketContext* Client() { return link_.Client(); }
    PacketContext* Server() { return link_.Server(); }
    Bytes SessionId() { return Bytes(reinterpret_cast<char*>(Client()->session_id2), 20); }

    void ServerSends(int type, const Bytes& payload = "") { link_.ServerSends(type, payload); }
    Bytes PublicBlob() {
        KeyPtr key(key_new(KEY_DSA));
        EXPECT_TRUE(load_private_key_file(kKeyFile.c_str(), "", key.get(), nullptr));
        return DsaBlob(key.get());
    }
    // Reads the client's publickey request (after the message number) and
    // checks its signature over `signed_data`; returns the fields.
    struct PubkeyRequest {
        Bytes user, service, method, algorithm, blob, signature;
        int has_signature;
    };
    PubkeyRequest ReadPubkeyRequest() {
        PubkeyRequest r;
        EXPECT_EQ(SSH2_MSG_USERAUTH_REQUEST, packet_read(Server(), nullptr));
        r.user = TakeString(Server());
        r.service = TakeString(Server());
        r.method = TakeString(Server());
        r.has_signature = packet_get_char(Server());
        r.algorithm = TakeString(Server());
        r.blob = TakeString(Server());
        r.signature = TakeString(Server());
        EXPECT_EQ(0, packet_remaining(Server()));
        return r;
    }
    int Verify(const PubkeyRequest& r, const Bytes& signed_data, int word) {
        KeyPtr key(dsa_key_from_blob(reinterpret_cast<const unsigned char*>(r.blob.data()),
                                     static_cast<uint32_t>(r.blob.size())));
        return DsaVerify(key.get(), r.signature, signed_data, &word);
    }

    Link link_;
};

// The signature covers the data each server kind expects, built here by
// hand, and the request around it parses field by field.
TEST_F(UserauthTest, PubkeyRequestForEachServerKind) {
    const Bytes blob = PublicBlob();
    for (int word : {0, 0x0F, 0x14}) {
        SCOPED_TRACE(word);
        Client()->datafellows = word;
        ASSERT_EQ(1, ssh2_try_pubkey(Client(), kKeyFile.c_str(), "bob", "ssh-connection"));
        const PubkeyRequest r = ReadPubkeyRequest();
        EXPECT_EQ("bob", r.user);
        EXPECT_EQ("ssh-connection", r.service);  // the real service, always
        EXPECT_EQ("publickey", r.method);
        EXPECT_EQ(1, r.has_signature);
        EXPECT_EQ("ssh-dss", r.algorithm);
        EXPECT_EQ(blob, r.blob);

        // The signature covers what the server kind expects.
        const bool old_service = word & SSH_BUG_PKSERVICE;
        const Bytes id = word == 0x0F ? SessionId() : Str(SessionId());
        const Bytes signed_data = id + "\x32" + Str("bob") +
                                  Str(old_service ? "ssh-userauth" : "ssh-connection") +
                                  Str("publickey") + "\x01" + Str("ssh-dss") + Str(blob);
        EXPECT_EQ(1, Verify(r, signed_data, word));
        EXPECT_EQ(word & SSH_BUG_SIGBLOB ? 40u : 55u, r.signature.size());
    }
}

TEST_F(UserauthTest, PasswordLoginSucceeds) {
    Client()->password = xstrdup("pa55 word");
    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth"));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_userauth(Client(), "alice", SSH2_AUTH_PASSWORD);

    EXPECT_EQ(SSH2_MSG_SERVICE_REQUEST, packet_read(Server(), nullptr));
    EXPECT_EQ("ssh-userauth", TakeString(Server()));
    EXPECT_EQ(SSH2_MSG_USERAUTH_REQUEST, packet_read(Server(), nullptr));
    EXPECT_EQ("alice", TakeString(Server()));
    EXPECT_EQ("ssh-connection", TakeString(Server()));
    EXPECT_EQ("password", TakeString(Server()));
    EXPECT_EQ(0, packet_get_char(Server()));
    EXPECT_EQ("pa55 word", TakeString(Server()));
    EXPECT_EQ(0, packet_remaining(Server()));
    EXPECT_FALSE(link_.ServerHasMessage());  // exactly one attempt
}

TEST_F(UserauthTest, KeyLoginSucceedsWithEmptyServiceAccept) {
    Client()->keyfile = xstrdup(kKeyFile.c_str());
    ServerSends(SSH2_MSG_SERVICE_ACCEPT);  // old servers name no service
    ServerSends(SSH2_MSG_USERAUTH_BANNER, Str("Welcome") + Str(""));
    ServerSends(SSH2_MSG_USERAUTH_SUCCESS);
    ssh2_userauth(Client(), "alice", SSH2_AUTH_PUBKEY);
    EXPECT_EQ(SSH2_MSG_SERVICE_REQUEST, packet_read(Server(), nullptr));
    TakeString(Server());
    const PubkeyRequest r = ReadPubkeyRequest();
    EXPECT_EQ("alice", r.user);
}

TEST_F(UserauthTest, Refusals) {
    auto attempt = [&](int method) {
        return FatalMessage([&] { ssh2_userauth(Client(), "alice", method); });
    };
    Client()->password = xstrdup("wrong");
    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth"));
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, Str("publickey,password") + Bytes(1, '\0'));
    EXPECT_EQ("access denied: 51", attempt(SSH2_AUTH_PASSWORD));

    // Banners before the answer are passed over; the answer decides.
    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth"));
    ServerSends(SSH2_MSG_USERAUTH_BANNER, Str("Authorised use only") + Str(""));
    ServerSends(SSH2_MSG_USERAUTH_BANNER, Str("second notice") + Str("en"));
    ServerSends(SSH2_MSG_USERAUTH_FAILURE, Str("password") + Bytes(1, '\0'));
    EXPECT_EQ("access denied: 51", attempt(SSH2_AUTH_PASSWORD));
    // Anything else first is the refusal.
    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth"));
    ServerSends(SSH2_MSG_USERAUTH_PK_OK, Str("ssh-dss") + Str("blob"));
    EXPECT_EQ("access denied: 60", attempt(SSH2_AUTH_PASSWORD));

    ServerSends(SSH2_MSG_USERAUTH_FAILURE);
    EXPECT_EQ("denied SSH2_MSG_SERVICE_ACCEPT: 51", attempt(SSH2_AUTH_PASSWORD));

    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth") + "junk");
    EXPECT_EQ("Packet integrity error.", attempt(SSH2_AUTH_PASSWORD));
}

TEST_F(UserauthTest, UnusableKeyFilesEndTheLoginAtOnce) {
    // The server would answer the service request only; a client that sent
    // nothing more and waited would hang (here: run the link dry).
    Client()->keyfile = xstrdup("/nonexistent/id_dsa");
    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth"));
    EXPECT_EQ("key does not exist: /nonexistent/id_dsa",
              FatalMessage([&] { ssh2_userauth(Client(), "alice", SSH2_AUTH_PUBKEY); }));
    EXPECT_EQ(0, ssh2_try_pubkey(Client(), "/nonexistent/id_dsa", "alice", "ssh-connection"));

    xfree(Client()->keyfile);
    Client()->keyfile = xstrdup(QUENLOR_TEST_DATA "/ssh2/locked_dsa");
    ServerSends(SSH2_MSG_SERVICE_ACCEPT, Str("ssh-userauth"));
    EXPECT_EQ("Unable to load private key",
              FatalMessage([&] { ssh2_userauth(Client(), "alice", SSH2_AUTH_PUBKEY); }));
}

}  // namespace
