// Bounded string copy for the SSH code. Splitting texts at delimiters uses the
// C library's strsep (<string.h>).
#pragma once

#include <cstddef>
#include <cstring>

#if !defined(__GLIBC__) || !__GLIBC_PREREQ(2, 38)
// Copies at most size - 1 characters, always terminates when size > 0, and
// returns the length of the source (a result >= size means it was cut).
size_t strlcpy(char* destination, const char* source, size_t size);
#endif
