#include "fake_ssh2_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "ssh/keys/authfile.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh2_test_support.h"

namespace {

const char* const kClientVersion = "SSH-2.1-Quenlor_3.24.00";
const char* const kServerVersion = "SSH-2.0-FakeServer";

// The sockets time out after ten seconds, so no test waits for ever; a
// silent peer reads as a closed one.
void EndWrite(PacketContext* context, const void* bytes, uint32_t n) {
    const int fd = reinterpret_cast<FakeSsh2Server::End*>(context)->fd;
    for (const char* p = static_cast<const char*>(bytes); n > 0;) {
        const ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) throw std::runtime_error("fake server: write stalled or failed");
        p += sent;
        n -= static_cast<uint32_t>(sent);
    }
}
int EndRead(PacketContext* context, void* buffer, uint32_t n) {
    const ssize_t got = recv(reinterpret_cast<FakeSsh2Server::End*>(context)->fd, buffer, n, 0);
    return got < 0 ? 0 : static_cast<int>(got);
}

}  // namespace

FakeSsh2Server::FakeSsh2Server() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
    const timeval wait{10, 0};
    for (int i = 0; i < 2; i++) {
        ends_[i].fd = fds[i];
        setsockopt(fds[i], SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        setsockopt(fds[i], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
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
    SendPacket(&ends_[1].context, type, payload);
}

std::pair<int, std::string> FakeSsh2Server::Read() {
    PacketContext* server = &ends_[1].context;
    int type = 0;
    try {
        type = packet_read(server, nullptr);
    } catch (...) {
        return {0, ""};
    }
    int n = 0;
    unsigned char* bytes = packet_get_raw(server, &n);
    const Bytes payload(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
    buffer_consume(&server->incoming_packet, static_cast<uint32_t>(n));
    return {type, payload};
}

void FakeSsh2Server::Kex(std::string client_kexinit, const char* ciphers, Messages* before) {
    std::string texts[PROPOSAL_MAX] = {KEX_DH1,     "ssh-dss", ciphers, ciphers, "hmac-sha1",
                                       "hmac-sha1", "none",    "none",  "",      ""};
    const char* lists[PROPOSAL_MAX];
    char* chosen[PROPOSAL_MAX];
    for (int i = 0; i < PROPOSAL_MAX; i++) lists[i] = chosen[i] = texts[i].data();
    ScopedBuffer kexinit, in, f;
    kex_build_kexinit(kexinit.get(), lists);
    const Bytes server_kexinit(reinterpret_cast<char*>(buffer_ptr(kexinit.get())),
                               buffer_len(kexinit.get()));
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
    buffer_append(in.get(), init.data(), static_cast<uint32_t>(init.size()));
    BignumPtr e(BN_new());
    buffer_get_bignum2(in.get(), e.get());
    DH* dh = dh_new_group1();
    BignumPtr k(dh_shared_secret(dh, e.get()));
    buffer_put_bignum2(f.get(), dh_public_value(dh));
    const Bytes blob = DsaBlob(host_key_);
    unsigned char hash[20];
    kex_exchange_hash(kClientVersion, kServerVersion,
                      reinterpret_cast<const unsigned char*>(client_kexinit.data()),
                      static_cast<uint32_t>(client_kexinit.size()),
                      reinterpret_cast<const unsigned char*>(server_kexinit.data()),
                      static_cast<uint32_t>(server_kexinit.size()),
                      reinterpret_cast<const unsigned char*>(blob.data()),
                      static_cast<uint32_t>(blob.size()), e.get(), dh_public_value(dh), k.get(),
                      hash);
    dh_release(dh);
    unsigned char* signature = nullptr;
    uint32_t length = 0;
    dsa_sign(host_key_, &signature, &length, hash, sizeof hash, 0);
    Send(SSH2_MSG_KEXDH_REPLY,
         Str(blob) + Bytes(reinterpret_cast<char*>(buffer_ptr(f.get())), buffer_len(f.get())) +
             Str(Bytes(reinterpret_cast<char*>(signature), length)));
    xfree(signature);

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
