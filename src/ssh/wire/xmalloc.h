// Checked allocation for the SSH code: every failure ends in `fatal`.
#pragma once

#include <cstddef>
#include <memory>

// Never returns null; a request of 0 bytes still yields a block.
void* xmalloc(size_t size);
// A null block is allocated afresh.
void* xrealloc(void* block, size_t new_size);
// A null block is fatal.
void xfree(void* block);
char* xstrdup(const char* text);

// Releases an xmalloc block when a scope is left, also when `fatal` raises.
struct XfreeDeleter {
    void operator()(void* block) const {
        if (block != nullptr) xfree(block);
    }
};
template <typename T>
using XmallocPtr = std::unique_ptr<T, XfreeDeleter>;
