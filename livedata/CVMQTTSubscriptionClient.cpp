#include "livedata/CVMQTTSubscriptionClient.h"

#include <utility>
#include <vector>

#include <boost/asio/post.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "Ambrell/CVLog.h"
#include "foundation/CVAXAPI.h"
#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTError.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {
namespace mqtt_subscription_client {
namespace {

// A granted value with the high bit set is the broker's refusal.
constexpr std::uint8_t kRefusedGrant = 0x80;

std::mutex& brokerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<CVMQTTSubscriptionClient::Broker>& brokerOverride() {
    static std::optional<CVMQTTSubscriptionClient::Broker> broker;
    return broker;
}

}  // namespace
}  // namespace mqtt_subscription_client

std::shared_ptr<CVMQTTSubscriptionClient> CVMQTTSubscriptionClient::make() {
    return std::shared_ptr<CVMQTTSubscriptionClient>(new CVMQTTSubscriptionClient());
}

CVMQTTSubscriptionClient::CVMQTTSubscriptionClient() : session_(std::make_shared<MQTTSession>()) {
    session_->setQueue(queue());
}

const platform::SerialExecutor& CVMQTTSubscriptionClient::queue() {
    static const platform::SerialExecutor strand = platform::ThreadPool::shared().makeStrand();
    return strand;
}

void CVMQTTSubscriptionClient::setBrokerForTesting(std::optional<Broker> broker) {
    const std::lock_guard lock(mqtt_subscription_client::brokerMutex());
    mqtt_subscription_client::brokerOverride() = std::move(broker);
}

CVMQTTSubscriptionClient::Broker CVMQTTSubscriptionClient::broker() {
    {
        const std::lock_guard lock(mqtt_subscription_client::brokerMutex());
        if (const auto& broker = mqtt_subscription_client::brokerOverride()) return *broker;
    }
    return Broker{CVAXAPI::sharedInstance()->liveUpdateUrl(), kBrokerPort};
}

CVSubscriptionState CVMQTTSubscriptionClient::state() const {
    const std::lock_guard lock(mutex_);
    return state_;
}

std::shared_ptr<CVSubscriptionClientDelegate> CVMQTTSubscriptionClient::delegate() const {
    const std::lock_guard lock(mutex_);
    return delegate_;
}

void CVMQTTSubscriptionClient::setDelegate(std::shared_ptr<CVSubscriptionClientDelegate> delegate) {
    const std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void CVMQTTSubscriptionClient::setState(CVSubscriptionState state) {
    std::shared_ptr<CVSubscriptionClientDelegate> delegate;
    {
        const std::lock_guard lock(mutex_);
        if (state_ == state) return;
        state_ = state;
        delegate = delegate_;
    }
    if (delegate) delegate->didUpdateState(static_cast<std::int64_t>(state));
}

void CVMQTTSubscriptionClient::connect(bool cleanSession) {
    const Broker target = broker();
    setState(CVSubscriptionState::connecting);
    std::weak_ptr<CVMQTTSubscriptionClient> weakSelf = weak_from_this();
    boost::asio::post(queue().executor(), [weakSelf, target, cleanSession] {
        const auto self = weakSelf.lock();
        if (!self) return;
        auto transport = std::make_shared<MQTTCFSocketTransport>();
        transport->setHost(target.host);
        transport->setPort(target.port);
        transport->setTls(true);
        self->session_->setTransport(transport);
        self->session_->setDelegate(weakSelf);
        self->session_->setCleanSessionFlag(cleanSession);
        self->session_->setQueue(queue());
        transport->setQueue(self->session_->queue());
        self->session_->connectWithConnectHandler([weakSelf](const MQTTOptionalError& error) {
            const auto client = weakSelf.lock();
            if (!client || !error) return;
            if (auto delegate = client->delegate()) delegate->onError(*error);
        });
    });
}

void CVMQTTSubscriptionClient::disconnect() {
    std::weak_ptr<CVMQTTSubscriptionClient> weakSelf = weak_from_this();
    boost::asio::post(queue().executor(), [weakSelf] {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->session_->closeWithDisconnectHandler([weakSelf](const MQTTOptionalError& error) {
            const auto client = weakSelf.lock();
            if (!client || !error) return;
            if (auto delegate = client->delegate()) delegate->onError(*error);
        });
    });
}

void CVMQTTSubscriptionClient::subscribe(std::shared_ptr<const CVSubscriptionTopic> topic) {
    if (!topic) return;
    std::weak_ptr<CVMQTTSubscriptionClient> weakSelf = weak_from_this();
    boost::asio::post(queue().executor(), [weakSelf, topic = std::move(topic)] {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->session_->subscribeToTopic(
            topic->topicString(), 2,
            [weakSelf, topic](const MQTTOptionalError& error, const std::vector<std::uint8_t>& granted) {
                const auto client = weakSelf.lock();
                if (!client) return;
                std::optional<platform::NSError> failure = error;
                // A refusal arrives as a granted value, not as an error; the
                // topic has not been subscribed.
                if (!failure) {
                    for (const auto value : granted) {
                        if (value >= mqtt_subscription_client::kRefusedGrant) {
                            failure = makeMQTTError(value, "Subscription refused by the broker");
                            break;
                        }
                    }
                }
                const auto delegate = client->delegate();
                if (failure) {
                    CVLog::core().debug("{} {}", "-[CVMQTTSubscriptionClient subscribe:]",
                                        "Subscription failed " + failure->localizedDescription());
                    if (delegate) delegate->onSubscriptionError(*failure, topic);
                    return;
                }
                CVLog::core().debug("{} Subscription sucessfull! Granted Qos: {}",
                                    "-[CVMQTTSubscriptionClient subscribe:]", granted);
                if (delegate) delegate->didSubscribe(topic);
            });
    });
}

void CVMQTTSubscriptionClient::unsubscribe(std::shared_ptr<const CVSubscriptionTopic> topic) {
    if (!topic) return;
    auto self = shared_from_this();
    boost::asio::post(queue().executor(), [self, topic = std::move(topic)] {
        self->session_->unsubscribeTopic(topic->topicString(), [self, topic](const MQTTOptionalError& error) {
            const auto delegate = self->delegate();
            if (!delegate) return;
            if (error) {
                delegate->onUnsubscriptionError(*error, topic);
            } else {
                delegate->didUnsubscribe(topic);
            }
        });
    });
}

void CVMQTTSubscriptionClient::newMessage(MQTTSession& /*session*/, Payload data, const std::string& topic,
                                          std::uint8_t /*qos*/, bool /*retained*/, std::uint16_t /*mid*/) {
    if (auto delegate = this->delegate()) delegate->didReceiveMessage(data, topic);
}

void CVMQTTSubscriptionClient::connected(MQTTSession& /*session*/) { setState(CVSubscriptionState::connected); }

void CVMQTTSubscriptionClient::handleEvent(MQTTSession& /*session*/, MQTTSessionEvent event,
                                           const MQTTOptionalError& error) {
    // Every failure before the CONNACK also ends the pending connect, whose
    // handler reports it, even a close whose event carries no error: told
    // here too, the delegate would hear one failure twice and reconnect twice.
    const bool connecting = state() == CVSubscriptionState::connecting;
    const auto code = static_cast<std::int64_t>(event);
    if (code >= 0 && code < 6) {
        setState(event == MQTTSessionEvent::connected ? CVSubscriptionState::connected
                                                      : CVSubscriptionState::disconnected);
    }
    if (error && !connecting) {
        if (auto delegate = this->delegate()) delegate->onError(*error);
    }
}

}  // namespace ambrell
