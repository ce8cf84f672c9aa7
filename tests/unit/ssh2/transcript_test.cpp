// User authentication and the session channel against a scripted server on
// an in-memory link: the scripts in tests/data/ssh2/transcripts, and what a
// script cannot say (signatures, a window's worth of data).
#include <memory>
#include <sstream>

#include "ssh/auth/sshconnect2.h"
#include "ssh/connection/ssh2_channel.h"
#include "ssh/keys/authfile.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/kex_method.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/scoped.h"
#include "ssh2_test_support.h"

namespace {

const std::string kKeyFile = QUENLOR_TEST_DATA "/ssh2/user_dsa";

struct Script {
    Link link;
    Ssh2Channel channel;
    TCriticalSection lock;
    Messages sent;
    std::size_t matched = 0;
    bool closed = false;

    Script() {
        channel.remote_id = 7;
        channel.remote_max_packet = 32768;
        // A session identifier as the key exchange leaves it.
        PacketContext* client = link.Client();
        client->session_id2_len = 20;
        client->session_id2 = static_cast<unsigned char*>(xmalloc(20));
        std::memset(client->session_id2, 0xA5, 20);
    }
    Bytes Read(unsigned size) {
        char buffer[32768];
        const int n = ssh2_channel_read(link.Client(), &channel, &lock, buffer, size, &closed);
        return Bytes(buffer, static_cast<size_t>(n));
    }
    // Runs the action of c[1] with its arguments; returns what a read gave.
    Bytes Act(const TCase& c) {
        PacketContext* client = link.Client();
        auto number = [&](std::size_t i) { return static_cast<int>(Num(c[i])); };
        if (c[1] == "auth") {
            const bool password = c[3] == "password";
            const std::string file = c[4][0] == '/' ? c[4] : QUENLOR_TEST_DATA "/" + c[4];
            (password ? client->password : client->keyfile) =
                xstrdup(password ? c[4].c_str() : file.c_str());
            ssh2_userauth(client, c[2].c_str(), password ? SSH2_AUTH_PASSWORD : SSH2_AUTH_PUBKEY);
        } else if (c[1] == "open") {
            ssh2_channel_open(client, &channel, &lock);
        } else if (c[1] == "pty") {
            ssh2_channel_request_pty(client, &channel, &lock, c[2].c_str(), number(3), number(4));
        } else if (c[1] == "resize") {
            ssh2_channel_window_change(client, &channel, &lock, number(2), number(3));
        } else if (c[1] == "shell") {
            ssh2_channel_request_shell(client, &channel, &lock);
        } else if (c[1] == "write") {
            ssh2_channel_write(client, &channel, &lock, c[2].data(),
                               static_cast<unsigned>(c[2].size()));
        } else if (c[1] == "send") {
            SendPacket(client, number(2));
        } else if (c[1] == "kex") {
            auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
            *kex = KexResult{};
            kex->name = xstrdup(c[2].c_str());
            kex->hostkey_name = xstrdup(c[3].c_str());
            ScopedBuffer own, server;
            kex_run_method(client, kex, own.get(), server.get());  // owns `kex`
        } else if (c[1] == "read") {
            return Read(static_cast<unsigned>(number(2)));
        } else {
            ADD_FAILURE() << "unknown action " << c[1];
        }
        return "";
    }
    void Collect() {
        for (auto& message : link.ClientMessages()) sent.push_back(std::move(message));
    }
};

class TranscriptTest : public Ssh2Test {};

TEST_F(TranscriptTest, EveryScript) {
    std::unique_ptr<Script> s;
    std::vector<TCase> cases = ReadCases("ssh2/transcripts");
    cases.push_back({"the end", {"case", "the end"}});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.where);
        if (c[0] == "case") {
            if (s) {
                s->Collect();
                EXPECT_EQ(s->matched, s->sent.size()) << "the client sent more";
            }
            s = std::make_unique<Script>();
        } else if (c[0] == "in") {
            s->link.ServerSends(static_cast<int>(Num(c[1])), Wire(c, 2));
        } else if (c[0] == "do") {
            try {
                const Bytes got = s->Act(c);  // only a read returns something
                EXPECT_EQ(c[1] == "read" && c.size() > 3 ? c[3] : "", got);
            } catch (const TException& e) {
                ADD_FAILURE() << e.Message();
            }
        } else if (c[0] == "fail") {
            EXPECT_EQ(c[c.size() - 1], FatalMessage([&] { s->Act(c); }));
        } else if (c[0] == "out") {
            s->Collect();
            ASSERT_LT(s->matched, s->sent.size()) << "the client sent nothing more";
            auto [type, payload] = s->sent[s->matched++];
            const Bytes expected = Wire(c, 2);
            if (c[c.size() - 1] == "*") payload.resize(std::min(payload.size(), expected.size()));
            EXPECT_EQ(Num(c[1]), type);
            EXPECT_EQ(expected, payload);
        } else if (c[0] == "state") {
            const Ssh2Channel& ch = s->channel;
            std::ostringstream state;
            state << "remote " << ch.remote_id << " window " << ch.gate.Window() << " ours "
                  << ch.local_window << " consumed " << ch.consumed << " eof " << ch.eof_received
                  << " exit " << ch.exit_status << "/" << ch.exit_signal << " closed " << s->closed
                  << "/" << ch.gate.Closed();
            EXPECT_EQ(c[1], state.str());
        } else {
            ADD_FAILURE() << "unknown line " << c[0];
        }
    }
}

