// The standard error report's text: the message with a full stop appended when
// it is not empty and its last character's code is greater than that of ".".
#pragma once

#include <string>

namespace palvex {

std::string FormatErrorReport(const std::string& message);

} // namespace palvex
