#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace ambrell::platform {
class SerialExecutor;
}  // namespace ambrell::platform

namespace ambrell {

class MQTTTransport;

enum class MQTTTransportState : std::uint32_t {
    initial = 0,
    opening = 1,
    // The output side takes bytes.
    open = 2,
    // Closed by its owner, or the output side failed.
    closing = 3,
    // The peer ended the connection.
    closed = 4,
};

// The TLS level a transport asks for. Every level gets TLS 1.2 or later:
// older protocol versions are never offered.
inline constexpr std::string_view kMQTTStreamSocketSecurityLevelNegotiatedSSL =
    "kCFStreamSocketSecurityLevelNegotiatedSSL";

// Told what happens to a transport's connection, always on the transport's
// queue, one call at a time. Every method is optional. A delegate may close
// the transport, send, or drop its last reference to it from any callback.
class MQTTTransportDelegate {
public:
    virtual ~MQTTTransportDelegate() = default;
    // The connection is up (TLS handshake and trust check included): send
    // now takes bytes.
    virtual void mqttTransportDidOpen(MQTTTransport& /*transport*/) {}
    // A chunk of received bytes, split anywhere (not one packet). Valid only
    // during the call.
    virtual void mqttTransportDidReceiveMessage(MQTTTransport& /*transport*/, std::span<const std::uint8_t> /*data*/) {}
    // The connection could not be made or broke: set-up, name resolution,
    // connect, handshake, trust, read or write. The transport is closed
    // (state closing) and says nothing more.
    virtual void mqttTransportDidFailWithError(MQTTTransport& /*transport*/, const platform::NSError& /*error*/) {}
    // The peer ended the connection in order (state closed); nothing more
    // follows.
    virtual void mqttTransportDidClose(MQTTTransport& /*transport*/) {}
};

// Moves bytes between an MQTT session and the network. This base does
// nothing (open and close are no-ops, send refuses); concrete transports
// override the three.
//
// Must be owned by a std::shared_ptr: callbacks keep the transport alive
// while they run, and a transport not owned that way delivers none.
// Configure it (host, port, queue, delegate ...) before open, from one
// thread; state() and send() may be called from any thread.
class MQTTTransport : public std::enable_shared_from_this<MQTTTransport> {
public:
    // Queue: a new strand of the shared thread pool.
    MQTTTransport();
    virtual ~MQTTTransport();
    MQTTTransport(const MQTTTransport&) = delete;
    MQTTTransport& operator=(const MQTTTransport&) = delete;

    // Starts connecting; the result comes to the delegate on the queue.
    virtual void open() {}
    // Ends the connection from any thread without waiting: no delegate
    // callback starts afterwards (one running on the queue at that moment
    // may still finish). Nothing is reported.
    virtual void close() {}
    // Takes the bytes for sending, after what was sent before, whole and in
    // order. False, nothing kept, unless the transport is open and its
    // output side has not failed.
    virtual bool send(std::span<const std::uint8_t> /*bytes*/) { return false; }

    [[nodiscard]] MQTTTransportState state() const { return state_.load(); }

    // The serial queue carrying the connection and every delegate callback.
    [[nodiscard]] const platform::SerialExecutor& queue() const;
    void setQueue(const platform::SerialExecutor& queue);

    [[nodiscard]] std::shared_ptr<MQTTTransportDelegate> delegate() const { return delegate_.lock(); }
    // Held weakly: a gone delegate hears nothing.
    void setDelegate(std::weak_ptr<MQTTTransportDelegate> delegate) { delegate_ = std::move(delegate); }

    [[nodiscard]] const std::string& host() const { return host_; }
    void setHost(std::string host) { host_ = std::move(host); }
    [[nodiscard]] std::uint32_t port() const { return port_; }
    void setPort(std::uint32_t port) { port_ = port; }
    [[nodiscard]] const std::string& streamSSLLevel() const { return streamSSLLevel_; }
    void setStreamSSLLevel(std::string level) { streamSSLLevel_ = std::move(level); }

protected:
    void setState(MQTTTransportState state) { state_.store(state); }

private:
    std::atomic<MQTTTransportState> state_{MQTTTransportState::initial};
    std::unique_ptr<platform::SerialExecutor> queue_;
    std::weak_ptr<MQTTTransportDelegate> delegate_;
    std::string host_ = "localhost";
    std::uint32_t port_ = 1883;
    std::string streamSSLLevel_{kMQTTStreamSocketSecurityLevelNegotiatedSSL};
};

}  // namespace ambrell
