#include "livedata/mqtt/MQTTSessionManager.h"

#include <vector>

#include "livedata/mqtt/ForegroundReconnection.h"
#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTSSLSecurityPolicyTransport.h"
#include "livedata/mqtt/MQTTSession.h"
#include "livedata/mqtt/ReconnectTimer.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

namespace {

constexpr double kFirstRetryInterval = 1.0;
// Granted QoS values from 0x80 up are refusals.
constexpr std::uint8_t kSubscriptionRefused = 0x80;

template <typename Value>
bool sameValue(const std::optional<Value>& lhs, const std::optional<Value>& rhs) {
    return lhs && rhs && *lhs == *rhs;
}

std::shared_ptr<MQTTTransport> defaultTransport(const MQTTSessionManagerParameters& parameters) {
    if (parameters.securityPolicy) return std::make_shared<MQTTSSLSecurityPolicyTransport>();
    return std::make_shared<MQTTCFSocketTransport>();
}

}  // namespace

std::shared_ptr<MQTTSessionManager> MQTTSessionManager::init() {
    return initWithPersistence(false, 16, 1024, MQTTCoreDataPersistence::kDefaultMaxSize, 64.0, true,
                               std::string(kMQTTStreamSocketSecurityLevelNegotiatedSSL),
                               platform::SerialExecutor::mainQueue());
}

std::shared_ptr<MQTTSessionManager> MQTTSessionManager::initWithPersistence(
    bool persistent, std::uint64_t maxWindowSize, std::uint64_t maxMessages, std::uint64_t maxSize,
    double maxConnectionRetryInterval, bool connectInForeground, std::string streamSSLLevel,
    const platform::SerialExecutor& queue, std::shared_ptr<MQTTSessionClock> clock) {
    auto manager = std::make_shared<MQTTSessionManager>(Tag{}, persistent, maxWindowSize, maxMessages, maxSize,
                                                        std::move(streamSSLLevel), queue, clock);
    manager->reconnectTimer_ = std::make_shared<ReconnectTimer>(
        kFirstRetryInterval, maxConnectionRetryInterval, queue,
        [weak = std::weak_ptr(manager)] {
            if (auto self = weak.lock()) self->reconnect({});
        },
        std::move(clock));
    if (connectInForeground)
        manager->foregroundReconnection_ = ForegroundReconnection::initWithMQTTSessionManager(manager);
    return manager;
}

MQTTSessionManager::MQTTSessionManager(Tag /*tag*/, bool persistent, std::uint64_t maxWindowSize,
                                       std::uint64_t maxMessages, std::uint64_t maxSize, std::string streamSSLLevel,
                                       const platform::SerialExecutor& queue, std::shared_ptr<MQTTSessionClock> clock)
    : persistent_(persistent),
      maxWindowSize_(maxWindowSize),
      maxSize_(maxSize),
      maxMessages_(maxMessages),
      streamSSLLevel_(std::move(streamSSLLevel)),
      queue_(std::make_unique<platform::SerialExecutor>(queue)),
      clock_(std::move(clock)) {}

MQTTSessionManager::~MQTTSessionManager() {
    if (reconnectTimer_) reconnectTimer_->stop();
}

// --- Connecting ---

bool MQTTSessionManager::keepsSession(const MQTTSessionManagerParameters& next) const {
    const auto& last = parameters_;
    return sameValue(next.host, last.host) && static_cast<std::uint32_t>(next.port) == last.port &&
           next.tls == last.tls && next.keepalive == last.keepalive && next.clean == last.clean &&
           next.auth == last.auth && sameValue(next.user, last.user) && sameValue(next.pass, last.pass) &&
           sameValue(next.willTopic, last.willTopic) && sameValue(next.willMsg, last.willMsg) &&
           next.willQos == last.willQos && next.willRetainFlag == last.willRetainFlag &&
           sameValue(next.clientId, last.clientId) && next.securityPolicy == last.securityPolicy &&
           next.certificates == last.certificates;
}

