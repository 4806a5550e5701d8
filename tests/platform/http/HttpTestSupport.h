#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/Error.h"
#include "platform/NSErrorException.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

// Runs an awaitable operation to its end from a test's thread.
template <typename T>
T await(Awaitable<T> work) {
    return blockingWait<T>(ThreadPool::shared().makeStrand(), std::move(work));
}

// The error an awaitable operation failed with; none when it succeeded.
// Caught where it was thrown: an exception handed across threads is freed by
// whichever thread lets go of it last, through reference counts that
// ThreadSanitizer does not see in the uninstrumented C++ runtime.
template <typename T>
Awaitable<std::optional<NSError>> errorOf(Awaitable<T> work) {
    try {
        co_await std::move(work);
    } catch (const NSErrorException& error) {
        co_return error.error();
    }
    co_return std::nullopt;
}

template <typename T>
std::optional<NSError> urlErrorOf(Awaitable<T> work) {
    return await(errorOf<T>(std::move(work)));
}

inline HttpRequest requestFor(std::string url, std::string method = "GET") {
    HttpRequest request;
    request.url = std::move(url);
    request.method = std::move(method);
    return request;
}

// A loopback port on which nothing listens: bound once to learn a free one,
// then closed.
inline int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::vector<std::uint8_t> bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace ambrell::platform
