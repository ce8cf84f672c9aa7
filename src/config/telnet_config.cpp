#include "config/telnet_config.h"

#include <cstring>
#include <fstream>

#include "base/exception.h"
#include "config/config_text.h"
#include "config/decode_address.h"
#include "config/decode_auth.h"
#include "config/decode_rekey_limit.h"
#include "config/ssh_algorithm_check.h"

int LineNumber = 0;

TTelnetConfig Config;

namespace {

void SetTableName(TRecodeTable& table, const char* name) {
    std::strncpy(table.Name, name, kRecodeNameSize - 1);
    table.Name[kRecodeNameSize - 1] = '\0';
}

bool ParseBoolean(const char* key, const std::string& value) {
    if (!value.empty() && value[0] == '1') return true;
    if (!value.empty() && value[0] == '0') return false;
    ThrowError("Config error. Bad value for boolean option %s: %s.", key, value.c_str());
}

int ParseInteger(const char* key, const std::string& value) {
    std::optional<int> number = ParseCanonicalInt(value);
    if (!number) {
        ThrowError("Config error. Bad value for integer option %s: %s.", key, value.c_str());
    }
    return *number;
}

// The order decides between keys that are prefixes of each other: TERMCAP
// must come before TERM.
enum TKey {
    kAddress,
    kProtocol,
    kConsole,
    kIncomingRecodeTable,
    kOutgoingRecodeTable,
    kEnableBeep,
    kEnableShow,
    kHistorable,
    kKeepSelection,
    kLockHistory,
    kMaxScrollSize,
    kLogFile,
    kTermcap,
    kTerm,
    kUser,
    kSshKexAlgorithms,
    kSshHostKeyAlgorithms,
    kSshCipherList,  // before SSH_CIPHER, its prefix
    kSshMacList,
    kSshCipher,
    kSshCompression,
    kSshPassword,
    kSshAuth,
    kRekeyLimit,
    kKnownHosts,
    kHostKeyCheck,
    kDefineHost,
    kDefineRecodeTable,
    kKeyCount
};

constexpr const char* kKeyNames[kKeyCount] = {
    "ADDRESS",
    "PROTOCOL",
    "CONSOLE",
    "INCOMING_RECODE_TABLE",
    "OUTGOING_RECODE_TABLE",
    "ENABLE_BEEP",
    "ENABLE_SHOW",
    "HISTORABLE",
    "KEEP_SELECTION",
    "LOCK_HISTORY",
    "MAX_SCROLL_SIZE",
    "LOG_FILE",
    "TERMCAP",
    "TERM",
    "USER",
    "SSH_KEX",
    "SSH_HOSTKEYS",
    "SSH_CIPHERS",
    "SSH_MACS",
    "SSH_CIPHER",
    "SSH_COMPRESSION",
    "SSH_PASSWORD",
    "SSH_AUTH",
    "REKEY_LIMIT",
    "KNOWN_HOSTS",
    "HOST_KEY_CHECK",
    "DEFINE_HOST",
    "DEFINE_RECODE_TABLE",
};

}  // namespace

TTelnetConfig::TTelnetConfig() {
    SetTableName(Tables[0], "koi8r_alt");
    std::memcpy(Tables[0].Table, kKoi8rToAlt, kRecodeTableSize);
    SetTableName(Tables[1], "alt_koi8r");
    std::memcpy(Tables[1].Table, kAltToKoi8r, kRecodeTableSize);
    Hosts[0].SetName("default");
    Hosts[0].SetTerminalType("cons25r");
}

void TTelnetConfig::LoadConfig(const std::string& path) {
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open()) ThrowError("Unable to open config file: %s.", path.c_str());
    ReadConfig(file);
}

