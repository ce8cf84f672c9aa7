#include "ssh/connection/ssh2_connection.h"

#include "base/exception.h"
#include "config/host_config.h"
#include "console/console.h"
#include "ssh/auth/auth_options.h"
#include "ssh/auth/sshconnect2.h"
#include "ssh/transport/kex.h"

TSSH2Connection::TSSH2Connection(const THostConfig* host, int screen)
    : TSSHConnection(host, screen) {
    ProtocolMajor = 2;
    ProtocolMinor = 1;
    Channel.window_size = kChannelWindowSize;
    Channel.consumed = 0;
}

int TSSH2Connection::GetBuffer(char* buffer, unsigned length, bool raw) {
    if (raw) return InternalGetBuffer(buffer, length);
    bool closed = false;
    const int count = ssh2_channel_read(&Context, &Channel, &SendLock, buffer, length, &closed);
    if (closed) SetState(kStateClosed);
    return count;
}

void TSSH2Connection::PutBuffer(const char* buffer, unsigned length, bool raw) {
    if (raw) {
        InternalPutBuffer(buffer, length);
        return;
    }
    if (length == 0) return;
    ssh2_channel_write(&Context, &Channel, &SendLock, buffer, length);
}

void TSSH2Connection::Login() {
    InstallHooks();
    Context.compat20 = 1;
    packet_set_ssh2_format(&Context);
    ExchangeVersions();
    CopyHostSettings();

    ssh2_key_exchange(&Context);

    Ssh2AuthOptions options = ssh2_auth_options(*Host, AuthPrompter, PasswordPrompted);
    ssh2_authenticate(&Context, &options);
    WipeString(&options.password);

    ssh2_channel_open(&Context, &Channel, &SendLock);
    // The pseudo-terminal gets the real terminal's size, which every screen
    // shares.
    int columns = 80;
    int rows = 25;
    if (Console != nullptr) Console->GetSize(columns, rows);
    ssh2_channel_request_pty(&Context, &Channel, &SendLock, Host->GetTerminalType().c_str(),
                             static_cast<int16_t>(columns), static_cast<int16_t>(rows));
    ssh2_channel_request_shell(&Context, &Channel, &SendLock);
}

void TSSH2Connection::SetWindowSize(int, int) {}
