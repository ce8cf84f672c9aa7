#include "fake_ssh2_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
const char* const kClientVersion = "SSH-2.1-Quenlor_3.24.00";
const char* const kServerVersion = "SSH-2.0-FakeServer";

void EndWrite(PacketContext* context, const void* bytes, uint32_t n) {
    const int fd = reinterpret_cast<FakeSsh2Server::End*>(context)->fd;
    const char* p = static_cast<const char*>(bytes);
    while (n > 0) {
        pollfd w{fd, POLLOUT, 0};
        if (poll(&w, 1, kWaitMs) <= 0) throw std::runtime_error("fake server: write stalled");
        const ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno != EINTR && errno != EAGAIN)
            throw std::runtime_error("fake server: write failed");
        p += std::max<ssize_t>(sent, 0);
        n -= static_cast<uint32_t>(std::max<ssize_t>(sent, 0));
    }
}

// A silent peer reads as a closed one, so no test waits for ever.
int EndRead(PacketContext* context, void* buffer, uint32_t n) {
    pollfd r{reinterpret_cast<FakeSsh2Server::End*>(context)->fd, POLLIN, 0};
    if (poll(&r, 1, kWaitMs) <= 0) return 0;
    return static_cast<int>(recv(r.fd, buffer, n, 0));
}

std::string Text(Buffer* buffer) {
    return std::string(reinterpret_cast<char*>(buffer_ptr(buffer)), buffer_len(buffer));
}

}  // namespace

FakeSsh2Server::FakeSsh2Server() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
    for (int i = 0; i < 2; i++) {
        ends_[i].fd = fds[i];
        packet_set_io_hooks(&ends_[i].context, EndWrite, EndRead);
        ends_[i].context.compat20 = 1;
        packet_set_ssh2_format(&ends_[i].context);
    }
    Client()->client_version_string = xstrdup(kClientVersion);
    Client()->server_version_string = xstrdup(kServerVersion);
    host_key_ = key_new(KEY_DSA);
    if (!load_private_key_file(QUENLOR_TEST_DATA "/ssh2/user_dsa", "", host_key_, nullptr))
        throw std::runtime_error("fake server: no host key");
}

FakeSsh2Server::~FakeSsh2Server() {
    for (End& end : ends_) {
        packet_free(&end.context);
        close(end.fd);
    }
    key_free(host_key_);
}

void FakeSsh2Server::Send(int type, const std::string& payload) {
    packet_start(&ends_[1].context, type);
    packet_put_raw(&ends_[1].context, payload.data(), static_cast<uint32_t>(payload.size()));
    packet_send(&ends_[1].context);
    packet_write_wait(&ends_[1].context);
}

std::pair<int, std::string> FakeSsh2Server::Read() {
    int type = 0;
    try {
        type = packet_read(&ends_[1].context, nullptr);
    } catch (...) {
        return {0, ""};
    }
    int n = 0;
    unsigned char* bytes = packet_get_raw(&ends_[1].context, &n);
    std::string payload(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
    buffer_consume(&ends_[1].context.incoming_packet, static_cast<uint32_t>(n));
    return {type, payload};
}

void FakeSsh2Server::Kex(std::string client_kexinit, const char* ciphers, Messages* before) {
    std::string texts[PROPOSAL_MAX] = {KEX_DH1,     "ssh-dss", ciphers, ciphers, "hmac-sha1",
                                       "hmac-sha1", "none",    "none",  "",      ""};
    const char* lists[PROPOSAL_MAX];
    char* chosen[PROPOSAL_MAX];
    for (int i = 0; i < PROPOSAL_MAX; i++) chosen[i] = texts[i].data();
    std::copy(chosen, chosen + PROPOSAL_MAX, lists);
    ScopedBuffer kexinit;
    kex_build_kexinit(kexinit.get(), lists);
    const std::string server_kexinit = Text(kexinit.get());
    Send(SSH2_MSG_KEXINIT, server_kexinit);
    while (client_kexinit.empty()) {
        auto [type, payload] = Read();
        if (type == 0) throw std::runtime_error("fake server: no KEXINIT from the client");
        if (type == SSH2_MSG_KEXINIT)
            client_kexinit = payload;
        else if (before != nullptr)
            before->emplace_back(type, payload);
    }
    auto [type, init] = Read();
    if (type != SSH2_MSG_KEXDH_INIT) throw std::runtime_error("fake server: no KEXDH_INIT");
    ScopedBuffer in, reply;
    buffer_append(in.get(), init.data(), static_cast<uint32_t>(init.size()));
    BignumPtr e(BN_new());
    buffer_get_bignum2(in.get(), e.get());
    DH* dh = dh_new_group1();
    BignumPtr k(dh_shared_secret(dh, e.get()));
    unsigned char* blob = nullptr;
    uint32_t blob_length = 0;
    dsa_key_to_blob(host_key_, &blob, &blob_length);
    unsigned char hash[20];
    kex_exchange_hash(kClientVersion, kServerVersion,
                      reinterpret_cast<const unsigned char*>(client_kexinit.data()),
                      static_cast<uint32_t>(client_kexinit.size()),
                      reinterpret_cast<const unsigned char*>(server_kexinit.data()),
                      static_cast<uint32_t>(server_kexinit.size()), blob, blob_length, e.get(),
                      dh_public_value(dh), k.get(), hash);
    unsigned char* signature = nullptr;
    uint32_t signature_length = 0;
    dsa_sign(host_key_, &signature, &signature_length, hash, sizeof hash, 0);
    buffer_put_string(reply.get(), blob, blob_length);
    buffer_put_bignum2(reply.get(), dh_public_value(dh));
    buffer_put_string(reply.get(), signature, signature_length);
    xfree(signature);
    xfree(blob);
    dh_release(dh);
    Send(SSH2_MSG_KEXDH_REPLY, Text(reply.get()));

    // The keys as the client sees them, turned round for this side.
    PacketContext options{};
    kex_make_proposal(&options, lists);
    KexResult* kex = kex_choose(&options, lists, chosen);
    const bool first = session_id_.empty();
    if (first) session_id_.assign(reinterpret_cast<char*>(hash), sizeof hash);
    kex_derive_all(kex, hash, k.get(),
                   first ? nullptr : reinterpret_cast<const unsigned char*>(session_id_.data()));
    std::swap(kex->enc[0], kex->enc[1]);
    std::swap(kex->mac[0], kex->mac[1]);
    std::swap(kex->comp[0], kex->comp[1]);
    kex->server = 1;
    packet_set_kex(&ends_[1].context, kex);
    Send(SSH2_MSG_NEWKEYS);
    if (Read().first != SSH2_MSG_NEWKEYS) throw std::runtime_error("fake server: no NEWKEYS");
}
