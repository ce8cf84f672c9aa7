#include "ssh/auth/kbdint.h"

bool ParseKbdIntRequest(const uint8_t* payload, std::size_t length, KbdIntRequest* request) {
    BlobReader r(payload, length);
    KbdIntRequest parsed;
    uint32_t count = 0;
    if (!r.GetString(&parsed.name) || !r.GetString(&parsed.instruction) ||
        !r.GetString(&parsed.language) || !r.GetU32(&count) || count > kKbdIntMaxPrompts)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        KbdIntPrompt prompt;
        if (!r.GetString(&prompt.text) || !r.GetBool(&prompt.echo)) return false;
        parsed.prompts.push_back(std::move(prompt));
    }
    if (!r.AtEnd()) return false;
    *request = std::move(parsed);
    return true;
}

Blob BuildKbdIntResponse(const std::vector<std::string>& answers) {
    BlobWriter w;
    w.PutU32(static_cast<uint32_t>(answers.size()));
    for (const std::string& answer : answers) w.PutString(answer);
    return w.Take();
}

std::string CleanServerText(const std::string& text) {
    std::string clean;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            clean.push_back('\n');
        } else if (c == '\t') {
            clean.push_back(' ');
        } else if (u >= 0x20 && u != 0x7F) {
            clean.push_back(c);
        }
    }
    return clean;
}
