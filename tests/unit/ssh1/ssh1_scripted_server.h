// An SSH-1 server on 127.0.0.1 for the tests, in a thread of its own,
// answering the client's packets as its settings say; its arithmetic (session
// id, session key, challenge answer) is done with libcrypto, apart from the
// code under test. Its shell greets on standard output and standard error,
// echoes standard input after "echo:", answers "big" with kBigSize bytes,
// echoes window sizes and exits (status 7) on "exit\r".
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "../net/fake_peer.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/xmalloc.h"
#include "ssh1_test_support.h"

class ScriptedServer {
  public:
    static constexpr size_t kBigSize = 40000;
    static constexpr int kTimeoutMs = 10000;

    // `settings`: "name=value" words that change the defaults of set_. Answers
    // are message types; numbers are decimal, byte strings hex.
    explicit ScriptedServer(const std::string& settings) {
        for (const std::string& word : Words(settings)) {
            const std::string name = word.substr(0, word.find('='));
            EXPECT_EQ(set_.count(name), 1u) << word;
            set_[name] = word.substr(name.size() + 1);
        }
        server_key_ = DataKey(set_["server_key"]);
        host_key_ = DataKey(set_["host_key"]);
        if (!set_["user_key"].empty()) user_key_ = DataKey(set_["user_key"]);
        context_.owner = reinterpret_cast<TSSHConnection*>(this);
        packet_set_io_hooks(&context_, WriteHook, nullptr);
    }
    ~ScriptedServer() {
        Join();
        packet_free(&context_);
    }

    int Port() const { return listener_.Port(); }
    void Start(const std::string& identification) {
        thread_ = std::thread([this, identification] {
            try {
                Serve(identification);
            } catch (const std::exception& e) {
                seen_["error"] = e.what();
            }
        });
    }
    // What the server saw, by name, once the client has closed.
    const std::map<std::string, std::string>& Seen() {
        Join();
        return seen_;
    }
    int StdinPackets() {
        Join();
        return stdin_packets_;
    }

  private:
    const std::string kCookie = "cookie!!";

    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    void Serve(const std::string& identification) {
        fd_ = listener_.Accept(kTimeoutMs);
        if (fd_ < 0) throw TException("no connection");
        SendBytes(fd_, identification);
        std::string& line = seen_["identification"];
        while (line.empty() || line.back() != '\n') {
            const std::string byte = ReadBytes(fd_, 1, kTimeoutMs);
            if (byte.empty()) throw TException("no identification");
            line += byte;
        }
        if (set_["first"].empty()) {
            SendPublicKey();
        } else {
            Send(static_cast<int>(Num(set_["first"])));
        }
        for (int type; (!exited_ || at_once()) && (type = Next()) != 0;) Handle(type);
    }
    bool at_once() { return !set_["exit_at_once"].empty(); }

