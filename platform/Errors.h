// The exception classes of the system: one base that carries the message, and
// the kinds that callers tell apart.
#pragma once

#include <exception>
#include <string>

namespace palvex {

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const noexcept { return m_message; }
    // For a caller that adds where the error happened before passing it on.
    void SetMessage(std::string message) { m_message = std::move(message); }

private:
    std::string m_message;
};

#define PALVEX_EXCEPTION(Name, Base)       \
    class Name : public Base {             \
    public:                                \
        using Base::Base;                  \
    }

PALVEX_EXCEPTION(EConvertError, Exception);
PALVEX_EXCEPTION(EAssertionFailed, Exception);
PALVEX_EXCEPTION(EOutOfMemory, Exception);
PALVEX_EXCEPTION(EStreamError, Exception);
PALVEX_EXCEPTION(EFOpenError, EStreamError);
PALVEX_EXCEPTION(EFCreateError, EStreamError);
PALVEX_EXCEPTION(EReadError, EStreamError);
PALVEX_EXCEPTION(EWriteError, EStreamError);
PALVEX_EXCEPTION(EInvalidGraphic, Exception);
PALVEX_EXCEPTION(EJPEG, EInvalidGraphic);
PALVEX_EXCEPTION(GIFException, EInvalidGraphic);
PALVEX_EXCEPTION(EInvalidGraphicOperation, Exception);
PALVEX_EXCEPTION(EGraphicCompression, Exception);
PALVEX_EXCEPTION(EColorConversionError, Exception);
PALVEX_EXCEPTION(ETransformError, Exception);
PALVEX_EXCEPTION(ERegistryException, Exception);

#undef PALVEX_EXCEPTION

// The fixed texts that several layers raise.
inline constexpr const char* kSReadError = "Stream read error";
inline constexpr const char* kSWriteError = "Stream write error";
inline constexpr const char* kSFOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char* kSFCreateError = "Cannot create file \"%s\". %s";
inline constexpr const char* kSFWriteError = "Cannot write file \"%s\". %s";
inline constexpr const char* kSAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* kSInvalidInteger = "'%s' is not a valid integer value";

// The system's text for an errno value, as the messages above want it.
std::string SystemErrorText(int errorNumber);

} // namespace palvex
