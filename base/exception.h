// Exception classes of the runtime layer. Every failure the tool reports is
// an Exception carrying one message; the class tells callers what kind of
// failure it was, the message is what the user sees.
#pragma once

#include <cstdarg>
#include <stdexcept>
#include <string>

namespace glx {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& message() const noexcept { return m_message; }

private:
    std::string m_message;
};

// printf-style formatting for the fixed messages ("List index out of bounds (%d)").
std::string formatMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The arguments are class names, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define GLX_EXCEPTION(Name, Base) \
    class Name : public Base { \
    public: \
        using Base::Base; \
    };
// NOLINTEND(bugprone-macro-parentheses)

GLX_EXCEPTION(EConvertError, Exception)  // text that is not a number, bad assignment
GLX_EXCEPTION(EListError, Exception)  // string list index errors
GLX_EXCEPTION(EInOutError, Exception)  // text file layer
GLX_EXCEPTION(EStreamError, Exception)  // stream layer
GLX_EXCEPTION(EFOpenError, EStreamError)  // "Cannot open file ..."
GLX_EXCEPTION(EFCreateError, EStreamError)  // "Cannot create file ..."
GLX_EXCEPTION(EReadError, EStreamError)  // "Stream read error"
GLX_EXCEPTION(EWriteError, EStreamError)  // "Stream write error"
GLX_EXCEPTION(EOutOfMemory, Exception)  // "Out of memory"
GLX_EXCEPTION(ELimitExceeded, Exception)  // picture larger than the machine-protecting limits
GLX_EXCEPTION(EInvalidOperation, Exception)
GLX_EXCEPTION(EInvalidGraphic, Exception)
GLX_EXCEPTION(EOutOfResources, Exception)
GLX_EXCEPTION(EOSError, Exception)

#undef GLX_EXCEPTION

// A state the code's own invariants rule out: a bug, never bad input. It
// is deliberately not an Exception, so no handler meant for damaged input
// swallows it; the error report still shows it, and the fuzz targets treat
// it as a crash.
class EInternalError : public std::logic_error {
public:
    explicit EInternalError(const std::string& what) : std::logic_error("Internal error: " + what) {}
};

}  // namespace glx
