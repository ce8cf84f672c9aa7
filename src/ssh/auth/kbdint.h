// Keyboard-interactive authentication (RFC 4256): the server's
// SSH_MSG_USERAUTH_INFO_REQUEST and the client's INFO_RESPONSE.
#pragma once

#include <string>
#include <vector>

#include "ssh/keys/blob.h"

struct KbdIntPrompt {
    std::string text;
    bool echo = false;
};

struct KbdIntRequest {
    std::string name;
    std::string instruction;
    std::string language;
    std::vector<KbdIntPrompt> prompts;
};

// More prompts than this in one request are refused as malformed.
constexpr uint32_t kKbdIntMaxPrompts = 64;

// The fields after the message number; false when malformed or when bytes
// are left over.
bool ParseKbdIntRequest(const uint8_t* payload, std::size_t length, KbdIntRequest* request);
// The fields after the message number: the count and the answers.
Blob BuildKbdIntResponse(const std::vector<std::string>& answers);

// Server text made safe to show: control characters other than newline are
// dropped (a tab becomes a blank), so a server cannot drive the terminal.
std::string CleanServerText(const std::string& text);
