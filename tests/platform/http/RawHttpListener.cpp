#include "tests/platform/http/RawHttpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string_view>

namespace ambrell::platform {

RawHttpListener::RawHttpListener() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) throw std::runtime_error("RawHttpListener: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(socket_, 16) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket_);
        throw std::runtime_error("RawHttpListener: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { acceptLoop(); });
}

RawHttpListener::~RawHttpListener() {
    // Wakes the blocked accept() on Linux.
    ::shutdown(socket_, SHUT_RDWR);
    thread_.join();
    ::close(socket_);
}

std::string RawHttpListener::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> RawHttpListener::heads() const {
    std::lock_guard lock(mutex_);
    return heads_;
}

void RawHttpListener::acceptLoop() {
    for (;;) {
        const int connection = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
        ++connections_;
        std::string received;
        char buffer[4096];
        while (received.find("\r\n\r\n") == std::string::npos) {
            pollfd ready{connection, POLLIN, 0};
            if (::poll(&ready, 1, 5000) <= 0) break;
            const ssize_t count = ::read(connection, buffer, sizeof buffer);
            if (count <= 0) break;
            received.append(buffer, static_cast<std::size_t>(count));
        }
        const auto end = received.find("\r\n\r\n");
        {
            std::lock_guard lock(mutex_);
            heads_.push_back(received.substr(0, end));
        }
        constexpr std::string_view answer = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
        [[maybe_unused]] const auto sent = ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(connection);
    }
}

}  // namespace ambrell::platform
