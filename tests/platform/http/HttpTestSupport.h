#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/NSErrorException.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/LoopbackWebService.h"

namespace ambrell::platform {

using Strings = std::vector<std::string>;

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
std::optional<NSError> urlErrorOf(Awaitable<T> work) {
    return await([](Awaitable<T> operation) -> Awaitable<std::optional<NSError>> {
        try {
            co_await std::move(operation);
        } catch (const NSErrorException& error) {
            co_return error.error();
        }
        co_return std::nullopt;
    }(std::move(work)));
}

// The code of a failed completion-form result; 0 when it holds no NSError.
template <typename T>
std::int64_t codeOf(const TaskResult<T>& result) {
    try {
        std::rethrow_exception(result.error());
    } catch (const NSErrorException& error) {
        return error.error().code;
    } catch (...) {
        return 0;
    }
}

inline HttpRequest requestFor(std::string url, std::string method = "GET", HttpHeaders headers = {}) {
    HttpRequest request;
    request.url = std::move(url);
    request.method = std::move(method);
    request.headers = std::move(headers);
    return request;
}

// A loopback port on which nothing listens any more.
inline int closedPort() { return test::LoopbackWebService().port(); }

inline std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::vector<std::uint8_t> bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A session and the loopback web service it talks to.
class LoopbackSessionTest : public ::testing::Test {
protected:
    HttpDataResult get(std::string_view pathAndQuery, HttpHeaders headers = {}) {
        return await(session_.data(requestFor(service_.url(pathAndQuery), "GET", std::move(headers))));
    }
    // The last request to the path; a failure, and an empty record, when none arrived.
    test::RecordedRequest lastRequest(std::string_view path) const {
        auto received = service_.lastRequest(path);
        EXPECT_TRUE(received) << path;
        return received.value_or(test::RecordedRequest{});
    }

    test::LoopbackWebService service_;
    HttpSession session_;
};

}  // namespace ambrell::platform
