#include "net/telnet_connection.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "config/host_config.h"
#include "console/console.h"

namespace {

constexpr unsigned char IAC = 255;
constexpr unsigned char DONT = 254;
constexpr unsigned char DO = 253;
constexpr unsigned char WONT = 252;
constexpr unsigned char WILL = 251;
constexpr unsigned char SB = 250;
constexpr unsigned char SE = 240;

constexpr unsigned char OPT_BINARY = 0;
constexpr unsigned char OPT_ECHO = 1;
constexpr unsigned char OPT_SGA = 3;
constexpr unsigned char OPT_TTYPE = 24;
constexpr unsigned char OPT_NAWS = 31;
constexpr unsigned char OPT_NEW_ENVIRON = 39;

constexpr unsigned char TELQUAL_IS = 0;
constexpr unsigned char TELQUAL_SEND = 1;
constexpr unsigned char ENV_VAR = 0;
constexpr unsigned char ENV_VALUE = 1;

// Raised when a command runs past the bytes of the current read; caught in
// GetBuffer, never seen outside.
struct TIACException {};

bool Supported(unsigned char option) {
    return option == OPT_BINARY || option == OPT_ECHO || option == OPT_SGA || option == OPT_TTYPE;
}

// Inside a sub-negotiation a byte 255 must be doubled, or the server would
// take it for the start of a command.
void AppendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        out += c;
        if (static_cast<unsigned char>(c) == IAC) out += c;
    }
}

std::string OptionCommand(unsigned char command, unsigned char option) {
    return {static_cast<char>(IAC), static_cast<char>(command), static_cast<char>(option)};
}

// A NAWS dimension: 16 bits, high byte first.
void AppendDimension(std::string& out, int value) {
    value = std::clamp(value, 0, 0xFFFF);
    AppendEscaped(out, std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)});
}

std::string WindowSizeReport(int columns, int rows) {
    std::string report = {static_cast<char>(IAC), static_cast<char>(SB),
                          static_cast<char>(OPT_NAWS)};
    AppendDimension(report, columns);
    AppendDimension(report, rows);
    report += static_cast<char>(IAC);
    report += static_cast<char>(SE);
    return report;
}

}  // namespace

int TTelnetConnection::GetBuffer(char* buffer, unsigned length, bool raw) {
    if (length == 0) return 0;
    // The saved bytes are an unfinished command, so a read is due whatever
    // the caller's length. Commands yield at most one data byte per byte
    // read after them (IAC completing IAC), so the data of at most `length`
    // new bytes always fits the caller's buffer.
    std::memcpy(Work, Saved, SavedCount);
    const unsigned saved = SavedCount;
    SavedCount = 0;
    const int count = TTCPConnection::GetBuffer(reinterpret_cast<char*>(Work) + saved,
                                                std::min(length, kMaxReadLength), raw);

    Current = Work;
    CurrentLength = saved + static_cast<unsigned>(count);
    Position = 0;
    unsigned out = 0;
    while (Position < CurrentLength) {
        const unsigned char byte = Current[Position++];
        if (Sub.Active && SubnegotiationByte(byte)) continue;
        if (byte != IAC) {
            buffer[out++] = static_cast<char>(byte);
            continue;
        }
        const unsigned start = Position - 1;
        try {
            if (ProcessCommand()) buffer[out++] = static_cast<char>(IAC);
        } catch (const TIACException&) {
            // The rest of the command comes with the next read.
            SavedCount = std::min(CurrentLength - start, kSavedAreaSize);
            std::memcpy(Saved, Current + start, SavedCount);
            break;
        }
    }
    Current = nullptr;
    return static_cast<int>(out);
}

unsigned char TTelnetConnection::ReadByte() {
    if (Current == nullptr || Position >= CurrentLength) throw TIACException();
    return Current[Position++];
}