void TTelnetConfig::ReadConfig(std::istream& file) {
    std::string line;
    while (ReadConfigLine(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        ParseConfigLine(file, line, Hosts[0]);
    }
}

void TTelnetConfig::ParseConfigLine(std::istream& file, const std::string& line,
                                    THostConfig& host) {
    int key = 0;
    std::optional<std::string> found;
    for (; key < kKeyCount; ++key) {
        found = MatchKey(line, kKeyNames[key]);
        if (found) break;
    }
    if (!found) {
        ThrowError("Config error. Bad line: |%s|. Line number: %d.", line.c_str(), LineNumber);
    }
    const std::string& value = *found;
    const char* name = kKeyNames[key];
    switch (key) {
        case kAddress:
            DecodeAddress(value, host);
            break;
        case kProtocol:
            if (value == "telnet") {
                host.SetProtocol(kProtocolTelnet);
                host.SetPort(23);
            } else if (value == "ssh") {
                host.SetProtocol(kProtocolSsh);
                host.SetPort(22);
            } else if (value == "ssh2") {
                host.SetProtocol(kProtocolSsh2);
                host.SetPort(22);
            } else {
                ThrowError("Config error. Unknown protocol: %s.", value.c_str());
            }
            break;
        case kConsole:
            if (value == "NCSA") {
                host.SetConsoleType(kConsoleNcsa);
            } else if (value == "STD") {
                host.SetConsoleType(kConsoleStd);
            } else {
                ThrowError("Config error. Unknown console type: %s.", value.c_str());
            }
            break;
        case kIncomingRecodeTable:
        case kOutgoingRecodeTable: {
            // A table of that name, should one be defined, is not reachable.
            int index = value == kRecodeUtf8Name ? kRecodeUtf8 : FindTable(value);
            if (index < 0 && index != kRecodeUtf8) {
                ThrowError("Config error. Table not found: %s = %s.", name, value.c_str());
            }
            if (key == kIncomingRecodeTable) {
                host.SetIncomingTable(index);
            } else {
                host.SetOutgoingTable(index);
            }
            break;
        }
        case kEnableBeep:
            host.SetEnableBeep(ParseBoolean(name, value));
            break;
        case kEnableShow:
        case kLockHistory:
            ParseBoolean(name, value);
            break;
        case kHistorable:
            host.SetHistorable(ParseBoolean(name, value));
            break;
        case kKeepSelection:
            host.SetKeepSelection(ParseBoolean(name, value));
            break;
        case kMaxScrollSize: {
            // A negative count would size the scroll-back allocation of the
            // session's screen; refuse it like any other bad number.
            int size = ParseInteger(name, value);
            if (size < 0) {
                ThrowError("Config error. Bad value for integer option %s: %s.", name,
                           value.c_str());
            }
            host.SetMaxScrollSize(size);
            break;
        }
        case kLogFile: {
            static const char* const kModes[] = {"none:", "text:", "full:"};
            host.SetLogMode(kLogNone);
            host.SetLogFile(value);
            for (int mode = 0; mode < 3; ++mode) {
                if (value.compare(0, 5, kModes[mode]) == 0) {
                    host.SetLogMode(mode);
                    host.SetLogFile(value.substr(5));
                    break;
                }
            }
            break;
        }
        case kTermcap: {
            host.SetTermcapFile(value);
            std::ifstream check(value, std::ios::in | std::ios::binary);
            if (!check.is_open()) {
                ThrowError("Config error. Unable to open TERMCAP: %s.", value.c_str());
            }
            break;
        }
        case kTerm:
            host.SetTerminalType(value);
            break;
        case kUser:
            host.SetUser(value);
            break;
        case kSshKexAlgorithms:
        case kSshHostKeyAlgorithms:
        case kSshCipherList:
        case kSshMacList: {
            const int kind = key - kSshKexAlgorithms;
            const std::string unknown = UnknownSshAlgorithm(kind, value);
            if (!unknown.empty()) {
                ThrowError("Config error. Unknown SSH algorithm for %s: %s.", name,
                           unknown.c_str());
            }
            host.SetSshAlgorithms(kind, value);
            break;
        }
        case kSshCipher:
            break;
        case kSshCompression:
            ParseInteger(name, value);
            break;
        case kSshPassword:
            host.SetAuthType(kAuthPassword);
            host.SetPassword(value);
            break;
        case kSshAuth:
            DecodeAuth(value, host);
            break;
        case kRekeyLimit:
            DecodeRekeyLimit(value, host);
            break;
        case kKnownHosts:
            if (Trim(value).empty()) {
                ThrowError("Config error. KNOWN_HOSTS needs a file name. Line number: %d.",
                           LineNumber);
            }
            host.SetKnownHosts(Trim(value));
            break;
        case kHostKeyCheck: {
            static const char* const kChecks[] = {"ask", "accept-new", "strict", "off"};
            const std::string check = Trim(value);
            int found = -1;
            for (int i = 0; i < 4; ++i) {
                if (check == kChecks[i]) found = i;
            }
            if (found < 0) {
                ThrowError(
                    "Config error. Bad value for HOST_KEY_CHECK: %s (ask, accept-new, strict or "
                    "off). Line number: %d.",
                    value.c_str(), LineNumber);
            }
            host.SetHostKeyCheck(found);
            break;
        }
        case kDefineHost:
            DefineHost(file, value);
            break;
        case kDefineRecodeTable:
            DefineRecodeTable(file, value);
            break;
    }
}

THostConfig TTelnetConfig::ResolveHost(const std::string& text) {
    int index = FindHost(text);
    THostConfig host;
    if (index >= 0) {
        host = Hosts[index];
    } else {
        host = Hosts[0];
        host.SetName(text);
        DecodeAddress(text, host);
    }
    if (host.GetHistorable()) History.Add(host.GetName());
    return host;
}

int TTelnetConfig::FindHost(const std::string& name) const {
    for (int i = 0; i < HostCount; ++i) {
        if (Hosts[i].GetName() == name) return i;
    }
    return -1;
}

int TTelnetConfig::FindTable(const std::string& name) const {
    for (int i = 0; i < TableCount; ++i) {
        if (name == Tables[i].Name) return i;
    }
    return -1;
}

unsigned char TTelnetConfig::Recode(int table, unsigned char byte) const {
    if (table < 0 || table >= TableCount) return byte;
    return RecodeByte(Tables[table], byte);
}
