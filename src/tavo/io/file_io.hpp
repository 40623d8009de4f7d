#pragma once
// Whole-file reading and writing with the system's error texts.

#include <stdexcept>
#include <string>
#include <string_view>

namespace tavo::io {

// A failed file operation. The text is what callers show: "{description} (os error {code})" for
// errors of the operating system ("No such file or directory (os error 2)"), "file name contained an
// unexpected NUL byte" for such a path, "stream did not contain valid UTF-8" for bytes that are not
// UTF-8 text.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "{description} (os error {code})" for an errno value.
std::string system_error_text(int code);

// The whole file as text; it must be valid UTF-8.
std::string read_text(const std::string& path);

// Replaces the file's content as a whole. The content goes to a temporary file in the target's
// directory, which is then renamed over the target: a failure at any point leaves the previous file
// untouched and no temporary file behind. An existing target keeps its permission bits.
void write_atomically(const std::string& path, std::string_view content);

}  // namespace tavo::io
