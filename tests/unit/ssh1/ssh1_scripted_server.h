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

#include "../net/fake_peer.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/xmalloc.h"
#include "ssh1_test_support.h"

struct ScriptedServer {
    static constexpr size_t kBigSize = 40000;
    static constexpr int kTimeoutMs = 10000;
    static std::string Big() {
        std::string big(kBigSize, 'b');
        for (size_t i = 0; i < big.size(); i += 1000) big[i] = 'B';
        return big;
    }
    // Keys (user_key: the one authorized), announced sizes, a message sent
    // instead of the public key, masks, answers (message types; empty: the
    // sound one), byte strings (hex), and exit_at_once (exit as the shell starts).
    std::map<std::string, std::string> set_;
    // What the server saw, by name; "error" is a failure in its thread.
    std::map<std::string, std::string> seen_;

    explicit ScriptedServer(const std::string& settings) {
        const std::string defaults =
            " server_key=k768 host_key=k1024 server_bits= host_bits= first= public_key_tail= "
            "ciphers=72 auths=12 session_key_answer= user_answer= password=secret "
            "password_answer= user_key= rsa_answer= challenge=1122" +
            std::string(60, '5') + " challenge_tail= response_answer= pty_answer= exit_at_once= ";
        for (const std::string& word : Words(defaults + settings)) {
            const std::string name = word.substr(0, word.find('='));
            EXPECT_NE(defaults.find(" " + name + "="), std::string::npos) << word;
            set_[name] = word.substr(name.size() + 1);
        }
        context_.owner = reinterpret_cast<TSSHConnection*>(this);
        packet_set_io_hooks(&context_, WriteHook, nullptr);
        server_key_ = DataKey(set_["server_key"]);
        host_key_ = DataKey(set_["host_key"]);
        if (!set_["user_key"].empty()) user_key_ = DataKey(set_["user_key"]);
    }
    ~ScriptedServer() {
        Seen();
        packet_free(&context_);
    }
    void Start(const std::string& identification) {
        thread_ = std::thread([this, identification] {
            try {
                if ((fd_ = listener_.Accept(kTimeoutMs)) < 0) throw TException("no connection");
                SendBytes(fd_, identification);
                seen_["identification"] = ReadBytes(fd_, 24, kTimeoutMs);
                if (set_["first"].empty()) SendPublicKey();
                Answer("first", 0);
                for (int type; (!exited_ || !set_["exit_at_once"].empty()) && (type = Next());)
                    Handle(type);
            } catch (const std::exception& e) {
                seen_["error"] = e.what();
            }
            // A client still waiting sees the end instead of waiting forever.
            if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
        });
    }
    // What the server saw, once the client has closed.
    const std::map<std::string, std::string>& Seen() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

    // The next whole packet's type; 0 when the client has closed.
    int Next() {
        for (int length = 0, type;; length = 0) {
            if ((type = packet_read_poll(&context_, &length)) != 0) return type;
            char chunk[4096];
            pollfd p{fd_, POLLIN, 0};
            const ssize_t n = poll(&p, 1, kTimeoutMs) == 1 ? recv(fd_, chunk, sizeof chunk, 0) : 0;
            if (n <= 0) return 0;
            packet_process_incoming(&context_, chunk, static_cast<uint32_t>(n));
        }
    }
    void Send(int type, const std::string& payload = "") { SendPacket(&context_, type, payload); }
    // The answer the settings name, or `sound` (none when 0).
    void Answer(const char* name, int sound) {
        const int type = set_[name].empty() ? sound : static_cast<int>(Num(set_[name]));
        if (type != 0) Send(type);
    }
    std::string String() {
        uint32_t length = 0;
        XmallocPtr<char> data(static_cast<char*>(packet_get_string(&context_, &length)));
        return std::string(data.get(), length);
    }
    // `count` bytes, or as many 32-bit numbers in decimal after a blank each.
    std::string Raw(int count, bool numbers = false) {
        std::string out;
        while (count-- > 0)
            out += numbers ? " " + std::to_string(packet_get_int(&context_))
                           : std::string(1, static_cast<char>(packet_get_char(&context_)));
        return out;
    }
    void Record(const std::string& event) {
        std::string& events = seen_["events"];
        events += (events.empty() ? "" : ", ") + event;
    }

    void SendPublicKey() {
        const BIGNUM* sn = RSA_get0_n(server_key_);
        const BIGNUM* hn = RSA_get0_n(host_key_);
        auto word = [&](const char* name, long otherwise) {
            return BigEndian(
                static_cast<uint32_t>(set_[name].empty() ? otherwise : Num(set_[name])));
        };
        Send(SSH_SMSG_PUBLIC_KEY,
             kCookie + word("server_bits", BN_num_bits(sn)) + Mpint1(RSA_get0_e(server_key_)) +
                 Mpint1(sn) + word("host_bits", BN_num_bits(hn)) + Mpint1(RSA_get0_e(host_key_)) +
                 Mpint1(hn) + BigEndian(0) + word("ciphers", 0) + word("auths", 0) +
                 HexBytes(set_["public_key_tail"]));
        session_id_ = Md5(BnBytes(hn) + BnBytes(sn) + kCookie);
    }

