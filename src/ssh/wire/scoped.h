// Scope owners for the SSH protocol code. `fatal` raises, so every block,
// buffer or library object held across a call that can fail is owned by one
// of these; a fatal end then leaks nothing and leaves no key bytes behind.
#pragma once

#include <memory>

#include <openssl/bn.h>

#include "ssh/wire/buffer.h"

// A Buffer released (and wiped) when the scope is left.
struct ScopedBuffer {
    Buffer buffer{};
    ScopedBuffer() = default;
    ~ScopedBuffer() { buffer_free(&buffer); }
    ScopedBuffer(const ScopedBuffer&) = delete;
    ScopedBuffer& operator=(const ScopedBuffer&) = delete;
    Buffer* get() { return &buffer; }
};

struct BignumClearFree {
    void operator()(BIGNUM* number) const { BN_clear_free(number); }
};
using BignumPtr = std::unique_ptr<BIGNUM, BignumClearFree>;