void MQTTSessionManager::makeSession() {
    // The session replaced says goodbye first: dropped silently, its broker
    // would publish its will and keep its connection until the keep-alive
    // runs out.
    if (auto old = std::exchange(session_, nullptr)) {
        old->setDelegate({});
        old->closeWithDisconnectHandler({});
    }
    const auto& parameters = parameters_;
    auto session = std::make_shared<MQTTSession>();
    session->setClock(clock_);
    session->setConnectMessage(std::nullopt);
    session->setClientId(parameters.clientId);
    session->setUserName(parameters.auth ? parameters.user : std::nullopt);
    session->setPassword(parameters.auth ? parameters.pass : std::nullopt);
    session->setKeepAliveInterval(static_cast<std::uint16_t>(parameters.keepalive));
    session->setCleanSessionFlag(parameters.clean);
    session->setWillFlag(parameters.will);
    session->setWillTopic(parameters.willTopic);
    session->setWillMsg(parameters.willMsg);
    session->setWillQoS(parameters.willQos);
    session->setWillRetainFlag(parameters.willRetainFlag);
    session->setProtocolLevel(parameters.protocolLevel);
    session->setQueue(*queue_);
    session->setSecurityPolicy(parameters.securityPolicy);
    session->setCertificates(parameters.certificates);
    session->setStreamSSLLevel(streamSSLLevel_);
    auto persistence = std::make_shared<MQTTCoreDataPersistence>();
    persistence->setPersistent(persistent_);
    persistence->setMaxWindowSize(maxWindowSize_);
    persistence->setMaxSize(maxSize_);
    persistence->setMaxMessages(maxMessages_);
    session->setPersistence(std::move(persistence));
    session->setDelegate(weak_from_this());
    session_ = std::move(session);
    reconnectFlag_ = false;
}

void MQTTSessionManager::connectTo(MQTTSessionManagerParameters parameters, MQTTConnectHandler connectHandler) {
    const bool existed = session_ != nullptr;
    parameters.port = static_cast<std::uint32_t>(parameters.port);
    if (!existed || !keepsSession(parameters)) {
        parameters_ = std::move(parameters);
        makeSession();
    }
    if (existed) {
        disconnectWithDisconnectHandler({});
        reconnect(std::move(connectHandler));
    } else {
        connectToInternal(std::move(connectHandler));
    }
}

void MQTTSessionManager::connectToInternal(MQTTConnectHandler connectHandler) {
    if (!session_ || state() != MQTTSessionManagerState::starting) return;
    setState(MQTTSessionManagerState::connecting);
    if (const auto& old = session_->transport()) {
        // A connection still opening is given up for the new one.
        old->setDelegate({});
        old->close();
    }
    auto transport = transportFactory_ ? transportFactory_(parameters_) : defaultTransport(parameters_);
    transport->setHost(parameters_.host.value_or(std::string()));
    transport->setPort(static_cast<std::uint32_t>(parameters_.port));
    transport->setQueue(*queue_);
    transport->setStreamSSLLevel(streamSSLLevel_);
    if (auto* socket = dynamic_cast<MQTTCFSocketTransport*>(transport.get())) {
        socket->setTls(parameters_.tls);
        socket->setCertificates(parameters_.certificates);
        socket->setVoip(session_->voip());
    }
    if (auto* policy = dynamic_cast<MQTTSSLSecurityPolicyTransport*>(transport.get())) {
        policy->setSecurityPolicy(parameters_.securityPolicy);
    }
    session_->setTransport(std::move(transport));
    session_->connectWithConnectHandler(std::move(connectHandler));
}

void MQTTSessionManager::reconnect(MQTTConnectHandler connectHandler) {
    setState(MQTTSessionManagerState::starting);
    connectToInternal(std::move(connectHandler));
}

void MQTTSessionManager::connectToLast(MQTTConnectHandler connectHandler) {
    if (state() == MQTTSessionManagerState::connected) return;
    reconnectTimer_->resetRetryInterval();
    reconnect(std::move(connectHandler));
}

void MQTTSessionManager::disconnectWithDisconnectHandler(MQTTDisconnectHandler disconnectHandler) {
    setState(MQTTSessionManagerState::closing);
    if (session_) session_->closeWithDisconnectHandler(std::move(disconnectHandler));
    reconnectTimer_->stop();
}

bool MQTTSessionManager::requiresTearDown() const {
    const auto current = state();
    return current != MQTTSessionManagerState::starting && current != MQTTSessionManagerState::closed;
}

std::uint16_t MQTTSessionManager::sendData(std::span<const std::uint8_t> data, const std::string& topic,
                                           std::uint8_t qos, bool retain) {
    if (state() != MQTTSessionManagerState::connected) connectToLast({});
    return session_ ? session_->publishData(data, topic, retain, qos) : 0;
}

void MQTTSessionManager::setState(MQTTSessionManagerState state) {
    state_.store(state);
    if (auto delegate = delegate_.lock()) delegate->sessionManager(*this, state);
}

// --- Session events ---

