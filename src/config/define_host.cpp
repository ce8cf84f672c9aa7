// DEFINE_HOST name [: parent] {  ...  }
#include <cctype>

#include "base/exception.h"
#include "config/config_text.h"
#include "config/telnet_config.h"

namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Clears the block flag however the block ends, so that a caller that
// catches a loading error can go on loading other files.
class TBlockGuard {
  public:
    explicit TBlockGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~TBlockGuard() { flag_ = false; }

  private:
    bool& flag_;
};

}  // namespace

void TTelnetConfig::DefineHost(std::istream& file, const std::string& header) {
    // A block inside a block would take the same free slot as the host being
    // read and overwrite it.
    if (InHostBlock) {
        ThrowError("Config error. DEFINE_HOST inside a host block. Line number: %d.", LineNumber);
    }
    std::string text = Trim(header);
    if (!text.empty()) text.pop_back();  // the "{"
    std::string name = text;
    std::string parent = "default";
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        name = Trim(text.substr(0, colon));
        parent = Trim(text.substr(colon + 1));
    } else {
        name = Trim(text);
    }
    if (name.empty()) {
        ThrowError("Config error. Host name missing: |%s|. Line number: %d.", header.c_str(),
                   LineNumber);
    }
    if (HostCount >= kMaxHosts) {
        ThrowError(
            "Config error. Too many hosts: '%s' would be number %d, at most %d. Line "
            "number: %d.",
            name.c_str(), HostCount + 1, kMaxHosts, LineNumber);
    }

    int from = -1;
    for (int i = 0; i < HostCount; ++i) {
        if (EqualIgnoringCase(Hosts[i].GetName(), parent)) from = i;
    }
    if (from < 0) {
        if (!EqualIgnoringCase(name, "default")) {
            ThrowError("Config error. '%s' is inherited from unknown host '%s'.", name.c_str(),
                       parent.c_str());
        }
        from = 0;
    }

    THostConfig& host = Hosts[HostCount];
    host = Hosts[from];
    host.SetName(name);
    host.SetAddress(name);

    TBlockGuard guard(InHostBlock);
    int opened = LineNumber;
    std::string line;
    for (;;) {
        if (!ReadConfigLine(file, line)) {
            ThrowError("Config error. Missing '}' of host '%s' opened at line %d.", name.c_str(),
                       opened);
        }
        line = Trim(line);
        // The closing brace may be indented like the lines of the block.
        if (!line.empty() && line[0] == '}') break;
        if (line.empty() || line[0] == '#') continue;
        ParseConfigLine(file, line, host);
    }

    if (host.GetHistorable()) History.Add(host.GetName());
    ++HostCount;
}
