#pragma once

// Internal to platform: the owner of a POSIX file descriptor, and the error of
// the system call that just failed.

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace ambrell::platform::detail {

// errno as an error code; read it before anything else can change errno.
inline std::error_code lastSystemError() { return {errno, std::generic_category()}; }

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (isOpen()) ::close(descriptor_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            close();
            descriptor_ = std::exchange(other.descriptor_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    [[nodiscard]] bool isOpen() const { return descriptor_ >= 0; }
    [[nodiscard]] int get() const { return descriptor_; }

    // Closing reports the last write errors of some file systems (NFS), so
    // a writer closes explicitly and checks.
    std::error_code close() {
        const int descriptor = std::exchange(descriptor_, -1);
        if (descriptor >= 0 && ::close(descriptor) != 0 && errno != EINTR) return lastSystemError();
        return {};
    }

private:
    int descriptor_;
};

}  // namespace ambrell::platform::detail
