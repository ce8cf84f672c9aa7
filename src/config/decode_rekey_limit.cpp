#include "config/decode_rekey_limit.h"

#include <cstdint>
#include <optional>

#include "base/exception.h"
#include "config/config_text.h"

namespace {

constexpr uint64_t kMinRekeyBytes = 16 * 1024;
// Beyond this a number means nothing to a connection (and would overflow).
constexpr uint64_t kMaxDigitsValue = uint64_t{1} << 50;

// Decimal digits (no sign, no leading zero unless the number is 0) followed
// by at most one unit letter from `units`, whose factors are in `factors`.
std::optional<uint64_t> ParseScaled(const std::string& text, const char* units,
                                    const uint64_t* factors) {
    std::size_t i = 0;
    uint64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > kMaxDigitsValue) return std::nullopt;
        i++;
    }
    if (i == 0 || (text[0] == '0' && i > 1)) return std::nullopt;
    if (i == text.size()) return value;
    if (i + 1 != text.size()) return std::nullopt;
    for (int u = 0; units[u] != '\0'; u++) {
        const char c = text[i];
        if (c != units[u] && c != units[u] - 'A' + 'a') continue;
        if (value > kMaxDigitsValue / factors[u]) return std::nullopt;
        return value * factors[u];
    }
    return std::nullopt;
}

[[noreturn]] void Bad(const std::string& text) {
    ThrowError("Config error. Bad value for option REKEY_LIMIT: %s.", text.c_str());
}

}  // namespace

void DecodeRekeyLimit(const std::string& text, THostConfig& host) {
    const std::string value = Trim(text);
    std::size_t blank = 0;
    while (blank < value.size() && !IsBlank(value[blank])) blank++;
    const std::string size_text = value.substr(0, blank);
    const std::string time_text = Trim(value.substr(blank));

    static const uint64_t kSizeFactors[] = {uint64_t{1} << 10, uint64_t{1} << 20,
                                            uint64_t{1} << 30};
    const std::optional<uint64_t> size = ParseScaled(size_text, "KMG", kSizeFactors);
    if (!size || (*size != 0 && *size < kMinRekeyBytes)) Bad(text);
    std::optional<uint64_t> seconds;
    if (!time_text.empty()) {
        static const uint64_t kTimeFactors[] = {1, 60, 3600};
        seconds = ParseScaled(time_text, "SMH", kTimeFactors);
        if (!seconds) Bad(text);
    }
    host.SetRekeyBytes(*size);
    if (seconds) host.SetRekeySeconds(static_cast<int64_t>(*seconds));
}
