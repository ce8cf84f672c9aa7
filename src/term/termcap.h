// The description of one terminal type, read from a termcap file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/input_record.h"

// Capability name -> value, ordered by byte-wise comparison of the names
// (std::string compares chars as unsigned). Booleans are stored as "1",
// strings decoded.
using TStringDictionary = std::map<std::string, std::string>;

// One record of the output or key capability table.
struct TCapRecord {
    // Key records: the virtual-key code. Output records: kOutputSequence,
    // except "ac" and the two spare records, which are never matched.
    std::uint32_t Code = 0;
    char Name[16] = {};
    std::optional<std::string> Value;

    static constexpr std::uint32_t kOutputSequence = 0x00010000;
    bool IsOutputSequence() const { return Code == kOutputSequence; }
};

// One user key binding: the virtual-key code, the control-key bits it
// requires (Shift 0x10, Ctrl 0x0C, Alt 0x03) and the bytes to send.
struct TKeyEntry {
    std::uint16_t Code = 0;
    std::uint32_t Modifiers = 0;
    std::string Value;
};
using TKeyList = std::vector<TKeyEntry>;

// Loaded once, by the emulator's constructor, on the session thread; read-only
// afterwards (the session thread interprets output, the main thread maps keys
// under the session's connection lock), so it needs no lock of its own.
class TTermcap {
  public:
    static constexpr int OutputCapCount = 68;
    static constexpr int KeyCapCount = 23;
    // tc references followed at most this deep; a loop ends with an error.
    static constexpr int kMaxTcDepth = 16;

    TTermcap() = default;

    // Reads the entry of `terminal_type` from `file_name` and builds the
    // capability tables and key bindings. Raises TException with
    //   "TTermcap::Read. Unable to open termcap file: %s."
    //   "TTermcap::Read. Terminal type %s wasn't found in %s.\n"
    //   "TTermcap::Read. Bad line in %s: |%s|. Line %d."
    //   "TTermcap::AssignToKeyList. Unknown key in: %s."
    // and leaves the object as it was before the call when it does.
    void Load(const std::string& file_name, const std::string& terminal_type);

    // The value of a capability, "" when absent ("1" for a boolean).
    std::string GetCapability(const std::string& name) const;
    const TStringDictionary& GetCapabilities() const { return Capabilities; }
    const std::vector<TCapRecord>& GetOutputCaps() const { return OutputCaps; }
    const TKeyList& GetKeyList() const { return KeyList; }

    // Value of the first key record with this virtual-key code; null when
    // there is none or it has no value.
    const std::string* FindKeyCapability(std::uint16_t code) const;
    // Value of the first binding that matches the key and its control keys,
    // "" when none does.
    std::string FindKeyBinding(const KEY_EVENT_RECORD& key) const;

    // Builds KeyList from the "K_" capabilities (names visited in ascending
    // byte order).
    void AssignToKeyList();

  private:
    void Read(TStringDictionary& dict, bool top_level, int depth);

    std::string TermName;
    std::string FileName;
    TStringDictionary Capabilities;
    TKeyList KeyList;
    std::vector<TCapRecord> OutputCaps;
    std::vector<TCapRecord> KeyCaps;
};