    void Handle(int type) {
        BignumPtr number(BN_new());
        switch (type) {
            case SSH_CMSG_SESSION_KEY: {
                const int cipher = packet_get_char(&context_);
                seen_["cipher"] = std::to_string(cipher);
                seen_["cookie"] = Raw(8) == kCookie ? "same" : "other";
                packet_get_bignum(&context_, number.get(), nullptr);
                seen_["flags"] = std::to_string(packet_get_int(&context_));
                // The larger key was applied last, so it is taken off first.
                const bool swap = BN_cmp(RSA_get0_n(server_key_), RSA_get0_n(host_key_)) < 0;
                std::string key = LibraryRsaDecrypt(
                    swap ? server_key_ : host_key_,
                    LibraryRsaDecrypt(swap ? host_key_ : server_key_, BnBytes(number.get())));
                key.insert(0, 32 - std::min<size_t>(32, key.size()), '\0');
                for (int i = 0; i < 16; i++) key[i] ^= session_id_[i];
                packet_set_encryption_key(
                    &context_, reinterpret_cast<const unsigned char*>(key.data()), 32, cipher);
                Answer("session_key_answer", SSH_SMSG_SUCCESS);
                break;
            }
            case SSH_CMSG_USER:
                seen_["user"] = String();
                Answer("user_answer", SSH_SMSG_FAILURE);
                break;
            case SSH_CMSG_AUTH_PASSWORD:
                seen_["attempts"] += "password";
                seen_["password"] = String();
                Answer("password_answer",
                       seen_["password"] == set_["password"] ? SSH_SMSG_SUCCESS : SSH_SMSG_FAILURE);
                break;
            case SSH_CMSG_AUTH_RSA: {
                seen_["attempts"] += "rsa";
                packet_get_bignum(&context_, number.get(), nullptr);
                const bool ours =
                    user_key_ != nullptr && BN_cmp(number.get(), RSA_get0_n(user_key_)) == 0;
                seen_["rsa"] = ours ? "authorized" : "other";
                if (!ours || !set_["rsa_answer"].empty()) {
                    Answer("rsa_answer", SSH_SMSG_FAILURE);
                    break;
                }
                const std::string challenge = HexBytes(set_["challenge"]);
                Send(SSH_SMSG_AUTH_RSA_CHALLENGE,
                     Mpint1(BnFromBytes(LibraryRsaEncrypt(user_key_, challenge)).get()) +
                         HexBytes(set_["challenge_tail"]));
                // The answer pads the number to 32 bytes on the left.
                std::string padded = BnBytes(BnFromBytes(challenge).get());
                padded.insert(0, 32 - std::min<size_t>(32, padded.size()), '\0');
                response_ = Md5(padded + session_id_);
                break;
            }
            case SSH_CMSG_AUTH_RSA_RESPONSE: {
                const bool right = Raw(16) == response_;
                seen_["response"] = right ? "right" : "wrong";
                Answer("response_answer", right ? SSH_SMSG_SUCCESS : SSH_SMSG_FAILURE);
                break;
            }
            case SSH_CMSG_REQUEST_PTY: {
                std::string event = "pty " + String();
                event += Raw(4, true);
                event += " " + std::to_string(packet_get_char(&context_));
                Record(event + " rest " + std::to_string(packet_remaining(&context_)));
                Answer("pty_answer", SSH_SMSG_SUCCESS);
                break;
            }
            case SSH_CMSG_EXEC_SHELL:
                Record("shell");
                if (!set_["exit_at_once"].empty()) {
                    Send(SSH_SMSG_EXITSTATUS, BigEndian(0));
                    break;
                }
                Send(SSH_SMSG_STDOUT_DATA, SshString("welcome\r\n"));
                Send(SSH_SMSG_STDERR_DATA, SshString("stderr line\r\n"));
                break;
            case SSH_CMSG_STDIN_DATA: {
                const std::string text = String();
                stdin_packets_++;
                // Keystrokes after the exit are only counted.
                if (!set_["exit_at_once"].empty()) break;
                if (text == "exit\r") {
                    Send(SSH_SMSG_EXITSTATUS, BigEndian(7));
                } else if (text == "big") {
                    Send(SSH_SMSG_STDOUT_DATA, SshString(Big()));
                } else {
                    Record("stdin " + std::to_string(text.size()));
                    Send(SSH_SMSG_STDOUT_DATA, SshString("echo:" + text));
                }
                break;
            }
            case SSH_CMSG_WINDOW_SIZE: {
                const std::string event = "window" + Raw(4, true);
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

    const std::string kCookie = "cookie!!";
    RSA* server_key_ = nullptr;
    RSA* host_key_ = nullptr;
    RSA* user_key_ = nullptr;
    std::string session_id_;
    std::string response_;
    int stdin_packets_ = 0;
    bool exited_ = false;
    TFakeServer listener_{1};
    int fd_ = -1;
    PacketContext context_{};
    std::thread thread_;
};
