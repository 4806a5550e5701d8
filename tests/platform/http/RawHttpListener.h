#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ambrell::platform {

// A bare HTTP listener on 127.0.0.1 that keeps each request's head byte for
// byte (the server library of the loopback web service files header fields
// by name, losing their order) and answers 204 No Content.
class RawHttpListener {
public:
    RawHttpListener();
    ~RawHttpListener();
    RawHttpListener(const RawHttpListener&) = delete;
    RawHttpListener& operator=(const RawHttpListener&) = delete;

    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] std::string url(const std::string& path) const;
    // The head of each request received: request line and header lines, CRLF-separated.
    [[nodiscard]] std::vector<std::string> heads() const;
    [[nodiscard]] std::size_t connections() const { return connections_; }

private:
    void acceptLoop();

    int socket_ = -1;
    int port_ = 0;
    std::atomic<std::size_t> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
    std::thread thread_;
};

}  // namespace ambrell::platform
