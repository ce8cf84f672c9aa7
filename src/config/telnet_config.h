// The process-wide configuration: host definitions, recoding tables and the
// host-name history, filled from configuration files at start-up.
#pragma once

#include <array>
#include <istream>
#include <string>

#include "base/string_history.h"
#include "config/host_config.h"
#include "config/recode_table.h"

constexpr int kMaxHosts = 64;   // including "default"
constexpr int kMaxTables = 64;  // including the two built-ins
constexpr int kMaxLineLength = 255;

// Lines read from all configuration files so far; never reset, so an error
// in a second file reports the running count. Loading is single-threaded.
extern int LineNumber;

// Threads: loading runs on the main thread before any session exists. After
// that the host and table arrays are only read (sessions copy one host, the
// emulators look bytes up in the tables), so those reads need no lock. The
// one thing written later is History, which is a TStringHistory and locks
// itself; ResolveHost may therefore run on several session threads at once.
//
// Errors raise TException through ThrowError and stop the loading at once;
// everything loaded before the faulty line stays in place.
class TTelnetConfig {
  public:
    // The two built-in tables, the host "default" and an empty history.
    TTelnetConfig();
    TTelnetConfig(const TTelnetConfig&) = delete;
    TTelnetConfig& operator=(const TTelnetConfig&) = delete;

    // Reads one configuration file; may be called once per file, hosts and
    // tables accumulate. Raises "Unable to open config file: %s." when the
    // file cannot be opened.
    void LoadConfig(const std::string& path);
    // The file loop of LoadConfig over an open stream: top-level lines apply
    // to the host "default".
    void ReadConfig(std::istream& file);
    // Applies one line to the host; DEFINE_HOST and DEFINE_RECODE_TABLE read
    // their further lines from the file.
    void ParseConfigLine(std::istream& file, const std::string& line, THostConfig& host);

    // Host resolution for a session: a copy of the first host whose name
    // equals the text exactly, else a copy of "default" named after the text
    // with the text decoded as an address (DecodeAddress errors propagate).
    // A Historable result's name is added to History.
    THostConfig ResolveHost(const std::string& text);
    // Index of the first host whose name equals the text exactly, or -1.
    int FindHost(const std::string& name) const;

    int GetHostCount() const { return HostCount; }
    // index 0..GetHostCount()-1; slot 0 is "default".
    const THostConfig& GetHost(int index) const { return Hosts[index]; }

    int GetTableCount() const { return TableCount; }
    // index 0..GetTableCount()-1; 0 "koi8r_alt", 1 "alt_koi8r".
    const TRecodeTable& GetTable(int index) const { return Tables[index]; }
    // Lowest index whose name equals the text exactly, or -1.
    int FindTable(const std::string& name) const;
    // The byte through table `table`; bytes below 0x80, and every byte when
    // the index names no table, pass unchanged.
    unsigned char Recode(int table, unsigned char byte) const;

    // The host names offered at the connect prompts.
    TStringHistory& GetHistory() { return History; }
    const TStringHistory& GetHistory() const { return History; }

  private:
    void DefineHost(std::istream& file, const std::string& header);
    void DefineRecodeTable(std::istream& file, const std::string& header);

    TStringHistory History;
    int TableCount = 2;
    std::array<TRecodeTable, kMaxTables> Tables{};
    int HostCount = 1;
    std::array<THostConfig, kMaxHosts> Hosts;
    bool InHostBlock = false;
};

// The one configuration of the program.
extern TTelnetConfig Config;
