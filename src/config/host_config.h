// One host definition of the configuration file.
#pragma once

#include <cstdint>
#include <string>

#include "base/secret_string.h"

// Values of THostConfig::Protocol; the number is the position of the name in
// the list DecodeAddress knows ("telnet", "ssh", "file", "ssh2", "serial").
constexpr int kProtocolTelnet = 0;
// The configurable SSH-2 algorithm lists: SSH_KEX, SSH_HOSTKEYS, SSH_CIPHERS,
// SSH_MACS.
enum TSshAlgorithmKind { kSshKex, kSshHostKeys, kSshCiphers, kSshMacs, kSshAlgorithmKinds };

constexpr int kProtocolSsh = 1;
constexpr int kProtocolFile = 2;
constexpr int kProtocolSsh2 = 3;
constexpr int kProtocolSerial = 4;

// Values of THostConfig::ConsoleType.
constexpr int kConsoleNcsa = 0;
constexpr int kConsoleStd = 1;

// Values of THostConfig::LogMode. Only full logging writes anything.
constexpr int kLogNone = 0;
constexpr int kLogText = 1;
constexpr int kLogFull = 2;

// Values of THostConfig::AuthType.
constexpr int kAuthPassword = 1;
constexpr int kAuthRsa = 2;
constexpr int kAuthDsa = 3;
constexpr int kAuthKey = 4;    // a key file of any type (SSH-2)
constexpr int kAuthAgent = 5;  // the keys of the SSH agent (SSH-2)

// Values of THostConfig::HostKeyCheck: what an unknown or changed SSH host
// key meets.
constexpr int kHostKeyCheckAsk = 0;        // unknown: ask; changed: refuse
constexpr int kHostKeyCheckAcceptNew = 1;  // unknown: record; changed: refuse
constexpr int kHostKeyCheckStrict = 2;     // unknown and changed: refuse
constexpr int kHostKeyCheckOff = 3;        // the signature alone decides

// The known-hosts file shared with OpenSSH's tools unless set otherwise.
constexpr const char* kDefaultKnownHosts = "~/.ssh/known_hosts";

// A plain value: copying duplicates every text, so each session can own and
// edit its copy (User and Password are filled in from prompts) without
// touching the configuration's table.
//
// An absent text is the empty string: no reader needs to tell "never set"
// from "set to nothing" (a missing user name or password is prompted for in
// both cases), and an empty string cannot be dereferenced by mistake.
class THostConfig {
  public:
    THostConfig() = default;

