#include "ssh/transport/kex_result.h"

#include <algorithm>

#include <openssl/crypto.h>

#include "ssh/wire/xmalloc.h"

namespace {

void wipe_and_free(unsigned char*& block, uint32_t length) {
    if (block == nullptr) return;
    OPENSSL_cleanse(block, length);
    xfree(block);
    block = nullptr;
}

void free_text(char*& text) {
    if (text != nullptr) xfree(text);
    text = nullptr;
}

}  // namespace

void kex_result_free(KexResult* kex) {
    if (kex == nullptr) return;
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        Enc& enc = kex->enc[mode];
        wipe_and_free(enc.key, std::max(kex->need, enc.key_len));
        wipe_and_free(enc.iv, std::max(kex->need, enc.iv_len));
        free_text(enc.name);
        Mac& mac = kex->mac[mode];
        wipe_and_free(mac.key, std::max(kex->need, mac.key_len));
        free_text(mac.name);
        free_text(kex->comp[mode].name);
    }
    free_text(kex->name);
    free_text(kex->hostkey_name);
    OPENSSL_cleanse(kex, sizeof *kex);
    xfree(kex);
}
