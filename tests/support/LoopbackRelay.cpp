#include "tests/support/LoopbackRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <stdexcept>
#include <string_view>

namespace ambrell::test::detail {

namespace {

// The port of a socket's own end (getsockname) or of its peer's (getpeername).
int portOf(int fd, int (*query)(int, sockaddr*, socklen_t*) = ::getsockname) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (query(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// Bytes pass on as they come; Nagle's algorithm would hold small writes
// back for the peer's delayed acknowledgement.
void sendPromptly(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

// Follows the request stream of one connection far enough to find where
// each head begins: past each body, by its length or its chunks.
class RequestStreamParser {
public:
    // Feeds received bytes; returns the heads they complete.
    std::vector<std::string> feed(const char* data, std::size_t size) {
        buffer_.append(data, size);
        std::vector<std::string> heads;
        for (;;) {
            if (state_ == State::head) {
                while (buffer_.starts_with("\r\n")) buffer_.erase(0, 2);  // stray line breaks between requests
                const auto end = buffer_.find("\r\n\r\n");
                if (end == std::string::npos) break;
                std::string head = buffer_.substr(0, end);
                buffer_.erase(0, end + 4);
                startBody(head);
                heads.push_back(std::move(head));
            } else if (state_ == State::body || state_ == State::chunkData) {
                const auto taken = static_cast<std::size_t>(std::min<unsigned long long>(remaining_, buffer_.size()));
                buffer_.erase(0, taken);
                remaining_ -= taken;
                if (remaining_ > 0) break;
                state_ = state_ == State::body ? State::head : State::chunkSize;
            } else {
                const auto end = buffer_.find("\r\n");
                if (end == std::string::npos) break;
                const std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                if (state_ == State::chunkSize) {
                    const unsigned long long size = std::strtoull(line.c_str(), nullptr, 16);
                    if (size == 0) {
                        state_ = State::trailers;
                    } else {
                        remaining_ = size + 2;  // the chunk and its line break
                        state_ = State::chunkData;
                    }
                } else if (line.empty()) {
                    state_ = State::head;  // the blank line after the trailers
                }
            }
        }
        return heads;
    }

private:
    enum class State { head, body, chunkSize, chunkData, trailers };

    void startBody(const std::string& head) {
        state_ = State::head;
        std::size_t start = head.find("\r\n");
        while (start != std::string::npos) {
            start += 2;
            auto end = head.find("\r\n", start);
            const std::string_view line =
                std::string_view(head).substr(start, end == std::string::npos ? std::string::npos : end - start);
            const auto colon = line.find(':');
            if (colon != std::string_view::npos) {
                const std::string name = lowered(line.substr(0, colon));
                const std::string value = lowered(line.substr(colon + 1));
                if (name == "transfer-encoding" && value.find("chunked") != std::string::npos) {
                    state_ = State::chunkSize;
                    return;
                }
                if (name == "content-length") {
                    remaining_ = std::strtoull(value.c_str(), nullptr, 10);
                    if (remaining_ > 0) state_ = State::body;
                }
            }
            start = end;
        }
    }

    std::string buffer_;
    State state_ = State::head;
    unsigned long long remaining_ = 0;
};

}  // namespace

struct LoopbackRelay::Connection {
    int client = -1;
    int server = -1;
    int clientPort = 0;
    std::deque<std::string> heads;  // guarded by the relay's mutex
    bool closed = false;            // likewise: the descriptors are gone
    std::atomic<bool> finished{false};
    std::thread thread;
};

LoopbackRelay::LoopbackRelay(int serverPort) : serverPort_(serverPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("LoopbackRelay: socket failed");
    sockaddr_in address = loopbackAddress(0);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 128) != 0) {
        ::close(listener_);
        throw std::runtime_error("LoopbackRelay: cannot listen on 127.0.0.1");
    }
    port_ = portOf(listener_);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackRelay::~LoopbackRelay() {
    stop();
    ::close(listener_);
}

void LoopbackRelay::stop() {
    std::map<int, std::shared_ptr<Connection>> connections;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        // Wakes the blocked accept() on Linux.
        ::shutdown(listener_, SHUT_RDWR);
        for (const auto& [port, connection] : connections_) {
            if (connection->closed) continue;
            ::shutdown(connection->client, SHUT_RDWR);
            ::shutdown(connection->server, SHUT_RDWR);
        }
        connections = connections_;
    }
    acceptor_.join();
    for (auto& [port, connection] : connections) {
        if (connection->thread.joinable()) connection->thread.join();
    }
}

std::optional<LoopbackRelay::Head> LoopbackRelay::takeHead(int relayPort) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(relayPort);
    if (found == connections_.end() || found->second->heads.empty()) return std::nullopt;
    Head head{found->second->clientPort, std::move(found->second->heads.front())};
    found->second->heads.pop_front();
    return head;
}

void LoopbackRelay::dropClient(int relayPort) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(relayPort);
    if (found == connections_.end() || found->second->closed) return;
    ::shutdown(found->second->client, SHUT_RDWR);
}

void LoopbackRelay::reapFinished() {
    std::vector<std::shared_ptr<Connection>> ended;
    {
        std::lock_guard lock(mutex_);
        for (auto entry = connections_.begin(); entry != connections_.end();) {
            if (entry->second->finished) {
                ended.push_back(entry->second);
                entry = connections_.erase(entry);
            } else {
                ++entry;
            }
        }
    }
    for (auto& connection : ended) connection->thread.join();
}

void LoopbackRelay::acceptLoop() {
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        reapFinished();
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopbackAddress(serverPort_);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (server >= 0) ::close(server);
            ::close(client);
            continue;
        }
        sendPromptly(client);
        sendPromptly(server);
        auto connection = std::make_shared<Connection>();
        connection->client = client;
        connection->server = server;
        connection->clientPort = portOf(client, ::getpeername);
        const int relayPort = portOf(server);
        std::lock_guard lock(mutex_);
        if (stopped_) {
            ::close(client);
            ::close(server);
            return;
        }
        connections_[relayPort] = connection;
        connection->thread = std::thread([this, connection] {
            // Answers flow back on a thread of their own, so neither direction
            // waits for the other.
            std::thread answers([connection] {
                char buffer[65536];
                for (;;) {
                    const ssize_t count = ::read(connection->server, buffer, sizeof buffer);
                    if (count < 0 && errno == EINTR) continue;
                    if (count <= 0 || !sendAll(connection->client, buffer, static_cast<std::size_t>(count))) break;
                }
                ::shutdown(connection->client, SHUT_WR);
            });
            RequestStreamParser parser;
            char buffer[65536];
            for (;;) {
                const ssize_t count = ::read(connection->client, buffer, sizeof buffer);
                if (count < 0 && errno == EINTR) continue;
                if (count <= 0) break;
                // Kept before the bytes go on, so a head is on record by the
                // time the server has read it.
                auto heads = parser.feed(buffer, static_cast<std::size_t>(count));
                if (!heads.empty()) {
                    std::lock_guard lock(mutex_);
                    for (auto& head : heads) connection->heads.push_back(std::move(head));
                }
                if (!sendAll(connection->server, buffer, static_cast<std::size_t>(count))) break;
            }
            ::shutdown(connection->server, SHUT_WR);
            answers.join();
            {
                std::lock_guard lock(mutex_);
                ::close(connection->client);
                ::close(connection->server);
                connection->closed = true;
            }
            connection->finished = true;
        });
    }
}

}  // namespace ambrell::test::detail
