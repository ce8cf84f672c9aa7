// What the SSH connections of both protocol versions share: the packet
// context with all protocol state, the identification exchange, the
// compatibility word of the server's software, the hooks through which the
// packet layer reaches this socket, and the send lock.
//
// Everything is per connection: two SSH sessions logging in at once in two
// threads never see each other's compatibility word, hooks or proposal.
//
// Threads: the session thread constructs, calls Login and then GetBuffer;
// the input thread calls PutBuffer (and SetWindowSize). Every complete
// packet send after construction holds SendLock, so the session thread's
// protocol answers and the input thread's data never interleave; no lock is
// held while reading, because only the session thread reads.
#pragma once

#include "net/tcp_connection.h"
#include "platform/sync.h"
#include "ssh/auth/auth_prompter.h"
#include "ssh/transport/packet.h"

// The software version this client announces.
constexpr const char* kClientSoftwareVersion = "Quenlor_3.24.00";

class TSSHConnection : public TTCPConnection {
  public:
    // Connects (TTCPConnection) and starts with an all-zero context.
    TSSHConnection(const THostConfig* host, int screen);
    // Releases everything the context holds (keys wiped); the socket closes
    // in TTCPConnection's destructor.
    ~TSSHConnection() override;

    // Tells the server the terminal size (columns, rows) where the protocol
    // version has a way to.
    virtual void SetWindowSize(int columns, int rows) = 0;

    // Reads the server's identification (lines before "SSH-" are dropped),
    // checks the protocol version, sends this side's line and records both
    // lines and the compatibility word in the context. Raises on failure.
    void ExchangeVersions();
    void LookupCompatFlags(const char* version);
    // Copies the host's password and key file (when set) into the context.
    void CopyHostSettings();

    // The hooks Login installs: the packet layer's socket I/O (per context)
    // and the fatal hook of the session thread.
    static void WriteHook(PacketContext* context, const void* bytes, uint32_t n);
    static int ReadHook(PacketContext* context, void* buffer, uint32_t n);
    [[noreturn]] static void FatalHook(const char* text);

    // Where the SSH-2 login asks the user (may stay null: nothing is asked),
    // and whether the host's password was typed at the login prompt rather
    // than configured. Set before Login.
    void SetAuthPrompter(Ssh2AuthPrompter* prompter, bool password_prompted) {
        AuthPrompter = prompter;
        PasswordPrompted = password_prompted;
    }

    PacketContext* GetContext() { return &Context; }
    // SSH-2: the cipher chosen for data to the server; SSH-1: the session
    // cipher.
    std::string GetCipherName() const override;
    int GetProtocolMajor() const { return ProtocolMajor; }
    int GetProtocolMinor() const { return ProtocolMinor; }

  protected:
    void InstallHooks();

    PacketContext Context{};
    int ProtocolMajor = 0;
    int ProtocolMinor = 0;
    TCriticalSection SendLock;
    Ssh2AuthPrompter* AuthPrompter = nullptr;
    bool PasswordPrompted = false;
};
