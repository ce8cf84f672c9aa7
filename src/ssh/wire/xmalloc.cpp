#include "ssh/wire/xmalloc.h"

#include <cstdlib>
#include <cstring>

#include "ssh/wire/log.h"

void* xmalloc(size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) fatal("xmalloc: out of memory (allocating %zu bytes)", size);
    return block;
}

void* xrealloc(void* block, size_t new_size) {
    void* grown = std::realloc(block, new_size == 0 ? 1 : new_size);
    if (grown == nullptr) fatal("xrealloc: out of memory (new_size %zu bytes)", new_size);
    return grown;
}

void xfree(void* block) {
    if (block == nullptr) fatal("xfree: NULL pointer given as argument");
    std::free(block);
}

char* xstrdup(const char* text) {
    size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(xmalloc(size));
    std::memcpy(copy, text, size);
    return copy;
}
