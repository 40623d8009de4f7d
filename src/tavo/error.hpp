#pragma once
// Failure kinds of the core. Every throw carries its final, user-facing message; the Python layer maps
// each kind to one exception class in a single place and never rewrites the text.

#include <stdexcept>
#include <string>

namespace tavo {

// A value an operation refuses (unknown topology name, unknown option string, ...).
class InvalidValue : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operation that could not be carried out (file I/O, parsing, a missing network, ...).
class OperationFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A broken internal precondition.
class Panic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tavo
