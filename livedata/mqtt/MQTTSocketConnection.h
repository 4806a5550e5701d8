#pragma once

// Internal to the socket transport: one TCP or TLS connection on the
// transport's queue. Included by the transport's .cpp files only, so that
// Asio and OpenSSL stay out of the public headers.

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTEncoderBuffer.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class MQTTSSLSecurityPolicy;

// Everything a connection needs to know of its transport, copied at open.
struct MQTTConnectionSettings {
    std::string host;
    std::uint32_t port = 0;
    bool tls = false;
    std::shared_ptr<const MQTTClientCertificates> certificates;
    // The TLS library checks nothing; the policy (when there is one) judges
    // the chain after the handshake.
    bool usePolicy = false;
    std::shared_ptr<const MQTTSSLSecurityPolicy> policy;
};

// Resolves, connects, handshakes and checks the server, then reads and
// writes until either side ends it. Everything but send, pendingBytes and
// cancel runs on the queue's strand; the transport hears of it only while it
// lives and has not cancelled the connection.
class MQTTSocketConnection : public std::enable_shared_from_this<MQTTSocketConnection> {
public:
    // Told of the connection's course, on the queue. The transport.
    class Owner {
    public:
        virtual ~Owner() = default;
        virtual void connectionDidOpen() = 0;
        virtual void connectionDidReceive(std::span<const std::uint8_t> data) = 0;
        virtual void connectionDidFail(const platform::NSError& error) = 0;
        virtual void connectionDidClose() = 0;
    };

    MQTTSocketConnection(std::weak_ptr<Owner> owner, const platform::SerialExecutor& queue,
                         MQTTConnectionSettings settings);

    // Starts on the queue (never within the call).
    void start();
    // From any thread: the owner hears nothing more, sends are refused, and
    // what was taken is still written (for a bounded time) before the socket
    // closes.
    void cancel();
    bool send(std::span<const std::uint8_t> bytes);
    [[nodiscard]] std::size_t pendingBytes() const;

private:
    using ErrorCode = boost::system::error_code;
    using Socket = boost::asio::ip::tcp::socket;

    void begin();
    void didResolve(const ErrorCode& error, const boost::asio::ip::tcp::resolver::results_type& endpoints);
    void didConnect(const ErrorCode& error);
    void didHandshake(const ErrorCode& error);
    void becomeReady();
    void readMore();
    void didRead(const ErrorCode& error, std::size_t count);
    void writeMore();
    void didWrite(const ErrorCode& error, std::size_t count);
    void fail(const platform::NSError& error);
    void peerClosed();
    void beginClose();
    void linger();
    void discardMore();
    void closeSocket();
    [[nodiscard]] Socket& lowestLayer();
    template <typename Call>
    void notify(Call&& call);

    std::weak_ptr<Owner> owner_;
    platform::Executor executor_;
    MQTTConnectionSettings settings_;
    boost::asio::ip::tcp::resolver resolver_;
    boost::asio::steady_timer drainTimer_;
    std::optional<boost::asio::ssl::context> context_;
    std::optional<Socket> plain_;
    std::optional<boost::asio::ssl::stream<Socket>> tls_;
    std::vector<std::uint8_t> readBuffer_;

    std::atomic<bool> cancelled_{false};
    mutable std::mutex bufferMutex_;
    MQTTEncoderBuffer buffer_;  // guarded by bufferMutex_

    // On the queue only.
    bool connected_ = false;
    // No more reads nor reports: failed, closed by the peer or cancelled.
    bool stopped_ = false;
    // Cancelled with bytes still to write: the socket closes once they are.
    bool draining_ = false;
    // A read is under way.
    bool reading_ = false;
    // Everything is written and the sending side shut: what still comes is
    // read and dropped until the peer closes.
    bool lingering_ = false;
    bool socketClosed_ = false;
};

}  // namespace ambrell
