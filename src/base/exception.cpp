#include "base/exception.h"

#include <cstdarg>
#include <cstdio>

void ThrowError(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    throw TException(text);
}
