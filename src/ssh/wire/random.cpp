#include "ssh/wire/random.h"

#include <sys/random.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "ssh/wire/log.h"

namespace {

constexpr size_t kSeedSize = 32;

// The generator state is small and lives for the whole process; it is kept in
// static storage rather than on the heap so nothing is left to release.
std::mutex g_random_lock;
RandomState g_state;
bool g_keyed = false;

bool collect_entropy(unsigned char* bytes, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = getrandom(bytes + got, size - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

// Called with the lock held.
void stir_locked() {
    random_seed();
    unsigned char key[kSeedSize];
    if (RAND_bytes(key, sizeof key) != 1) {
        OPENSSL_cleanse(key, sizeof key);
        // Keying from unfilled bytes would make padding, cookies and SSH-1
        // session keys predictable.
        fatal("random_stir: RAND_bytes failed");
    }
    random_state_key(&g_state, key, sizeof key);
    g_keyed = true;
    OPENSSL_cleanse(key, sizeof key);
}

}  // namespace

void random_seed() {
    debug("Seeding random number generator");
    unsigned char bytes[kSeedSize];
    if (collect_entropy(bytes, sizeof bytes)) {
        RAND_add(bytes, sizeof bytes, static_cast<double>(sizeof bytes));
    } else if (RAND_status() == 0) {
        OPENSSL_cleanse(bytes, sizeof bytes);
        fatal("Entropy collection failed and entropy exhausted");
    }
    OPENSSL_cleanse(bytes, sizeof bytes);
}

void random_stir() {
    std::lock_guard<std::mutex> lock(g_random_lock);
    stir_locked();
}

uint32_t random_word() {
    std::lock_guard<std::mutex> lock(g_random_lock);
    if (!g_keyed) stir_locked();
    return random_state_word(&g_state);
}

void random_state_key(RandomState* state, const unsigned char* key, size_t key_length) {
    for (uint32_t n = 0; n < 256; n++) state->s[n] = n;
    uint32_t j = 0;
    for (uint32_t n = 0; n < 256; n++) {
        j = (j + state->s[n] + key[n % key_length]) & 0xff;
        std::swap(state->s[n], state->s[j]);
    }
    state->i = 0;
    state->j = 0;
}

uint32_t random_state_word(RandomState* state) {
    uint32_t word = 0;
    for (int k = 0; k < 4; k++) {
        state->i = (state->i + 1) & 0xff;
        state->j = (state->j + state->s[state->i]) & 0xff;
        std::swap(state->s[state->i], state->s[state->j]);
        uint32_t byte = state->s[(state->s[state->i] + state->s[state->j]) & 0xff];
        word |= byte << (8 * k);
    }
    return word;
}
