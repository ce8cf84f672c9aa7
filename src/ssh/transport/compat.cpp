#include "ssh/transport/compat.h"

#include <cstring>

namespace {

struct CompatRow {
    const char* prefix;
    int bits;
};

// First matching prefix wins; "2.0.13" is shadowed by "2.0.1", which gives the
// same bits.
constexpr CompatRow kCompatTable[] = {
    {"2.3.0", SSH_BUG_HMACKEY | SSH_BUG_SESSIONSTR},
    {"2.2.0", SSH_BUG_HMACKEY | SSH_BUG_SESSIONSTR},
    {"2.1.0", SSH_BUG_SIGBLOB | SSH_BUG_HMACKEY},
    {"2.0.1", SSH_BUG_SIGBLOB | SSH_BUG_PKSERVICE | SSH_BUG_HMACKEY | SSH_BUG_X11FWD},
    {"2.0.13", SSH_BUG_SIGBLOB | SSH_BUG_PKSERVICE | SSH_BUG_HMACKEY | SSH_BUG_X11FWD},
};

}  // namespace

int compat_datafellows(const char* version) {
    if (version == nullptr) return 0;
    for (const CompatRow& row : kCompatTable)
        if (std::strncmp(version, row.prefix, std::strlen(row.prefix)) == 0) return row.bits;
    return 0;
}