// The signature covers what each server kind expects (the session id bare
// or as a string, the service named), built here by hand.
TEST_F(TranscriptTest, PubkeyRequestForEachServerKind) {
    KeyPtr key(key_new(KEY_DSA));
    ASSERT_TRUE(load_private_key_file(kKeyFile.c_str(), "", key.get(), nullptr));
    const Bytes method = Str("publickey") + "\x01" + Str("ssh-dss") + Str(DsaBlob(key.get()));
    const Bytes head = Str("bob") + Str("ssh-connection") + method;
    for (int word : {0, 0x0F, 0x14}) {
        SCOPED_TRACE(word);
        Script s;
        PacketContext* client = s.link.Client();
        client->datafellows = word;
        ASSERT_EQ(1, ssh2_try_pubkey(client, kKeyFile.c_str(), "bob", "ssh-connection"));
        const Messages sent = s.link.ClientMessages();
        ASSERT_EQ(SSH2_MSG_USERAUTH_REQUEST, sent.at(0).first);
        ASSERT_EQ(head, sent[0].second.substr(0, head.size()));
        const Bytes signature = sent[0].second.substr(head.size() + 4);
        EXPECT_EQ(Str(signature), sent[0].second.substr(head.size()));
        EXPECT_EQ(word & SSH_BUG_SIGBLOB ? 40u : 55u, signature.size());
        const Bytes id(reinterpret_cast<char*>(client->session_id2), 20);
        const Bytes service = word & SSH_BUG_PKSERVICE ? "ssh-userauth" : "ssh-connection";
        const Bytes signed_data =
            (word == 0x0F ? id : Str(id)) + "\x32" + Str("bob") + Str(service) + method;
        EXPECT_EQ(1, DsaVerify(key.get(), signature, signed_data, &word));
    }
}

TEST_F(TranscriptTest, WindowIsReopenedByWhatWasTakenOnceMoreThanHalfIsUsed) {
    constexpr uint32_t kHalf = kChannelWindowSize / 2;
    constexpr uint32_t kPacket = 16384;
    static_assert(kHalf % kPacket == 0);
    Script s;
    for (uint32_t sent = 0; sent < kHalf; sent += kPacket)
        s.link.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str(Bytes(kPacket, 'a')));
    s.link.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str("b"));
    s.link.ServerSends(SSH2_MSG_CHANNEL_DATA, U32(0) + Str("c"));
    for (uint32_t read = 0; read < kHalf; read += kPacket) ASSERT_EQ(kPacket, s.Read(32768).size());
    EXPECT_EQ("b", s.Read(64));  // exactly half used: no adjustment yet
    EXPECT_TRUE(s.link.ClientMessages().empty());
    EXPECT_EQ("c", s.Read(64));
    EXPECT_EQ((Messages{{SSH2_MSG_CHANNEL_WINDOW_ADJUST, U32(7) + U32(kHalf + 1)}}),
              s.link.ClientMessages());
    EXPECT_EQ(1u, s.channel.consumed);
}

}  // namespace
