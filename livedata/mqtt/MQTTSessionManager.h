#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "livedata/mqtt/MQTTMessage.h"
#include "livedata/mqtt/MQTTSessionClock.h"
#include "livedata/mqtt/MQTTSessionDelegate.h"

namespace ambrell::platform {
class SerialExecutor;
}  // namespace ambrell::platform

namespace ambrell {

class ForegroundReconnection;
class MQTTSSLSecurityPolicy;
class MQTTTransport;
class ReconnectTimer;
struct MQTTClientCertificates;

enum class MQTTSessionManagerState : std::int32_t {
    // Not connected; may connect.
    starting = 0,
    connecting = 1,
    // The last connection failed.
    error = 2,
    connected = 3,
    // A disconnect was asked for.
    closing = 4,
    closed = 5,
};

class MQTTSessionManager;

// Told what a session manager does, on its queue. Every method is optional.
class MQTTSessionManagerDelegate {
public:
    using Payload = std::span<const std::uint8_t>;

    virtual ~MQTTSessionManagerDelegate() = default;
    // Every state assignment, also one that keeps the state.
    virtual void sessionManager(MQTTSessionManager& /*manager*/, MQTTSessionManagerState /*state*/) {}
    // A received message (payload valid during the call); then handleMessage.
    virtual void sessionManager(MQTTSessionManager& /*manager*/, Payload /*data*/, const std::string& /*topic*/,
                                bool /*retained*/) {}
    virtual void handleMessage(Payload /*data*/, const std::string& /*topic*/, bool /*retained*/) {}
    // An outgoing QoS 1 or 2 message was acknowledged to its end; then
    // messageDelivered.
    virtual void sessionManager(MQTTSessionManager& /*manager*/, std::uint16_t /*msgID*/) {}
    virtual void messageDelivered(std::uint16_t /*msgID*/) {}
};

// What connectTo() connects with. Absent texts never match a stored value,
// so they always make a new session.
struct MQTTSessionManagerParameters {
    std::optional<std::string> host;
    // Its low 32 bits are used.
    std::int64_t port = 1883;
    bool tls = false;
    // Seconds.
    std::int64_t keepalive = 60;
    bool clean = true;
    // Whether user and pass are sent.
    bool auth = false;
    std::optional<std::string> user;
    std::optional<std::string> pass;
    bool will = false;
    std::optional<std::string> willTopic;
    std::optional<Bytes> willMsg;
    std::uint8_t willQos = 0;
    bool willRetainFlag = false;
    // None generates one.
    std::optional<std::string> clientId;
    // Checks the server instead of the system's trust store.
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy;
    // The client identity for TLS.
    std::shared_ptr<const MQTTClientCertificates> certificates;
    std::uint8_t protocolLevel = 4;
};

// One MQTT session kept up for its caller: it remembers how to connect,
// connects again after a failure (after 1, 2, 4 ... up to the maximum
// seconds, back to 1 after a success), follows the application into the
// background and back (ForegroundReconnection), and keeps a wanted set of
// subscriptions in step with the broker, subscribing them again on every
// connection the broker kept no session for.
//
// Threads: everything runs on `queue` (session, transports, timer); call
// every member there, except subscriptions(), effectiveSubscriptions() and
// state(), which any thread may read. Delegate calls come on `queue`.
//
// Completion: the connect handler of connectTo() or connectToLast() is the
// session's (called once, on the queue, with no error or the failure); a
// failure that follows is reported only as the states error and then
// closed, and retried by the timer. The disconnect handler is called once
// closed. Cancelling is disconnecting: it stops the retries.
//
// Must be owned by a std::shared_ptr (initWithPersistence): the session,
// timer and ForegroundReconnection hold it weakly.
class MQTTSessionManager : public MQTTSessionDelegate, public std::enable_shared_from_this<MQTTSessionManager> {
    struct Tag {};

public:
    using TransportFactory = std::function<std::shared_ptr<MQTTTransport>(const MQTTSessionManagerParameters&)>;

    // In-memory flows, window 16, 1,024 messages, 64 MiB, retries up to
    // 64 s, following the application, on the main queue.
    static std::shared_ptr<MQTTSessionManager> init();
    // The store settings go to the flow store of each new session; the
    // first retry waits 1 s. With connectInForeground the manager follows
    // the notifications of NotificationCenter::defaultCenter().
    static std::shared_ptr<MQTTSessionManager> initWithPersistence(
        bool persistent, std::uint64_t maxWindowSize, std::uint64_t maxMessages, std::uint64_t maxSize,
        double maxConnectionRetryInterval, bool connectInForeground, std::string streamSSLLevel,
        const platform::SerialExecutor& queue, std::shared_ptr<MQTTSessionClock> clock = MQTTSessionClock::system());

    MQTTSessionManager(Tag, bool persistent, std::uint64_t maxWindowSize, std::uint64_t maxMessages,
                       std::uint64_t maxSize, std::string streamSSLLevel, const platform::SerialExecutor& queue,
                       std::shared_ptr<MQTTSessionClock> clock);
    ~MQTTSessionManager() override;
    MQTTSessionManager(const MQTTSessionManager&) = delete;
    MQTTSessionManager& operator=(const MQTTSessionManager&) = delete;

