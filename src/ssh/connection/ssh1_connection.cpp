#include "ssh/connection/ssh1_connection.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "config/host_config.h"
#include "console/console.h"
#include "ssh/auth/sshconnect1.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh1.h"
#include "ssh/wire/xmalloc.h"

namespace {

// Keystrokes and pastes travel in packets of at most this much data, well
// below the packet size every protocol-1 server accepts.
constexpr unsigned kMaxStdinData = 16384;

// The screen size the pseudo-terminal starts with when no console exists.
constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = 25;

void send_and_wait(PacketContext* context) {
    packet_send(context);
    packet_write_wait(context);
}

}  // namespace

TSSH1Connection::TSSH1Connection(const THostConfig* host, int screen)
    : TSSHConnection(host, screen) {
    ProtocolMajor = 1;
    ProtocolMinor = 5;
}

int TSSH1Connection::GetBuffer(char* buffer, unsigned length, bool raw) {
    if (raw) return InternalGetBuffer(buffer, length);
    if (length == 0) return 0;
    if (!Pending.empty()) {
        unsigned count = static_cast<unsigned>(std::min<size_t>(length, Pending.size()));
        std::memcpy(buffer, Pending.data(), count);
        Pending.erase(0, count);
        return static_cast<int>(count);
    }

    int type = packet_read(&Context, nullptr);
    if (type == SSH_SMSG_EXITSTATUS) {
        packet_get_int(&Context);  // the shell's exit status is not shown
        {
            TLockGuard lock(SendLock);
            packet_start(&Context, SSH_CMSG_EXIT_CONFIRMATION);
            send_and_wait(&Context);
        }
        SetState(kStateClosed);
        return 0;
    }
    // Standard output and standard error alike.
    uint32_t size = 0;
    XmallocPtr<char> data(static_cast<char*>(packet_get_string(&Context, &size)));
    unsigned count = std::min<unsigned>(length, size);
    std::memcpy(buffer, data.get(), count);
    if (size > count) Pending.assign(data.get() + count, size - count);
    return static_cast<int>(count);
}

void TSSH1Connection::PutBuffer(const char* buffer, unsigned length, bool raw) {
    if (raw) {
        InternalPutBuffer(buffer, length);
        return;
    }
    for (unsigned done = 0; done < length;) {
        unsigned chunk = std::min(length - done, kMaxStdinData);
        TLockGuard lock(SendLock);
        packet_start(&Context, SSH_CMSG_STDIN_DATA);
        packet_put_string(&Context, buffer + done, chunk);
        send_and_wait(&Context);
        done += chunk;
    }
}

void TSSH1Connection::Login() {
    InstallHooks();
    Context.cipher_type = SSH_CIPHER_3DES;
    ExchangeVersions();
    CopyHostSettings();

    ssh1_key_exchange(&Context);

    switch (Host->GetAuthType()) {
        case kAuthPassword:
            ssh_userauth(&Context, Host->GetUser().c_str(), kSsh1MethodPassword);
            break;
        case kAuthRsa:
            ssh_userauth(&Context, Host->GetUser().c_str(), kSsh1MethodRsa);
            break;
        default:
            ThrowError("TSSHConnection::Login. Unknown authentication method.");
    }

    int columns = kDefaultColumns;
    int rows = kDefaultRows;
    if (Console != nullptr) {
        const ScreenRecord& screen = Console->GetScreen(Screen);
        columns = screen.Width;
        rows = screen.Height;
    }
    {
        TLockGuard lock(SendLock);
        packet_start(&Context, SSH_CMSG_REQUEST_PTY);
        packet_put_cstring(&Context, Host->GetTerminalType().c_str());
        packet_put_int(&Context, static_cast<uint32_t>(rows));
        packet_put_int(&Context, static_cast<uint32_t>(columns));
        packet_put_int(&Context, 0);  // pixel sizes
        packet_put_int(&Context, 0);
        packet_put_char(&Context, 0);  // no terminal modes
        send_and_wait(&Context);
    }
    int type = packet_read(&Context, nullptr);
    if (type != SSH_SMSG_SUCCESS)
        ThrowError("TSSH1Connection::Login. Unable to request pseudo-terminal. Packet type = %d.",
                   type);

    TLockGuard lock(SendLock);
    packet_start(&Context, SSH_CMSG_EXEC_SHELL);
    send_and_wait(&Context);
}

void TSSH1Connection::SetWindowSize(int columns, int rows) {
    TLockGuard lock(SendLock);
    packet_start(&Context, SSH_CMSG_WINDOW_SIZE);
    packet_put_int(&Context, static_cast<uint32_t>(rows));
    packet_put_int(&Context, static_cast<uint32_t>(columns));
    packet_put_int(&Context, 0);  // pixel sizes
    packet_put_int(&Context, 0);
    send_and_wait(&Context);
}

bool TSSH1Connection::ReportWindowSize(const COORD* size) {
    SetWindowSize(size->X, size->Y);
    return true;
}
