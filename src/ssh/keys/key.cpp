#include "ssh/keys/key.h"

#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

Key* key_new(int type) {
    if (type != KEY_RSA && type != KEY_DSA && type != KEY_EMPTY)
        fatal("key_new: bad key type %d", type);
    auto* key = static_cast<Key*>(xmalloc(sizeof(Key)));
    key->type = type;
    key->rsa = nullptr;
    key->dsa = nullptr;
    if (type == KEY_RSA) {
        RSA* rsa = RSA_new();
        BIGNUM* n = BN_new();
        BIGNUM* e = BN_new();
        if (rsa == nullptr || n == nullptr || e == nullptr ||
            RSA_set0_key(rsa, n, e, nullptr) != 1) {
            BN_free(n);
            BN_free(e);
            RSA_free(rsa);
            xfree(key);
            fatal("key_new: RSA_new failed");
        }
        key->rsa = rsa;
    } else if (type == KEY_DSA) {
        DSA* dsa = DSA_new();
        BIGNUM* p = BN_new();
        BIGNUM* q = BN_new();
        BIGNUM* g = BN_new();
        BIGNUM* y = BN_new();
        bool pqg_taken = dsa != nullptr && p != nullptr && q != nullptr && g != nullptr &&
                         DSA_set0_pqg(dsa, p, q, g) == 1;
        if (!pqg_taken || y == nullptr || DSA_set0_key(dsa, y, nullptr) != 1) {
            if (!pqg_taken) {
                BN_free(p);
                BN_free(q);
                BN_free(g);
            }
            BN_free(y);
            DSA_free(dsa);
            xfree(key);
            fatal("key_new: DSA_new failed");
        }
        key->dsa = dsa;
    }
    return key;
}

void key_free(Key* key) {
    switch (key->type) {
        case KEY_RSA:
            if (key->rsa != nullptr) RSA_free(key->rsa);
            break;
        case KEY_DSA:
            if (key->dsa != nullptr) DSA_free(key->dsa);
            break;
        case KEY_EMPTY:
            // Holds no object; releasing the record is all there is to do.
            break;
        default:
            fatal("key_free: bad key type %d", key->type);
    }
    key->rsa = nullptr;
    key->dsa = nullptr;
    xfree(key);
}
