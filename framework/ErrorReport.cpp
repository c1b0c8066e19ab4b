#include "framework/ErrorReport.h"

namespace palvex {

std::string FormatErrorReport(const std::string& message)
{
    // Compared as unsigned bytes: a UTF-8 tail byte counts as above ".".
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

} // namespace palvex
