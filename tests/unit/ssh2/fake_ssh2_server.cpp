#include "fake_ssh2_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/dh.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ssh/keys/authfile.h"
#include "ssh/keys/dsa.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr int kWaitMs = 10000;

void EndWrite(PacketContext* context, const void* bytes, uint32_t n) {
    const int fd = reinterpret_cast<FakeSsh2End*>(context)->fd;
    const char* p = static_cast<const char*>(bytes);
    while (n > 0) {
        pollfd w{fd, POLLOUT, 0};
        if (poll(&w, 1, kWaitMs) <= 0) throw std::runtime_error("fake server: write stalled");
        const ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw std::runtime_error("fake server: write failed");
        }
        p += sent;
        n -= static_cast<uint32_t>(sent);
    }
}

// A silent peer reads as a closed one, so no test waits for ever.
int EndRead(PacketContext* context, void* buffer, uint32_t n) {
    pollfd r{reinterpret_cast<FakeSsh2End*>(context)->fd, POLLIN, 0};
    if (poll(&r, 1, kWaitMs) <= 0) return 0;
    return static_cast<int>(recv(r.fd, buffer, n, 0));
}

const char* const kKeyFile = QUENLOR_TEST_DATA "/ssh2/user_dsa";

}  // namespace

void FakeSsh2Attach(FakeSsh2End* end, int fd) {
    end->fd = fd;
    packet_set_io_hooks(&end->context, EndWrite, EndRead);
    end->context.compat20 = 1;
    packet_set_ssh2_format(&end->context);
}

uint32_t WireGetU32(const std::string& bytes, std::size_t offset) {
    uint32_t value = 0;
    for (std::size_t i = offset; i < offset + 4 && i < bytes.size(); i++)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

FakeSsh2Server::FakeSsh2Server() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
    FakeSsh2Attach(&client_, fds[0]);
    FakeSsh2Attach(&server_, fds[1]);
    client_.context.client_version_string = xstrdup("SSH-2.1-Quenlor_3.24.00");
    client_.context.server_version_string = xstrdup("SSH-2.0-FakeServer");
    host_key_ = key_new(KEY_DSA);
    if (!load_private_key_file(kKeyFile, "", host_key_, nullptr))
        throw std::runtime_error("fake server: no host key");
}

FakeSsh2Server::~FakeSsh2Server() {
    packet_free(&client_.context);
    packet_free(&server_.context);
    key_free(host_key_);
    close(client_.fd);
    close(server_.fd);
}

void FakeSsh2Server::Send(int type, const std::string& payload) {
    packet_start(Server(), type);
    packet_put_raw(Server(), payload.data(), static_cast<uint32_t>(payload.size()));
    packet_send(Server());
    packet_write_wait(Server());
}

