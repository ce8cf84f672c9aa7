// SSH protocol 1 behind the connection interface: session key exchange,
// one authentication attempt (password or RSA key), a pseudo-terminal and a
// shell, then terminal data both ways. Announces itself as version 1.5 and
// always asks for 3DES.
//
// Threads: the session thread constructs, calls Login and then GetBuffer; the
// input thread calls PutBuffer and SetWindowSize once Login has returned.
// Every packet sent after construction (login steps, keystrokes, window
// sizes and the exit confirmation the session thread sends while reading)
// goes out under SendLock, so two sends never interleave on the wire.
#pragma once

#include <string>

#include "ssh/connection/ssh_connection.h"

class TSSH1Connection : public TSSHConnection {
  public:
    TSSH1Connection(const THostConfig* host, int screen);

    // raw = true reads and writes the socket itself (the packet layer's path).
    // Otherwise GetBuffer returns the next standard output or error data; an
    // exit status is confirmed, closes the connection and returns 0. Data
    // longer than the caller's buffer is handed out over several calls.
    int GetBuffer(char* buffer, unsigned length, bool raw) override;
    // Sends the bytes as standard input data.
    void PutBuffer(const char* buffer, unsigned length, bool raw) override;
    // Uses the host's User, Password, KeyFile, AuthType and TerminalType;
    // the pseudo-terminal gets the size of the session's screen.
    void Login() override;
    // Tells the server the new terminal size.
    void SetWindowSize(int columns, int rows) override;
    // The connection interface's way to the same: X columns, Y rows.
    bool ReportWindowSize(const COORD* size) override;

  private:
    // Bytes of a data message that did not fit the caller's buffer.
    std::string Pending;
};