    // Keeps the session when everything but the will flag and the protocol
    // level matches the last parameters (then disconnects and connects it
    // again); otherwise closes it and connects a new one.
    void connectTo(MQTTSessionManagerParameters parameters, MQTTConnectHandler connectHandler);
    // Unless connected: connects with the last parameters, the retry delay
    // back to its first value. Nothing happens before a connectTo().
    void connectToLast(MQTTConnectHandler connectHandler);
    // Closes the session (DISCONNECT when connected) and stops the retries.
    void disconnectWithDisconnectHandler(MQTTDisconnectHandler disconnectHandler);
    // Publishes with the session, connecting first unless connected; the
    // session's result (0 without a session).
    std::uint16_t sendData(std::span<const std::uint8_t> data, const std::string& topic, std::uint8_t qos, bool retain);

    // The wanted subscriptions: filter to QoS.
    [[nodiscard]] MQTTSubscriptions subscriptions() const;
    // While connected, unsubscribes the filters no longer wanted and
    // subscribes the new ones (a filter kept at another QoS is left alone);
    // otherwise only recorded for the next connection.
    void setSubscriptions(MQTTSubscriptions subscriptions);
    // The subscriptions the broker granted: each acknowledgement sets only
    // its own filters, a refused one (0x80 and up) left out.
    [[nodiscard]] MQTTSubscriptions effectiveSubscriptions() const;

    // Whether a connection is made or being made that must be torn down.
    [[nodiscard]] bool requiresTearDown() const;
    [[nodiscard]] MQTTSessionManagerState state() const { return state_.load(); }
    // The failure of the last connection, until the next success.
    [[nodiscard]] const MQTTOptionalError& lastErrorCode() const { return lastErrorCode_; }
    [[nodiscard]] const std::shared_ptr<MQTTSession>& session() const { return session_; }
    [[nodiscard]] const std::shared_ptr<ReconnectTimer>& reconnectTimer() const { return reconnectTimer_; }
    [[nodiscard]] const std::shared_ptr<ForegroundReconnection>& foregroundReconnection() const {
        return foregroundReconnection_;
    }
    [[nodiscard]] const MQTTSessionManagerParameters& parameters() const { return parameters_; }
    [[nodiscard]] const std::string& streamSSLLevel() const { return streamSSLLevel_; }
    [[nodiscard]] const platform::SerialExecutor& queue() const { return *queue_; }

    // Held weakly.
    void setDelegate(std::weak_ptr<MQTTSessionManagerDelegate> delegate) { delegate_ = std::move(delegate); }
    // Makes each connection's transport (configured afterwards with the
    // parameters, the queue and the TLS level); by default a socket
    // transport, or a policy transport when a security policy is given.
    void setTransportFactory(TransportFactory factory) { transportFactory_ = std::move(factory); }

    // Session delegate.
    using MQTTSessionDelegate::connected;
    using MQTTSessionDelegate::messageDelivered;
    void handleEvent(MQTTSession& session, MQTTSessionEvent event, const MQTTOptionalError& error) override;
    void connected(MQTTSession& session, bool sessionPresent) override;
    void newMessage(MQTTSession& session, Payload data, const std::string& topic, std::uint8_t qos, bool retained,
                    std::uint16_t mid) override;
    void messageDelivered(MQTTSession& session, std::uint16_t msgID) override;

private:
    [[nodiscard]] bool keepsSession(const MQTTSessionManagerParameters& parameters) const;
    void makeSession();
    void connectToInternal(MQTTConnectHandler connectHandler);
    void reconnect(MQTTConnectHandler connectHandler);
    void setState(MQTTSessionManagerState state);
    void setEffective(const std::string& filter, std::optional<std::uint8_t> granted);

    MQTTSessionManagerParameters parameters_;
    bool persistent_;
    std::uint64_t maxWindowSize_;
    std::uint64_t maxSize_;
    std::uint64_t maxMessages_;
    std::string streamSSLLevel_;
    std::unique_ptr<platform::SerialExecutor> queue_;
    std::shared_ptr<MQTTSessionClock> clock_;
    TransportFactory transportFactory_;

    std::shared_ptr<MQTTSession> session_;
    std::atomic<MQTTSessionManagerState> state_{MQTTSessionManagerState::starting};
    MQTTOptionalError lastErrorCode_;
    bool reconnectFlag_ = false;
    std::shared_ptr<ReconnectTimer> reconnectTimer_;
    std::shared_ptr<ForegroundReconnection> foregroundReconnection_;
    std::weak_ptr<MQTTSessionManagerDelegate> delegate_;

    mutable std::mutex subscriptionLock_;
    MQTTSubscriptions internalSubscriptions_;
    MQTTSubscriptions effectiveSubscriptions_;
};

}  // namespace ambrell
