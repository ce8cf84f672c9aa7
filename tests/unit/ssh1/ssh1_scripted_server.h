// An SSH-1 server for the tests, answering the client's packets as scripted;
// its arithmetic (session id, session key, challenge answer) is done with
// libcrypto, apart from the code under test.
#pragma once

#include <algorithm>
#include <functional>
#include <string>

#include "ssh/auth/sshconnect1.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/xmalloc.h"
#include "ssh1_test_support.h"

// Reads the client's packets and answers them as an SSH-1 server would.
struct ScriptedServer {
    // Keys (private, owned elsewhere) and what SSH_SMSG_PUBLIC_KEY announces.
    RSA* server_key = nullptr;
    RSA* host_key = nullptr;
    int announced_server_bits = -1;  // -1: the real size
    int announced_host_bits = -1;
    std::string cookie = "cookie!!";
    uint32_t cipher_mask = (1u << SSH_CIPHER_3DES) | (1u << SSH_CIPHER_BLOWFISH);
    uint32_t auth_mask = (1u << SSH_AUTH_RSA) | (1u << SSH_AUTH_PASSWORD);
    std::string public_key_tail;  // extra bytes after the authentication mask

    // Answers: a message type (0: none); FAILURE/SUCCESS by default.
    int answer_session_key = SSH_SMSG_SUCCESS;
    int answer_user = SSH_SMSG_FAILURE;
    std::string password = "secret";
    int answer_password_other = 0;  // sent instead of SUCCESS/FAILURE when set
    const RSA* user_key = nullptr;  // the one authorized RSA key
    int answer_rsa_other = 0;       // sent instead of the challenge when set
    std::string challenge = std::string("\x11\x22", 2) + std::string(30, '\x5c');
    std::string challenge_tail;     // extra bytes after the challenge number
    int answer_response_other = 0;  // sent instead of SUCCESS/FAILURE when set

    // What the client sent.
    bool public_key_sent = false;
    std::string session_id;   // computed here
    std::string session_key;  // as recovered here
    int cipher = -1;
    std::string cookie_back;
    uint32_t client_flags = 0;
    std::string user;
    std::string password_tried;
    std::string rsa_modulus;
    std::string response;
    std::string response_expected;
    std::string other_types;  // anything else unhandled, as "type " each
    // Handles the messages of the interactive phase; false: not handled.
    std::function<bool(ServerEnd&, int)> other;

    void Run(Ssh1Wire& wire) {
        if (!public_key_sent) {
            public_key_sent = true;
            SendPublicKey(wire);
            return;
        }
        for (int type; (type = wire.Next()) != 0;) Handle(wire, type);
    }

    void SendPublicKey(ServerEnd& wire) {
        const BIGNUM* sn = RSA_get0_n(server_key);
        const BIGNUM* hn = RSA_get0_n(host_key);
        std::string payload = cookie;
        payload += BigEndian(announced_server_bits >= 0 ? announced_server_bits : BN_num_bits(sn));
        payload += Mpint1(RSA_get0_e(server_key)) + Mpint1(sn);
        payload += BigEndian(announced_host_bits >= 0 ? announced_host_bits : BN_num_bits(hn));
        payload += Mpint1(RSA_get0_e(host_key)) + Mpint1(hn);
        payload += BigEndian(0) + BigEndian(cipher_mask) + BigEndian(auth_mask) + public_key_tail;
        wire.Send(SSH_SMSG_PUBLIC_KEY, payload);
        session_id = Md5(BnBytes(hn) + BnBytes(sn) + cookie);
    }

    void Handle(ServerEnd& wire, int type) {
        PacketContext* s = wire.Server();
        switch (type) {
            case SSH_CMSG_SESSION_KEY: {
                cipher = packet_get_char(s);
                for (int i = 0; i < 8; i++) cookie_back += static_cast<char>(packet_get_char(s));
                BnHandle k(BN_new());
                packet_get_bignum(s, k.get(), nullptr);
                client_flags = packet_get_int(s);
                // The larger key was applied last, so it is taken off first.
                bool server_smaller = BN_cmp(RSA_get0_n(server_key), RSA_get0_n(host_key)) < 0;
                RSA* outer = server_smaller ? host_key : server_key;
                RSA* inner = server_smaller ? server_key : host_key;
                std::string bytes =
                    LibraryRsaDecrypt(inner, LibraryRsaDecrypt(outer, BnBytes(k.get())));
                bytes.insert(0, 32 - std::min<size_t>(32, bytes.size()), '\0');
                for (int i = 0; i < 16; i++) bytes[i] ^= session_id[i];
                session_key = bytes;
                packet_set_encryption_key(s, reinterpret_cast<const unsigned char*>(bytes.data()),
                                          32, cipher);
                if (answer_session_key != 0) wire.Send(answer_session_key);
                break;
            }
            case SSH_CMSG_USER: {
                XmallocPtr<char> name(static_cast<char*>(packet_get_string(s, nullptr)));
                user = name.get();
                wire.Send(answer_user);
                break;
            }
            case SSH_CMSG_AUTH_PASSWORD: {
                XmallocPtr<char> text(static_cast<char*>(packet_get_string(s, nullptr)));
                password_tried = text.get();
                if (answer_password_other != 0) {
                    wire.Send(answer_password_other);
                } else {
                    wire.Send(password_tried == password ? SSH_SMSG_SUCCESS : SSH_SMSG_FAILURE);
                }
                break;
            }
            case SSH_CMSG_AUTH_RSA: {
                BnHandle n(BN_new());
                packet_get_bignum(s, n.get(), nullptr);
                rsa_modulus = BnBytes(n.get());
                if (answer_rsa_other != 0) {
                    wire.Send(answer_rsa_other);
                } else if (user_key == nullptr || BN_cmp(n.get(), RSA_get0_n(user_key)) != 0) {
                    wire.Send(SSH_SMSG_FAILURE);
                } else {
                    BnHandle number = BnFromBytes(LibraryRsaEncrypt(user_key, challenge));
                    wire.Send(SSH_SMSG_AUTH_RSA_CHALLENGE, Mpint1(number.get()) + challenge_tail);
                    // The answer pads the challenge to 32 bytes on the left.
                    std::string padded = challenge;
                    size_t start = padded.find_first_not_of('\0');
                    padded = start == std::string::npos ? "" : padded.substr(start);
                    padded.insert(0, 32 - std::min<size_t>(32, padded.size()), '\0');
                    response_expected = Md5(padded + session_id);
                }
                break;
            }
            case SSH_CMSG_AUTH_RSA_RESPONSE: {
                for (int i = 0; i < 16; i++) response += static_cast<char>(packet_get_char(s));
                if (answer_response_other != 0) {
                    wire.Send(answer_response_other);
                } else {
                    wire.Send(response == response_expected ? SSH_SMSG_SUCCESS : SSH_SMSG_FAILURE);
                }
                break;
            }
            default:
                if (!other || !other(wire, type)) other_types += std::to_string(type) + " ";
        }
    }
};
