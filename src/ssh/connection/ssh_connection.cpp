#include "ssh/connection/ssh_connection.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

#include "base/exception.h"
#include "config/host_config.h"
#include "ssh/keys/key_file_mode.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/kex_result.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr int kLineSize = 256;

}  // namespace

TSSHConnection::TSSHConnection(const THostConfig* host, int screen) : TTCPConnection(host, screen) {
    Context.owner = this;
}

std::string TSSHConnection::GetCipherName() const {
    if (Context.kex != nullptr && Context.kex->enc[MODE_OUT].name != nullptr)
        return Context.kex->enc[MODE_OUT].name;
    if (Context.ssh1_cipher > 0) return cipher_name(Context.ssh1_cipher);
    return {};
}

TSSHConnection::~TSSHConnection() {
    packet_free(&Context);
}

void TSSHConnection::InstallHooks() {
    packet_set_io_hooks(&Context, WriteHook, ReadHook);
    fatal_set_hook(FatalHook);
}

void TSSHConnection::WriteHook(PacketContext* context, const void* bytes, uint32_t n) {
    context->owner->PutBuffer(static_cast<const char*>(bytes), n, true);
}

int TSSHConnection::ReadHook(PacketContext* context, void* buffer, uint32_t n) {
    return context->owner->GetBuffer(static_cast<char*>(buffer), n, true);
}

void TSSHConnection::FatalHook(const char* text) {
    throw TException(text);
}

void TSSHConnection::ExchangeVersions() {
    char line[kLineSize];
    for (;;) {
        // One byte per receive, so nothing after the line feed is taken from
        // the socket. The text ends at a carriage return or line feed; what
        // follows a carriage return up to the line feed is dropped. A line
        // that fills the buffer ends there and loses its last character.
        int length = 0;
        bool text_ended = false;
        for (;;) {
            char c;
            const long got = ReceiveSome(&c, 1);
            if (got == 0)
                ThrowError("TSSHConnection::ExchangeVersions. Connection closed by foreign host.");
            if (got < 0)
                ThrowError("TSSHConnection::ExchangeVersions. Read error: %.100s",
                           std::strerror(errno));
            if (c == '\n') break;
            if (c == '\r') text_ended = true;
            if (text_ended) continue;
            line[length++] = c;
            if (length == kLineSize - 1) {
                length--;
                break;
            }
        }
        line[length] = '\0';
        if (std::strncmp(line, "SSH-", 4) == 0) break;
    }

    char* stored = xstrdup(line);
    if (Context.server_version_string != nullptr) xfree(Context.server_version_string);
    Context.server_version_string = stored;

    int remote_major = 0;
    int remote_minor = 0;
    char remote_version[kLineSize];
    if (std::sscanf(line, "SSH-%d.%d-%255[^\n]", &remote_major, &remote_minor, remote_version) != 3)
        ThrowError(
            "TSSHConnection::ExchangeVersions. Bad remote protocol version identification: "
            "'%.100s'",
            line);
    if (remote_major == 1 && remote_minor == 99 && ProtocolMajor == 2) {
        remote_major = 2;
        remote_minor = 0;
    }
    if (remote_major != ProtocolMajor)
        ThrowError(
            "TSSHConnection::ExchangeVersions. Protocol versions incompatible, remote major: %d, "
            "local major: %d.",
            remote_major, ProtocolMajor);

    char own[kLineSize];
    const int own_length = std::snprintf(own, sizeof own, "SSH-%d.%d-%s\n", ProtocolMajor,
                                         ProtocolMinor, kClientSoftwareVersion);
    const int error = SendAll(own, static_cast<std::size_t>(own_length));
    if (error != 0)
        ThrowError("TSSHConnection::ExchangeVersions. Write error: %.100s", std::strerror(error));
    own[own_length - 1] = '\0';
    stored = xstrdup(own);
    if (Context.client_version_string != nullptr) xfree(Context.client_version_string);
    Context.client_version_string = stored;

    LookupCompatFlags(remote_version);
}

void TSSHConnection::LookupCompatFlags(const char* version) {
    Context.datafellows = compat_datafellows(version);
    if (Context.datafellows != 0)
        debug("compat: server %.100s has bits 0x%x", version, Context.datafellows);
}

void TSSHConnection::CopyHostSettings() {
    // An empty text is how the host definition says "not set".
    if (!Host->GetPassword().empty()) {
        if (Context.password != nullptr) {
            OPENSSL_cleanse(Context.password, std::strlen(Context.password));
            xfree(Context.password);
        }
        Context.password = xstrdup(Host->GetPassword().c_str());
    }
    if (!Host->GetKeyFile().empty()) {
        key_file_check_mode(Host->GetKeyFile().c_str());
        if (Context.keyfile != nullptr) xfree(Context.keyfile);
        Context.keyfile = xstrdup(Host->GetKeyFile().c_str());
    }
    auto copy_list = [&](char*& field, int kind, const char* suffix) {
        const std::string& list = Host->GetSshAlgorithms(kind);
        if (list.empty()) return;
        if (field != nullptr) xfree(field);
        field = xstrdup((list + suffix).c_str());
    };
    // The configured key exchange list still asks for the server's extensions.
    copy_list(Context.kex_list, kSshKex, std::string(",").append(KEX_EXT_INFO_C).c_str());
    copy_list(Context.hostkey_list, kSshHostKeys, "");
    copy_list(Context.cipher_list, kSshCiphers, "");
    copy_list(Context.mac_list, kSshMacs, "");
}
