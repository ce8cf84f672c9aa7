// The telnet protocol on the receiving side: commands are removed from the
// byte stream before the session sees it, and the server's option requests
// are answered. The client never starts a negotiation of its own.
#pragma once

#include <atomic>
#include <string>

#include "net/tcp_connection.h"

// Sub-negotiations longer than this (bytes after IAC SB, the option byte
// included, the closing IAC SE not) are given up: the bytes seen so far are
// dropped and the stream is read as usual again, so a server that never closes
// one cannot swallow the session's output.
constexpr unsigned kMaxSubnegotiationLength = 1024;

// Answers: DO for BINARY, ECHO, SGA and TERMINAL-TYPE is accepted (WILL),
// DO NAWS is accepted and the session screen's size sent at once, DO
// NEW-ENVIRON is accepted when the host has a user name; WILL for those four
// options is answered DO; everything else is refused (WONT / DONT). Every
// request is answered each time it arrives; there is no option state.
//
// Threads: GetBuffer on the session thread (it also sends the answers);
// PutBuffer and ReportWindowSize from any thread. All writes go through the
// TCP layer's write lock, one command per write.
class TTelnetConnection : public TTCPConnection {
  public:
    TTelnetConnection(const THostConfig* host, int screen) : TTCPConnection(host, screen) {}

    // The data bytes of one socket read with every telnet command removed;
    // IAC IAC gives one data byte 255. A command cut off by the end of the
    // read waits for the next one. 0 with the state still open means the
    // read held nothing but commands; 0 with kStateClosed, the end.
    int GetBuffer(char* buffer, unsigned length, bool raw) override;
    // User data, with each byte 255 doubled so that the server reads it as
    // data and not as the start of a command.
    void PutBuffer(const char* buffer, unsigned length, bool raw) override;
    void Login() override {}
    // Sends the size by NAWS once the server asked for it (DO NAWS); false
    // before.
    bool ReportWindowSize(const COORD* size) override;
    // True from the server's DO BINARY (answered WILL) until its DONT
    // BINARY: a carriage return then goes out alone, as in binary mode the
    // server passes every byte on, and a CR LF would reach its terminal as
    // two line ends. Any thread.
    bool SendsBinary() const { return BinaryOut.load(std::memory_order_acquire); }

  private:
    // The next byte of the read in progress; raises the internal cut-off
    // signal when the read has no more.
    unsigned char ReadByte();
    // Decodes the command after an IAC; true when it stands for a data byte
    // 255 (IAC IAC).
    bool ProcessCommand();
    // Sub-negotiations are followed byte by byte, across reads. False when
    // the byte ends an over-long one and must be read as stream instead.
    bool SubnegotiationByte(unsigned char byte);
    void FinishSubnegotiation();

    void SendOption(unsigned char command, unsigned char option);
    void SendWill(unsigned char option);
    void SendWont(unsigned char option);
    void SendDo(unsigned char option);
    void SendDont(unsigned char option);
    // Protocol bytes, sent unchanged.
    void SendRaw(const std::string& bytes);

    // A cut-off command is at most IAC plus one command byte (the option is
    // what is missing); sub-negotiations are followed in Sub instead.
    static constexpr unsigned kSavedAreaSize = 2;
    unsigned SavedCount = 0;
    unsigned char Saved[kSavedAreaSize] = {};
    // The saved bytes followed by one socket read, scanned from here.
    unsigned char Work[kSavedAreaSize + kMaxReadLength] = {};
    unsigned char* Current = nullptr;  // Work during a read
    unsigned CurrentLength = 0;
    unsigned Position = 0;
    std::atomic<bool> BinaryOut{false};
    // The server asked for the window size (DO NAWS): only then are size
    // changes reported.
    std::atomic<bool> NawsAgreed{false};

    struct {
        bool Active = false;      // between IAC SB and IAC SE
        bool HaveOption = false;  // the option byte has been read
        unsigned char Option = 0;
        int First = -1;       // first parameter byte (the sub-command), -1 none yet
        bool Iac = false;     // the last byte was an unpaired IAC
        unsigned Length = 0;  // bytes counted against kMaxSubnegotiationLength
    } Sub;
};
