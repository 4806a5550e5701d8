#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Ambrell/CVSubscription.h"
#include "livedata/mqtt/MQTTSession.h"
#include "livedata/mqtt/MQTTSessionDelegate.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// The live-data broker connection: one MQTT 3.1.1 session over TLS, clean,
// without credentials, every topic at QoS 2. It keeps no topics and never
// retries; the live-data manager does both. A failed connect is reported
// once, as the connect's own answer; the session's events report the
// failures of an established connection.
//
// All session work, and every delegate callback but the report of
// "connecting" (made on the caller of connect), runs on the one strand that
// every client of the process shares. Requests return at once.
class CVMQTTSubscriptionClient final : public CVSubscriptionClient,
                                       public MQTTSessionDelegate,
                                       public std::enable_shared_from_this<CVMQTTSubscriptionClient> {
public:
    static constexpr std::uint32_t kBrokerPort = 8883;

    // Where the broker is; the live-data host of the web-service settings and
    // kBrokerPort unless a test put its own broker in place.
    struct Broker {
        std::string host;
        std::uint32_t port = kBrokerPort;
    };

    [[nodiscard]] static std::shared_ptr<CVMQTTSubscriptionClient> make();
    CVMQTTSubscriptionClient(const CVMQTTSubscriptionClient&) = delete;
    CVMQTTSubscriptionClient& operator=(const CVMQTTSubscriptionClient&) = delete;

    // The strand of every client's session.
    [[nodiscard]] static const platform::SerialExecutor& queue();

    // Test-only: every later connect of any client goes to this broker (none:
    // back to the real one).
    static void setBrokerForTesting(std::optional<Broker> broker);
    [[nodiscard]] static Broker broker();

    void connect(bool cleanSession) override;
    void disconnect() override;
    void subscribe(std::shared_ptr<const CVSubscriptionTopic> topic) override;
    void unsubscribe(std::shared_ptr<const CVSubscriptionTopic> topic) override;

    [[nodiscard]] CVSubscriptionState state() const override;
    [[nodiscard]] std::shared_ptr<CVSubscriptionClientDelegate> delegate() const override;
    void setDelegate(std::shared_ptr<CVSubscriptionClientDelegate> delegate) override;

    // Test-only: the session, to read what it was set up with. Touch it on queue() only.
    [[nodiscard]] const std::shared_ptr<MQTTSession>& sessionForTesting() const { return session_; }

    void newMessage(MQTTSession& session, Payload data, const std::string& topic, std::uint8_t qos, bool retained,
                    std::uint16_t mid) override;
    void connected(MQTTSession& session) override;
    void handleEvent(MQTTSession& session, MQTTSessionEvent event, const MQTTOptionalError& error) override;

private:
    CVMQTTSubscriptionClient();

    // Stores the state and tells the delegate, unless it is unchanged.
    void setState(CVSubscriptionState state);

    mutable std::mutex mutex_;
    std::shared_ptr<CVSubscriptionClientDelegate> delegate_;
    CVSubscriptionState state_ = CVSubscriptionState::disconnected;
    std::shared_ptr<MQTTSession> session_;
};

}  // namespace ambrell