void MQTTSessionManager::handleEvent(MQTTSession& session, MQTTSessionEvent event, const MQTTOptionalError& error) {
    if (&session != session_.get()) return;
    auto self = shared_from_this();
    switch (event) {
        case MQTTSessionEvent::connected:
            lastErrorCode_.reset();
            setState(MQTTSessionManagerState::connected);
            reconnectTimer_->resetRetryInterval();
            // A retry still pending would tear the fresh connection down.
            reconnectTimer_->stop();
            break;
        case MQTTSessionEvent::connectionRefused:
        case MQTTSessionEvent::connectionError:
        case MQTTSessionEvent::protocolError:
            reconnectTimer_->schedule();
            lastErrorCode_ = error;
            setState(MQTTSessionManagerState::error);
            break;
        case MQTTSessionEvent::connectionClosed: setState(MQTTSessionManagerState::closed); break;
        case MQTTSessionEvent::connectionClosedByBroker:
            if (state() != MQTTSessionManagerState::closing) reconnectTimer_->schedule();
            setState(MQTTSessionManagerState::closed);
            break;
    }
}

void MQTTSessionManager::newMessage(MQTTSession& /*session*/, Payload data, const std::string& topic,
                                    std::uint8_t /*qos*/, bool retained, std::uint16_t /*mid*/) {
    if (auto delegate = delegate_.lock()) {
        delegate->sessionManager(*this, data, topic, retained);
        delegate->handleMessage(data, topic, retained);
    }
}

void MQTTSessionManager::messageDelivered(MQTTSession& /*session*/, std::uint16_t msgID) {
    if (auto delegate = delegate_.lock()) {
        delegate->sessionManager(*this, msgID);
        delegate->messageDelivered(msgID);
    }
}

// --- Subscriptions ---

MQTTSubscriptions MQTTSessionManager::subscriptions() const {
    std::lock_guard lock(subscriptionLock_);
    return internalSubscriptions_;
}

MQTTSubscriptions MQTTSessionManager::effectiveSubscriptions() const {
    std::lock_guard lock(subscriptionLock_);
    return effectiveSubscriptions_;
}

void MQTTSessionManager::setEffective(const std::string& filter, std::optional<std::uint8_t> granted) {
    std::lock_guard lock(subscriptionLock_);
    if (granted && *granted < kSubscriptionRefused) effectiveSubscriptions_[filter] = *granted;
    else effectiveSubscriptions_.erase(filter);
}

void MQTTSessionManager::connected(MQTTSession& session, bool sessionPresent) {
    if (&session != session_.get()) return;
    // The broker kept the session of an earlier connection, and with it the
    // subscriptions.
    if (!parameters_.clean && reconnectFlag_ && sessionPresent) return;
    const auto wanted = subscriptions();
    {
        std::lock_guard lock(subscriptionLock_);
        effectiveSubscriptions_.clear();
    }
    if (!wanted.empty()) {
        std::vector<std::string> filters;
        filters.reserve(wanted.size());
        for (const auto& [filter, qos] : wanted) filters.push_back(filter);
        session.subscribeToTopics(
            wanted, [weak = weak_from_this(), filters = std::move(filters)](const MQTTOptionalError& error,
                                                                            const std::vector<std::uint8_t>& granted) {
                auto self = weak.lock();
                if (!self || error) return;
                for (std::size_t index = 0; index < filters.size() && index < granted.size(); ++index) {
                    self->setEffective(filters[index], granted[index]);
                }
            });
    }
    reconnectFlag_ = true;
}

void MQTTSessionManager::setSubscriptions(MQTTSubscriptions subscriptions) {
    if (state() == MQTTSessionManagerState::connected && session_) {
        const auto effective = effectiveSubscriptions();
        for (const auto& [filter, qos] : effective) {
            if (subscriptions.contains(filter)) continue;
            session_->unsubscribeTopic(filter, [weak = weak_from_this(), filter](const MQTTOptionalError& error) {
                auto self = weak.lock();
                if (self && !error) self->setEffective(filter, std::nullopt);
            });
        }
        for (const auto& [filter, qos] : subscriptions) {
            if (effective.contains(filter)) continue;
            session_->subscribeToTopic(filter, qos,
                                       [weak = weak_from_this(), filter](const MQTTOptionalError& error,
                                                                         const std::vector<std::uint8_t>& granted) {
                                           auto self = weak.lock();
                                           if (!self || error || granted.empty()) return;
                                           self->setEffective(filter, granted.front());
                                       });
        }
    }
    std::lock_guard lock(subscriptionLock_);
    internalSubscriptions_ = std::move(subscriptions);
}

}  // namespace ambrell