bool TTelnetConnection::ProcessCommand() {
    const unsigned char command = ReadByte();
    switch (command) {
        case IAC:
            return true;
        case DO: {
            const unsigned char option = ReadByte();
            if (Supported(option)) {
                if (option == OPT_BINARY) BinaryOut.store(true, std::memory_order_release);
                SendWill(option);
            } else if (option == OPT_NAWS) {
                int columns = 80;
                int rows = 25;
                if (Console != nullptr) {
                    if (Console->IsScreenInUse(Screen)) {
                        columns = Console->GetScreen(Screen).Width;
                        rows = Console->GetScreen(Screen).Height;
                    } else {
                        columns = Console->GetConsoleWidth();
                        rows = Console->GetConsoleHeight();
                    }
                }
                // One write, so that typed keys cannot come between the
                // acceptance and the size.
                SendRaw(OptionCommand(WILL, option) + WindowSizeReport(columns, rows));
                NawsAgreed.store(true, std::memory_order_release);
            } else if (option == OPT_NEW_ENVIRON && !Host->GetUser().empty()) {
                SendWill(option);
            } else {
                SendWont(option);
            }
            break;
        }
        case WILL: {
            const unsigned char option = ReadByte();
            if (Supported(option))
                SendDo(option);
            else
                SendDont(option);
            break;
        }
        case WONT:
            SendDont(ReadByte());
            break;
        case DONT: {
            const unsigned char option = ReadByte();
            if (option == OPT_BINARY) BinaryOut.store(false, std::memory_order_release);
            SendWont(option);
            break;
        }
        case SB:
            Sub.Active = true;
            Sub.HaveOption = false;
            Sub.Option = 0;
            Sub.First = -1;
            Sub.Iac = false;
            Sub.Length = 0;
            break;
        default:
            // SE, NOP, data mark, break, interrupt, abort output,
            // are-you-there, erase character, erase line, go ahead: dropped.
            break;
    }
    return false;
}

bool TTelnetConnection::SubnegotiationByte(unsigned char byte) {
    if (Sub.Iac && byte == SE) {
        Sub.Iac = false;
        FinishSubnegotiation();
        return true;
    }
    if (Sub.Length >= kMaxSubnegotiationLength) {
        // Never closed: give it up and read this byte and what follows as
        // ordinary stream again.
        Sub.Active = false;
        return false;
    }
    ++Sub.Length;
    if (Sub.Iac) {
        Sub.Iac = false;
        // IAC IAC is a parameter byte 255; any other command inside a
        // sub-negotiation is meaningless and skipped.
        if (byte != IAC) return true;
    } else if (byte == IAC) {
        Sub.Iac = true;
        return true;
    }
    if (!Sub.HaveOption) {
        Sub.Option = byte;
        Sub.HaveOption = true;
    } else if (Sub.First < 0) {
        Sub.First = byte;
    }
    return true;
}

void TTelnetConnection::FinishSubnegotiation() {
    Sub.Active = false;
    if (!Sub.HaveOption) return;
    std::string reply;
    if (Sub.Option == OPT_TTYPE && Sub.First == TELQUAL_SEND) {
        reply = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(OPT_TTYPE),
                 static_cast<char>(TELQUAL_IS)};
        AppendEscaped(reply, Host->GetTerminalType());
    } else if (Sub.Option == OPT_NEW_ENVIRON) {
        reply = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(OPT_NEW_ENVIRON),
                 static_cast<char>(TELQUAL_IS), static_cast<char>(ENV_VAR)};
        reply += "USER";
        reply += static_cast<char>(ENV_VALUE);
        AppendEscaped(reply, Host->GetUser());
    } else {
        return;
    }
    reply += static_cast<char>(IAC);
    reply += static_cast<char>(SE);
    SendRaw(reply);
}

void TTelnetConnection::PutBuffer(const char* buffer, unsigned length, bool) {
    const char* end = buffer + length;
    if (std::find(buffer, end, static_cast<char>(IAC)) == end) {
        InternalPutBuffer(buffer, length);
        return;
    }
    std::string escaped;
    escaped.reserve(length + 16);
    AppendEscaped(escaped, std::string(buffer, length));
    SendRaw(escaped);
}

bool TTelnetConnection::ReportWindowSize(const COORD* size) {
    if (size == nullptr || !NawsAgreed.load(std::memory_order_acquire)) return false;
    SendRaw(WindowSizeReport(size->X, size->Y));
    return true;
}

void TTelnetConnection::SendOption(unsigned char command, unsigned char option) {
    SendRaw(OptionCommand(command, option));
}

void TTelnetConnection::SendWill(unsigned char option) {
    SendOption(WILL, option);
}

void TTelnetConnection::SendWont(unsigned char option) {
    SendOption(WONT, option);
}

void TTelnetConnection::SendDo(unsigned char option) {
    SendOption(DO, option);
}

void TTelnetConnection::SendDont(unsigned char option) {
    SendOption(DONT, option);
}

void TTelnetConnection::SendRaw(const std::string& bytes) {
    const int error = SendAll(bytes.data(), bytes.size());
    if (error != 0) ThrowError("TConnection::InternalPutBuffer(): Error: %d.", error);
}
