#pragma once
// Failure kinds of the core. Every throw carries its final, user-facing message; the Python layer maps
// each kind to one exception class in a single place and never rewrites the text.

#include <stdexcept>
#include <string>

namespace tavo {

// Messages may quote user text verbatim (a path or an id with a NUL character in it): message()
// keeps the whole text, where what() stops at the first NUL.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message), message_(message) {}
    explicit Error(const char* message) : Error(std::string(message)) {}

    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// A value an operation refuses (unknown topology name, unknown option string, ...).
class InvalidValue : public Error {
public:
    using Error::Error;
};

// An operation that could not be carried out (file I/O, parsing, a missing network, ...).
class OperationFailed : public Error {
public:
    using Error::Error;
};

// A failed operation on a file: also names the file (as the caller gave it) and carries the
// system's error number (errno).
class FileFailed : public OperationFailed {
public:
    FileFailed(const std::string& message, std::string path, int code)
        : OperationFailed(message), path_(std::move(path)), code_(code) {}
    const std::string& path() const noexcept { return path_; }
    int code() const noexcept { return code_; }

private:
    std::string path_;
    int code_;
};

// A broken internal precondition.
class Panic : public Error {
public:
    using Error::Error;
};

}  // namespace tavo
