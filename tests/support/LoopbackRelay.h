#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ambrell::test::detail {

// The front door of the loopback web service. The server library behind it
// files request header fields by name, percent-decodes their values and
// drops empty ones; a test of what a client sends needs the head as sent.
// So clients connect here, every byte passes through unchanged to the server
// on its own loopback port, and each request head is kept on the way.
class LoopbackRelay {
public:
    // Listens on 127.0.0.1, on a port of its own, for the server at `serverPort`.
    explicit LoopbackRelay(int serverPort);
    ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    [[nodiscard]] int port() const { return port_; }

    struct Head {
        // The port of the client's end of its connection.
        int clientPort = 0;
        // Request line and header lines, CRLF-separated, without the blank line.
        std::string text;
    };
    // The next request head passed to the server on the connection whose
    // server-side peer port is `relayPort` (what the server sees as the remote port).
    std::optional<Head> takeHead(int relayPort);
    // Closes that connection's client side without a word.
    void dropClient(int relayPort);
    // Closes every connection and waits for their threads; later clients are refused.
    void stop();

private:
    struct Connection;
    void acceptLoop();
    void reapFinished();

    int listener_ = -1;
    int port_ = 0;
    int serverPort_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    bool stopped_ = false;
    std::map<int, std::shared_ptr<Connection>> connections_;  // by relay port
};

}  // namespace ambrell::test::detail