std::pair<int, std::string> FakeSsh2Server::Read() {
    int type = 0;
    try {
        type = packet_read(Server(), nullptr);
    } catch (...) {
        return {0, ""};
    }
    int n = 0;
    unsigned char* bytes = packet_get_raw(Server(), &n);
    std::string payload(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
    buffer_consume(&server_.context.incoming_packet, static_cast<uint32_t>(n));
    return {type, payload};
}

void FakeSsh2Server::ShutdownWrite() {
    shutdown(server_.fd, SHUT_WR);
}

std::string FakeSsh2Server::ServerKexinit(const char* ciphers) {
    const char* lists[PROPOSAL_MAX] = {KEX_DH1,     "ssh-dss", ciphers, ciphers, "hmac-sha1",
                                       "hmac-sha1", "none",    "none",  "",      ""};
    ScopedBuffer kexinit;
    kex_build_kexinit(kexinit.get(), lists);
    return std::string(reinterpret_cast<char*>(buffer_ptr(kexinit.get())),
                       buffer_len(kexinit.get()));
}

void FakeSsh2Server::Kex(bool server_first, std::vector<std::pair<int, std::string>>* before,
                         const char* ciphers) {
    const std::string server_payload = ServerKexinit(ciphers);
    if (server_first) Send(SSH2_MSG_KEXINIT, server_payload);
    std::string client_payload;
    for (;;) {
        auto [type, payload] = Read();
        if (type == 0) throw std::runtime_error("fake server: no KEXINIT from the client");
        if (type == SSH2_MSG_KEXINIT) {
            client_payload = payload;
            break;
        }
        if (before != nullptr) before->emplace_back(type, payload);
    }
    if (!server_first) Send(SSH2_MSG_KEXINIT, server_payload);
    Agree(client_payload, server_payload, ciphers);
}

void FakeSsh2Server::KexAfterClientKexinit(const std::string& client_payload, const char* ciphers) {
    const std::string server_payload = ServerKexinit(ciphers);
    Send(SSH2_MSG_KEXINIT, server_payload);
    Agree(client_payload, server_payload, ciphers);
}

void FakeSsh2Server::Agree(const std::string& client_payload, const std::string& server_payload,
                           const char* ciphers) {
    const char* lists[PROPOSAL_MAX] = {KEX_DH1,     "ssh-dss", ciphers, ciphers, "hmac-sha1",
                                       "hmac-sha1", "none",    "none",  "",      ""};
    auto [type, init] = Read();
    if (type != SSH2_MSG_KEXDH_INIT) throw std::runtime_error("fake server: no KEXDH_INIT");
    ScopedBuffer in;
    buffer_append(in.get(), init.data(), static_cast<uint32_t>(init.size()));
    BignumPtr e(BN_new());
    buffer_get_bignum2(in.get(), e.get());

    DH* dh = dh_new_group1();
    const BIGNUM* f = DH_get0_pub_key(dh);
    std::string secret(static_cast<size_t>(DH_size(dh)), '\0');
    const int secret_length =
        DH_compute_key(reinterpret_cast<unsigned char*>(secret.data()), e.get(), dh);
    BignumPtr k(BN_bin2bn(reinterpret_cast<unsigned char*>(secret.data()), secret_length, nullptr));

    unsigned char* blob = nullptr;
    uint32_t blob_length = 0;
    dsa_key_to_blob(host_key_, &blob, &blob_length);
    const std::string host_blob(reinterpret_cast<char*>(blob), blob_length);
    xfree(blob);
    unsigned char hash[20];
    kex_exchange_hash("SSH-2.1-Quenlor_3.24.00", "SSH-2.0-FakeServer",
                      reinterpret_cast<const unsigned char*>(client_payload.data()),
                      static_cast<uint32_t>(client_payload.size()),
                      reinterpret_cast<const unsigned char*>(server_payload.data()),
                      static_cast<uint32_t>(server_payload.size()),
                      reinterpret_cast<const unsigned char*>(host_blob.data()), blob_length,
                      e.get(), f, k.get(), hash);
    unsigned char* signature = nullptr;
    uint32_t signature_length = 0;
    dsa_sign(host_key_, &signature, &signature_length, hash, sizeof hash, 0);

    ScopedBuffer reply;
    buffer_put_string(reply.get(), host_blob.data(), blob_length);
    buffer_put_bignum2(reply.get(), f);
    buffer_put_string(reply.get(), signature, signature_length);
    xfree(signature);
    Send(SSH2_MSG_KEXDH_REPLY,
         std::string(reinterpret_cast<char*>(buffer_ptr(reply.get())), buffer_len(reply.get())));

    // Keys as the client sees them, then turned round for this side.
    PacketContext options{};
    const char* client_lists[PROPOSAL_MAX];
    kex_make_proposal(&options, client_lists);
    char* chosen_lists[PROPOSAL_MAX];
    std::vector<std::string> texts(lists, lists + PROPOSAL_MAX);
    for (int i = 0; i < PROPOSAL_MAX; i++) chosen_lists[i] = texts[i].data();
    KexResult* kex = kex_choose(&options, client_lists, chosen_lists);
    const bool first = session_id_.empty();
    if (first) session_id_.assign(reinterpret_cast<char*>(hash), sizeof hash);
    kex_derive_all(kex, hash, k.get(),
                   first ? nullptr : reinterpret_cast<const unsigned char*>(session_id_.data()));
    std::swap(kex->enc[0], kex->enc[1]);
    std::swap(kex->mac[0], kex->mac[1]);
    std::swap(kex->comp[0], kex->comp[1]);
    kex->server = 1;
    DH_free(dh);
    packet_set_kex(Server(), kex);
    Send(SSH2_MSG_NEWKEYS);
    auto [last, rest] = Read();
    if (last != SSH2_MSG_NEWKEYS) throw std::runtime_error("fake server: no NEWKEYS");
}