    // Host name or address; for the protocol "file" the replay file name.
    const std::string& GetAddress() const { return Address; }
    void SetAddress(const std::string& value) { Address = value; }
    // kConsoleNcsa or kConsoleStd; only the host "default" is consulted.
    int GetConsoleType() const { return ConsoleType; }
    void SetConsoleType(int value) { ConsoleType = value; }
    // The bell character sounds.
    bool GetEnableBeep() const { return EnableBeep; }
    void SetEnableBeep(bool value) { EnableBeep = value; }
    // The host's name goes to the connect history when defined and used.
    bool GetHistorable() const { return Historable; }
    void SetHistorable(bool value) { Historable = value; }
    // The selection stays marked after copying.
    bool GetKeepSelection() const { return KeepSelection; }
    void SetKeepSelection(bool value) { KeepSelection = value; }
    // kHostKeyCheckAsk ... kHostKeyCheckOff.
    int GetHostKeyCheck() const { return HostKeyCheck; }
    void SetHostKeyCheck(int value) { HostKeyCheck = value; }
    // Known-hosts file; "~/" stands for the home folder.
    const std::string& GetKnownHosts() const { return KnownHosts; }
    void SetKnownHosts(const std::string& value) { KnownHosts = value; }
    // Private key file for public-key login.
    const std::string& GetKeyFile() const { return KeyFile; }
    void SetKeyFile(const std::string& value) { KeyFile = value; }
    // Raw log file and its mode (kLogNone / kLogText / kLogFull).
    const std::string& GetLogFile() const { return LogFile; }
    void SetLogFile(const std::string& value) { LogFile = value; }
    int GetLogMode() const { return LogMode; }
    void SetLogMode(int value) { LogMode = value; }
    // The host's name, as typed at a prompt or given in DEFINE_HOST.
    const std::string& GetName() const { return Name; }
    void SetName(const std::string& value) { Name = value; }
    // Password for password login; its bytes are wiped whenever it is
    // replaced, wiped or its holder goes away.
    const std::string& GetPassword() const { return Password.Get(); }
    void SetPassword(const std::string& value) { Password.Assign(value); }
    void WipePassword() { Password.Wipe(); }
    // TCP port, -1 for "file" and "serial".
    int GetPort() const { return Port; }
    void SetPort(int value) { Port = value; }
    // kProtocolTelnet ... kProtocolSerial.
    int GetProtocol() const { return Protocol; }
    void SetProtocol(int value) { Protocol = value; }
    // Scroll-back lines kept for the session's screen; 0 keeps none. Never
    // negative when it comes from a configuration file.
    int GetMaxScrollSize() const { return MaxScrollSize; }
    void SetMaxScrollSize(int value) { MaxScrollSize = value; }
    // kAuthPassword, kAuthRsa, kAuthDsa, kAuthKey or kAuthAgent.
    int GetAuthType() const { return AuthType; }
    void SetAuthType(int value) { AuthType = value; }
    // Index into TTelnetConfig's tables for bytes from the host.
    int GetIncomingTable() const { return IncomingTable; }
    void SetIncomingTable(int value) { IncomingTable = value; }
    // Index into TTelnetConfig's tables for bytes typed by the user.
    int GetOutgoingTable() const { return OutgoingTable; }
    void SetOutgoingTable(int value) { OutgoingTable = value; }
    // Termcap database file and the terminal type looked up in it.
    const std::string& GetTermcapFile() const { return TermcapFile; }
    void SetTermcapFile(const std::string& value) { TermcapFile = value; }
    const std::string& GetTerminalType() const { return TerminalType; }
    void SetTerminalType(const std::string& value) { TerminalType = value; }
    // SSH-2 re-keying: after this many bytes in either direction, or this
    // many seconds, whichever comes first; 0 turns a limit off.
    uint64_t GetRekeyBytes() const { return RekeyBytes; }
    void SetRekeyBytes(uint64_t value) { RekeyBytes = value; }
    int64_t GetRekeySeconds() const { return RekeySeconds; }
    void SetRekeySeconds(int64_t value) { RekeySeconds = value; }
    // Login user name.
    const std::string& GetUser() const { return User; }
    void SetUser(const std::string& value) { User = value; }

    // SSH-2 algorithm lists (comma lists as configured; empty: the default
    // offer). Index by TSshAlgorithmKind.
    const std::string& GetSshAlgorithms(int kind) const { return SshAlgorithms[kind]; }
    void SetSshAlgorithms(int kind, const std::string& value) { SshAlgorithms[kind] = value; }

  private:
    std::string Address;
    int ConsoleType = kConsoleNcsa;
    bool EnableBeep = true;
    bool Historable = true;
    bool KeepSelection = false;
    int HostKeyCheck = kHostKeyCheckAsk;
    std::string KnownHosts = kDefaultKnownHosts;
    std::string KeyFile;
    std::string LogFile;
    int LogMode = kLogNone;
    std::string Name;
    TSecretString Password;
    int Port = 23;
    int Protocol = kProtocolTelnet;
    int MaxScrollSize = 256;
    int AuthType = kAuthPassword;
    int IncomingTable = 0;
    int OutgoingTable = 1;
    std::string TermcapFile = "termcap";
    std::string TerminalType;
    uint64_t RekeyBytes = uint64_t{1} << 30;
    int64_t RekeySeconds = 3600;
    std::string User;
    std::string SshAlgorithms[4];
};
