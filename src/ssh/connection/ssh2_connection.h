// SSH protocol 2 behind the connection interface: key exchange, one
// authentication attempt, one session channel with a pseudo-terminal and a
// shell, then terminal data both ways. Announces itself as version 2.1.
#pragma once

#include "ssh/connection/ssh2_channel.h"
#include "ssh/connection/ssh_connection.h"

class TSSH2Connection : public TSSHConnection {
  public:
    TSSH2Connection(const THostConfig* host, int screen);

    // raw = true reads and writes the socket itself (the packet layer's path).
    int GetBuffer(char* buffer, unsigned length, bool raw) override;
    void PutBuffer(const char* buffer, unsigned length, bool raw) override;
    // Uses the host's User, Password, KeyFile, AuthType and TerminalType.
    void Login() override;
    // A "window-change" request on the session channel.
    void SetWindowSize(int columns, int rows) override;
    Ssh2Channel* GetChannel() { return &Channel; }
    bool ReportWindowSize(const COORD* size) override;

  private:
    void LoginSteps();

    Ssh2Channel Channel;
};
