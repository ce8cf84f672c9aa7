#include "ssh/wire/strlcpy.h"

#if !defined(__GLIBC__) || !__GLIBC_PREREQ(2, 38)
size_t strlcpy(char* destination, const char* source, size_t size) {
    size_t length = std::strlen(source);
    if (size > 0) {
        size_t copied = length < size - 1 ? length : size - 1;
        std::memcpy(destination, source, copied);
        destination[copied] = '\0';
    }
    return length;
}
#endif
