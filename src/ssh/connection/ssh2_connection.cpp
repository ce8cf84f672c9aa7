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
}

int TSSH2Connection::GetBuffer(char* buffer, unsigned length, bool raw) {
    if (raw) return InternalGetBuffer(buffer, length);
    bool closed = false;
    int count = 0;
    try {
        count = ssh2_channel_read(&Context, &Channel, &SendLock, buffer, length, &closed);
    } catch (...) {
        // Whatever ends the reader ends the channel: a writer waiting for
        // the window or a key exchange must not wait on.
        Channel.gate.Close();
        throw;
    }
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
    try {
        LoginSteps();
    } catch (...) {
        // A writer that came early waits for a window that will never open.
        Channel.gate.Close();
        throw;
    }
}

void TSSH2Connection::LoginSteps() {
    InstallHooks();
    Context.compat20 = 1;
    packet_set_ssh2_format(&Context);
    ExchangeVersions();
    CopyHostSettings();

    Channel.rekey.byte_limit = Host->GetRekeyBytes();
    Channel.rekey.second_limit = Host->GetRekeySeconds();
    ssh2_key_exchange(&Context);
    Channel.rekey.keys_since = std::chrono::steady_clock::now();

    Ssh2AuthOptions options = ssh2_auth_options(*Host, AuthPrompter, PasswordPrompted);
    ssh2_authenticate(&Context, &options);
    WipeString(&options.password);

    ssh2_channel_open(&Context, &Channel, &SendLock);
    // The pseudo-terminal gets the session screen's size (the terminal's,
    // less the status row while that is shown).
    int columns = 80;
    int rows = 25;
    if (Console != nullptr && Console->IsScreenInUse(Screen)) {
        columns = Console->GetScreen(Screen).Width;
        rows = Console->GetScreen(Screen).Height;
    } else if (Console != nullptr) {
        Console->GetSize(columns, rows);
    }
    ssh2_channel_request_pty(&Context, &Channel, &SendLock, Host->GetTerminalType().c_str(),
                             static_cast<int16_t>(columns), static_cast<int16_t>(rows));
    ssh2_channel_request_shell(&Context, &Channel, &SendLock);
}

void TSSH2Connection::SetWindowSize(int columns, int rows) {
    ssh2_channel_window_change(&Context, &Channel, &SendLock, columns, rows);
}

bool TSSH2Connection::ReportWindowSize(const COORD* size) {
    if (size == nullptr) return false;
    SetWindowSize(size->X, size->Y);
    return true;
}
