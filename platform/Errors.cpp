// Message formatting for the exception classes.
#include "platform/Errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace palvex {

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return result;
}

std::string SystemErrorText(int errorNumber)
{
    return std::strerror(errorNumber);
}

} // namespace palvex
