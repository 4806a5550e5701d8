#pragma once

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
template <typename T>
std::optional<NSError> urlErrorOf(Awaitable<T> work) {
    try {
        await<T>(std::move(work));
    } catch (const NSErrorException& error) {
        return error.error();
    }
    return std::nullopt;
}

inline HttpRequest requestFor(std::string url, std::string method = "GET") {
    HttpRequest request;
    request.url = std::move(url);
    request.method = std::move(method);
    return request;
}

inline std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::vector<std::uint8_t> bytes(std::string_view text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

}  // namespace ambrell::platform
