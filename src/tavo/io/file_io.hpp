#pragma once
// Whole-file reading and writing with the system's error texts.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tavo::io {

// A failed file operation. The text is what callers show: "{description} (os error {code})" for
// errors of the operating system ("No such file or directory (os error 2)"), "file name contained
// an unexpected NUL byte" for such a path, "stream did not contain valid UTF-8" for bytes that are
// not UTF-8 text. code() is the system's error number, or 0 for the other two.
class FileError : public std::runtime_error {
public:
    explicit FileError(const std::string& text, int code = 0)
        : std::runtime_error(text), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

// "{description} (os error {code})" for an errno value.
std::string system_error_text(int code);

// The most read_text takes: 1 GiB. Beyond it a document is refused rather than read until memory
// runs out (a device such as /dev/zero never ends).
inline constexpr std::size_t kMaxTextBytes = std::size_t{1} << 30;

// "document exceeds the size limit of 1 GiB (1073741824 bytes)", with code EFBIG.
std::string oversized_text();

// The whole file as text; it must be valid UTF-8. Reading waits, as long as it takes, for what a
// pipe or device delivers, and checks for interruption (tavo/interrupt.hpp) while it waits. A
// file of more than kMaxTextBytes is refused: a regular file before anything is read, a stream
// once it has delivered that much.
std::string read_text(const std::string& path);

// Replaces the file's content as a whole, keeping what a plain write would keep:
//   - a regular file is replaced atomically: the content goes to a new file in the target's
//     directory, created as open(..., 0666) under the process's umask, then renamed over the
//     target, and the directory is synced; a failure at any point leaves the previous file as it
//     was and no temporary file behind. An existing target keeps its permission bits (never
//     setuid, setgid or sticky) and, where the process may keep them, its owner and group;
//   - a symbolic link is followed: the file it points to is replaced and the link stays;
//   - a target that is not a regular file (a device, a FIFO) is written in place;
//   - a target the process may not write is refused as a plain write would be (EACCES).
void write_atomically(const std::string& path, std::string_view content);

}  // namespace tavo::io
