#include "tavo/io/file_io.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "json/utf8.hpp"
#include "tavo/interrupt.hpp"
#include "tavo/random/chacha.hpp"

namespace tavo::io {
namespace {

[[noreturn]] void fail_with_errno(int code) { throw FileError(system_error_text(code), code); }

void refuse_nul(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw FileError("file name contained an unexpected NUL byte");
    }
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Waits until fd is ready for `events` (or hung up), checking for interruption meanwhile.
void wait_for(int fd, short events) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, kInterruptPollMs);
        if (ready > 0) return;
        if (ready < 0 && errno != EINTR) fail_with_errno(errno);
        check_interrupt();
    }
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once symbolic links are followed; a link to a file that does not exist yet
// names that file, as a plain write would create it.
std::string resolve_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info{};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(std::size_t(info.st_size > 0 ? info.st_size : 256), '\0');
        for (;;) {
            const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
            if (length < 0) fail_with_errno(errno);
            if (std::size_t(length) < target.size()) {
                target.resize(std::size_t(length));
                break;
            }
            target.resize(target.size() * 2);
        }
        path = !target.empty() && target[0] == '/' ? target : directory_of(path) + "/" + target;
    }
    fail_with_errno(ELOOP);
}

void write_all(int fd, std::string_view content, bool nonblocking) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (nonblocking && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                wait_for(fd, POLLOUT);
                continue;
            }
            fail_with_errno(errno);
        }
        data += written;
        left -= std::size_t(written);
    }
}

// A device or a FIFO is written in place. Opening a FIFO that has no reader yet waits for one, as a
// plain open would, but interruptibly.
void write_in_place(const std::string& path, std::string_view content) {
    Descriptor file;
    for (;;) {
        file.fd = open_retrying(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (file.fd >= 0) break;
        if (errno != ENXIO) fail_with_errno(errno);
        ::usleep(10'000);
        check_interrupt();
    }
    write_all(file.fd, content, true);
}

std::string temporary_name(const std::string& directory) {
    std::uint64_t bits = 0;
    os_entropy(&bits, sizeof bits);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = (directory == "/" ? std::string("/") : directory + "/") + ".tavo-";
    for (int i = 0; i < 16; ++i) name.push_back(kHex[(bits >> (4 * i)) & 0xF]);
    return name;
}

// Syncs a directory so that a rename in it survives a crash. Best effort: the new content is in
// place already, and some file systems cannot sync a directory.
void sync_directory(const std::string& directory) {
    Descriptor folder(open_retrying(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd >= 0) ::fsync(folder.fd);
}

}  // namespace

std::string system_error_text(int code) {
    char buffer[256] = {};
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(code) + ")";
}

std::string oversized_text() {
    return "document exceeds the size limit of 1 GiB (" + std::to_string(kMaxTextBytes) + " bytes)";
}

std::string read_text(const std::string& path) {
    refuse_nul(path);
    // Opening without waiting: a FIFO with no writer yet would block the open itself.
    Descriptor file(open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.fd < 0) fail_with_errno(errno);

    std::string content;
    struct stat info {};
    const bool regular = ::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular && std::uintmax_t(info.st_size) > kMaxTextBytes) {
        throw FileError(oversized_text(), EFBIG);
    }
    if (regular && info.st_size > 0) content.reserve(std::size_t(info.st_size));
    char chunk[65536];
    for (;;) {
        if (!regular) wait_for(file.fd, POLLIN);
        const ssize_t count = ::read(file.fd, chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            fail_with_errno(errno);
        }
        if (count == 0) break;
        // Also a regular file that grows while it is read.
        if (std::size_t(count) > kMaxTextBytes - content.size()) {
            throw FileError(oversized_text(), EFBIG);
        }
        content.append(chunk, std::size_t(count));
        check_interrupt();  // a device may never end (/dev/zero)
    }
    if (!json::is_valid_utf8(content)) throw FileError("stream did not contain valid UTF-8");
    return content;
}

void write_atomically(const std::string& path, std::string_view content) {
    refuse_nul(path);
    const std::string target = resolve_links(path);
    struct stat existing{};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target, content);
    if (exists) {
        // What a plain write would refuse (a read-only file for anyone but root) is refused here,
        // though the directory would allow replacing the file.
        Descriptor probe(open_retrying(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (probe.fd < 0) fail_with_errno(errno);
    }

    const std::string directory = directory_of(target);
    std::string temporary;
    Descriptor file;
    for (int attempt = 0; file.fd < 0; ++attempt) {
        temporary = temporary_name(directory);
        // Created as a plain write would create the file: 0666 under the process's umask.
        file.fd = open_retrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.fd < 0 && (errno != EEXIST || attempt == 100)) fail_with_errno(errno);
    }

    auto abandon = [&](int code) {
        ::close(file.fd);
        file.fd = -1;
        ::unlink(temporary.c_str());
        fail_with_errno(code);
    };
    if (exists) {
        // Owner and group where the process may keep them (root may; others may keep a group they
        // belong to), then the permission bits without setuid, setgid and sticky.
        if (::fchown(file.fd, existing.st_uid, existing.st_gid) != 0) {
            (void)::fchown(file.fd, static_cast<uid_t>(-1), existing.st_gid);
        }
        if (::fchmod(file.fd, existing.st_mode & 0777) != 0) abandon(errno);
    }
    try {
        write_all(file.fd, content, false);
    } catch (const FileError& error) {
        abandon(error.code());
    }
    if (::fsync(file.fd) != 0) abandon(errno);
    if (::close(file.fd) != 0) {
        file.fd = -1;
        const int code = errno;
        ::unlink(temporary.c_str());
        fail_with_errno(code);
    }
    file.fd = -1;
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        fail_with_errno(code);
    }
    sync_directory(directory);
}

}  // namespace tavo::io
