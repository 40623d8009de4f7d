#include "tavo/io/file_io.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "json/utf8.hpp"

namespace tavo::io {
namespace {

[[noreturn]] void fail_with_errno(int code) { throw FileError(system_error_text(code)); }

void refuse_nul(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw FileError("file name contained an unexpected NUL byte");
    }
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::string system_error_text(int code) {
    char buffer[256] = {};
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(code) + ")";
}

std::string read_text(const std::string& path) {
    refuse_nul(path);
    Descriptor file;
    do {
        file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) fail_with_errno(errno);

    std::string content;
    struct stat info {};
    if (::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        content.reserve(std::size_t(info.st_size));
    }
    char chunk[65536];
    for (;;) {
        ssize_t count = ::read(file.fd, chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR) continue;
            fail_with_errno(errno);
        }
        if (count == 0) break;
        content.append(chunk, std::size_t(count));
    }
    if (!json::is_valid_utf8(content)) throw FileError("stream did not contain valid UTF-8");
    return content;
}

void write_atomically(const std::string& path, std::string_view content) {
    refuse_nul(path);
    std::string directory = ".";
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        directory = slash == 0 ? "/" : path.substr(0, slash);
    }
    std::string temporary = (directory == "/" ? std::string("/") : directory + "/") + ".tavo-XXXXXX";
    Descriptor file;
    file.fd = ::mkstemp(temporary.data());
    if (file.fd < 0) fail_with_errno(errno);

    auto abandon = [&](int code) {
        ::close(file.fd);
        file.fd = -1;
        ::unlink(temporary.c_str());
        fail_with_errno(code);
    };
    // mkstemp creates the file private to the user; give it the target's bits, or the usual ones
    // for a new file.
    struct stat existing {};
    mode_t mode;
    if (::stat(path.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(file.fd, mode) != 0) abandon(errno);

    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t written = ::write(file.fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            abandon(errno);
        }
        data += written;
        left -= std::size_t(written);
    }
    if (::fsync(file.fd) != 0) abandon(errno);
    if (::close(file.fd) != 0) {
        file.fd = -1;
        int code = errno;
        ::unlink(temporary.c_str());
        fail_with_errno(code);
    }
    file.fd = -1;
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int code = errno;
        ::unlink(temporary.c_str());
        fail_with_errno(code);
    }
}

}  // namespace tavo::io
