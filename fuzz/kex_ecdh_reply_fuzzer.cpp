// Elliptic-curve key exchange replies (KEX_ECDH_REPLY): the NIST curves and
// X25519. See kex_reply_common.h for the input layout.
#include "kex_reply_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<const KexMethod*> methods =
        kex_reply_fuzz::Methods(KexFamily::Ecdh, KexFamily::X25519);
    return kex_reply_fuzz::Run(methods, data, size);
}
