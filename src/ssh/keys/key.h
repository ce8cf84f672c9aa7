// The public-key record of the SSH code: an RSA key (protocol 1) or a DSA key
// (protocol 2) of libcrypto, or an empty record.
//
// Keys are made for one use and released by their user with key_free; the
// library object is owned by the record. Not shared between threads.
#pragma once

#include <memory>

#include <openssl/dsa.h>
#include <openssl/rsa.h>

enum KeyType { KEY_RSA = 0, KEY_DSA = 1, KEY_EMPTY = 2 };

struct Key {
    int type;
    RSA* rsa;  // present for KEY_RSA
    DSA* dsa;  // present for KEY_DSA
};

// KEY_RSA: an RSA object with empty n and e; KEY_DSA: a DSA object with empty
// p, q, g and y; KEY_EMPTY: no object. Other types are fatal.
Key* key_new(int type);
// Releases the library object and the record; an unknown type is fatal.
void key_free(Key* key);

struct KeyFree {
    void operator()(Key* key) const {
        if (key != nullptr) key_free(key);
    }
};
using KeyPtr = std::unique_ptr<Key, KeyFree>;
