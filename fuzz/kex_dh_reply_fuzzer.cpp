// Diffie-Hellman key exchange replies: the fixed groups (KEXDH_REPLY) and
// the group exchange (KEX_DH_GEX_GROUP, then KEX_DH_GEX_REPLY). See
// kex_reply_common.h for the input layout.
#include "kex_reply_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<const KexMethod*> methods =
        kex_reply_fuzz::Methods(KexFamily::FixedGroup, KexFamily::GroupExchange);
    return kex_reply_fuzz::Run(methods, data, size);
}