    // The next whole packet's type; 0 when the client has closed.
    int Next() {
        for (;;) {
            int length = 0;
            const int type = packet_read_poll(&context_, &length);
            if (type != 0) return type;
            char chunk[4096];
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, kTimeoutMs) != 1) return 0;
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return 0;
            packet_process_incoming(&context_, chunk, static_cast<uint32_t>(n));
        }
    }
    void Send(int type, const std::string& payload = "") { SendPacket(&context_, type, payload); }
    // The answer the settings name, or `otherwise`.
    void Answer(const char* name, int otherwise) {
        Send(set_[name].empty() ? otherwise : static_cast<int>(Num(set_[name])));
    }
    std::string String() {
        uint32_t length = 0;
        XmallocPtr<char> data(static_cast<char*>(packet_get_string(&context_, &length)));
        return std::string(data.get(), length);
    }
    void Record(const std::string& event) {
        std::string& events = seen_["events"];
        events += (events.empty() ? "" : ", ") + event;
    }
    void Attempt() { seen_["attempts"] = std::to_string(++attempts_); }

    void SendPublicKey() {
        const BIGNUM* sn = RSA_get0_n(server_key_);
        const BIGNUM* hn = RSA_get0_n(host_key_);
        auto bits = [&](const char* name, const BIGNUM* n) {
            return BigEndian(
                static_cast<uint32_t>(set_[name].empty() ? BN_num_bits(n) : Num(set_[name])));
        };
        Send(SSH_SMSG_PUBLIC_KEY,
             kCookie + bits("server_bits", sn) + Mpint1(RSA_get0_e(server_key_)) + Mpint1(sn) +
                 bits("host_bits", hn) + Mpint1(RSA_get0_e(host_key_)) + Mpint1(hn) + BigEndian(0) +
                 BigEndian(static_cast<uint32_t>(Num(set_["ciphers"]))) +
                 BigEndian(static_cast<uint32_t>(Num(set_["auths"]))) +
                 HexBytes(set_["public_key_tail"]));
        session_id_ = Md5(BnBytes(hn) + BnBytes(sn) + kCookie);
    }

    void Handle(int type) {
        PacketContext* s = &context_;
        switch (type) {
            case SSH_CMSG_SESSION_KEY: {
                const int cipher = packet_get_char(s);
                seen_["cipher"] = std::to_string(cipher);
                std::string cookie;
                for (int i = 0; i < 8; i++) cookie += static_cast<char>(packet_get_char(s));
                seen_["cookie"] = cookie == kCookie ? "same" : "other";
                BignumPtr k(BN_new());
                packet_get_bignum(s, k.get(), nullptr);
                seen_["flags"] = std::to_string(packet_get_int(s));
                // The larger key was applied last, so it is taken off first.
                RSA* outer = server_key_;
                RSA* inner = host_key_;
                if (BN_cmp(RSA_get0_n(server_key_), RSA_get0_n(host_key_)) < 0)
                    std::swap(outer, inner);
                std::string key =
                    LibraryRsaDecrypt(inner, LibraryRsaDecrypt(outer, BnBytes(k.get())));
                key.insert(0, 32 - std::min<size_t>(32, key.size()), '\0');
                for (int i = 0; i < 16; i++) key[i] ^= session_id_[i];
                packet_set_encryption_key(s, reinterpret_cast<const unsigned char*>(key.data()), 32,
                                          cipher);
                Answer("session_key_answer", SSH_SMSG_SUCCESS);
                break;
            }
            case SSH_CMSG_USER:
                seen_["user"] = String();
                Answer("user_answer", SSH_SMSG_FAILURE);
                break;
            case SSH_CMSG_AUTH_PASSWORD:
                Attempt();
                seen_["password"] = String();
                Answer("password_answer",
                       seen_["password"] == set_["password"] ? SSH_SMSG_SUCCESS : SSH_SMSG_FAILURE);
                break;
            case SSH_CMSG_AUTH_RSA: {
                Attempt();
                BignumPtr n(BN_new());
                packet_get_bignum(s, n.get(), nullptr);
                const bool ours =
                    user_key_ != nullptr && BN_cmp(n.get(), RSA_get0_n(user_key_)) == 0;
                seen_["rsa"] = ours ? "authorized" : "other";
                if (!ours || !set_["rsa_answer"].empty()) {
                    Answer("rsa_answer", SSH_SMSG_FAILURE);
                    break;
                }
                const std::string challenge = HexBytes(set_["challenge"]);
                BignumPtr number = BnFromBytes(LibraryRsaEncrypt(user_key_, challenge));
                Send(SSH_SMSG_AUTH_RSA_CHALLENGE,
                     Mpint1(number.get()) + HexBytes(set_["challenge_tail"]));
                // The answer pads the number to 32 bytes on the left.
                std::string padded = BnBytes(BnFromBytes(challenge).get());
                padded.insert(0, 32 - std::min<size_t>(32, padded.size()), '\0');
                response_ = Md5(padded + session_id_);
                break;
            }
            case SSH_CMSG_AUTH_RSA_RESPONSE: {
                std::string response;
                for (int i = 0; i < 16; i++) response += static_cast<char>(packet_get_char(s));
                seen_["response"] = response == response_ ? "right" : "wrong";
                Answer("response_answer",
                       response == response_ ? SSH_SMSG_SUCCESS : SSH_SMSG_FAILURE);
                break;
            }
            case SSH_CMSG_REQUEST_PTY: {
                std::string event = "pty " + String();
                for (int i = 0; i < 4; i++) event += " " + std::to_string(packet_get_int(s));
                event += " " + std::to_string(packet_get_char(s));
                Record(event + " rest " + std::to_string(packet_remaining(s)));
                Answer("pty_answer", SSH_SMSG_SUCCESS);
                break;
            }
            case SSH_CMSG_EXEC_SHELL:
                Record("shell");
                if (at_once()) {
                    Send(SSH_SMSG_EXITSTATUS, BigEndian(0));
                    break;
                }
                Send(SSH_SMSG_STDOUT_DATA, SshString("welcome\r\n"));
                Send(SSH_SMSG_STDERR_DATA, SshString("stderr line\r\n"));
                break;
            case SSH_CMSG_STDIN_DATA: {
                const std::string text = String();
                stdin_packets_++;
                if (at_once()) break;  // keystrokes after the exit are only counted
                if (text == "exit\r") {
                    Send(SSH_SMSG_EXITSTATUS, BigEndian(7));
                } else if (text == "big") {
                    std::string big(kBigSize, 'b');
                    for (size_t i = 0; i < big.size(); i += 1000) big[i] = 'B';
                    Send(SSH_SMSG_STDOUT_DATA, SshString(big));
                } else {
                    Record("stdin " + std::to_string(text.size()));
                    Send(SSH_SMSG_STDOUT_DATA, SshString("echo:" + text));
                }
                break;
            }
            case SSH_CMSG_WINDOW_SIZE: {
                std::string event = "window";
                for (int i = 0; i < 4; i++) event += " " + std::to_string(packet_get_int(s));
                Record(event);
                Send(SSH_SMSG_STDOUT_DATA, SshString(event));
                break;
            }
            case SSH_CMSG_EXIT_CONFIRMATION:
                Record("exit confirmed");
                exited_ = true;
                break;
            default:
                Record("unexpected " + std::to_string(type));
        }
    }

    static void WriteHook(PacketContext* context, const void* bytes, uint32_t n) {
        SendBytes(reinterpret_cast<ScriptedServer*>(context->owner)->fd_,
                  std::string(static_cast<const char*>(bytes), n));
    }

    std::map<std::string, std::string> set_ = {
        {"server_key", "k768"},
        {"host_key", "k1024"},
        {"server_bits", ""},  // announced sizes; empty: the real ones
        {"host_bits", ""},
        {"first", ""},  // a message sent instead of the public key
        {"public_key_tail", ""},
        {"ciphers", "72"},  // 3des and blowfish
        {"auths", "12"},    // RSA and password
        {"session_key_answer", ""},
        {"user_answer", ""},
        {"password", "secret"},
        {"password_answer", ""},
        {"user_key", ""},  // the one authorized key
        {"rsa_answer", ""},
        {"challenge", "1122" + std::string(60, '5')},
        {"challenge_tail", ""},
        {"response_answer", ""},
        {"pty_answer", ""},
        {"exit_at_once", ""},  // exit as the shell starts
    };
    RSA* server_key_ = nullptr;
    RSA* host_key_ = nullptr;
    RSA* user_key_ = nullptr;
    std::string session_id_;
    std::string response_;
    int attempts_ = 0;
    int stdin_packets_ = 0;
    bool exited_ = false;
    std::map<std::string, std::string> seen_;
    TFakeServer listener_{1};
    int fd_ = -1;
    PacketContext context_{};
    std::thread thread_;
};
