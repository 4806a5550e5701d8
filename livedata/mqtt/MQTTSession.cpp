#include "livedata/mqtt/MQTTSession.h"

#include <random>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTError.h"
#include "livedata/mqtt/MQTTStrict.h"
#include "platform/TextEncoding.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

namespace {

constexpr GCDTimer::Interval kCheckDupInterval{1.0};
constexpr std::size_t kMaxUTF8Length = 65535;

std::string generatedClientId() {
    // 13 digits keep the identifier within the 23 bytes every broker must
    // accept.
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::uint64_t> digits(0, 9'999'999'999'999ULL);
    std::lock_guard lock(mutex);
    return "MQTTClient" + std::to_string(digits(generator));
}

[[noreturn]] void refuse(const std::string& name, const std::string& reason) { throw MQTTStrictError(name, reason); }

std::string numberText(std::int64_t value) { return std::to_string(value); }

platform::NSError connackCodeError(std::optional<std::uint8_t> returnCode) {
    if (!returnCode) return makeMQTTError(0, "unknown");
    switch (*returnCode) {
        case 1: return makeMQTTError(1, "MQTT CONNACK: unacceptable protocol version");
        case 2: return makeMQTTError(2, "MQTT CONNACK: identifier rejected");
        case 3: return makeMQTTError(3, "MQTT CONNACK: server unavailable");
        case 4: return makeMQTTError(4, "MQTT CONNACK: bad user name or password");
        case 5: return makeMQTTError(5, "MQTT CONNACK: not authorized");
        default: return makeMQTTError(6, "MQTT CONNACK: reserved for future use");
    }
}

// A level-5 refusal names its reason; the code and text stay those of the
// levels before, so callers that read them keep working, and the broker's
// own words ride along in the user info.
platform::NSError connackError(const MQTTMessage& connack, std::uint8_t protocolLevel) {
    auto error = connackCodeError(connack.returnCode);
    if (protocolLevel != 5 || !connack.returnCode) return error;
    error.userInfo.insert_or_assign(std::string(kMQTTErrorReasonCodeKey), std::int64_t{*connack.returnCode});
    if (connack.properties) {
        if (connack.properties->reasonString) {
            error.userInfo.insert_or_assign(std::string(kMQTTErrorReasonStringKey), *connack.properties->reasonString);
        }
        if (connack.properties->serverReference) {
            error.userInfo.insert_or_assign(std::string(kMQTTErrorServerReferenceKey),
                                            *connack.properties->serverReference);
        }
    }
    return error;
}

}  // namespace

MQTTSession::MQTTSession()
    : persistence_(std::make_shared<MQTTCoreDataPersistence>()),
      streamSSLLevel_(kMQTTStreamSocketSecurityLevelNegotiatedSSL),
      clientId_(generatedClientId()),
      queue_(std::make_unique<platform::SerialExecutor>(platform::SerialExecutor::mainQueue())),
      clock_(MQTTSessionClock::system()) {}

MQTTSession::~MQTTSession() {
    stopTimers();
    if (decoder_) decoder_->close();
}

MQTTConnectionHandler MQTTSession::connectionHandler() const {
    std::lock_guard lock(handlersMutex_);
    return connectionHandler_;
}

void MQTTSession::setConnectionHandler(MQTTConnectionHandler handler) {
    std::lock_guard lock(handlersMutex_);
    connectionHandler_ = std::move(handler);
}

MQTTMessageHandler MQTTSession::messageHandler() const {
    std::lock_guard lock(handlersMutex_);
    return messageHandler_;
}

void MQTTSession::setMessageHandler(MQTTMessageHandler handler) {
    std::lock_guard lock(handlersMutex_);
    messageHandler_ = std::move(handler);
}

void MQTTSession::setQueue(const platform::SerialExecutor& queue) {
    queue_ = std::make_unique<platform::SerialExecutor>(queue);
}

void MQTTSession::setStreamSSLLevel(std::string level) {
    streamSSLLevel_ = std::move(level);
    if (transport_) transport_->setStreamSSLLevel(streamSSLLevel_);
}

void MQTTSession::setCertificates(std::shared_ptr<const MQTTClientCertificates> certificates) {
    certificates_ = std::move(certificates);
    if (auto* socket = dynamic_cast<MQTTCFSocketTransport*>(transport_.get())) socket->setCertificates(certificates_);
}

std::string MQTTSession::host() const { return transport_ ? transport_->host() : std::string(); }

std::uint32_t MQTTSession::port() const { return transport_ ? transport_->port() : 0; }

void MQTTSession::setClientId(std::optional<std::string> clientId) {
    clientId_ = clientId ? std::move(*clientId) : generatedClientId();
}

// --- Connect ---

void MQTTSession::checkConnectArguments() const {
    const auto length = [](const std::string& text) { return numberText(static_cast<std::int64_t>(text.size())); };
    if (clientId_.empty() && !cleanSessionFlag_) {
        refuse("clientId must be at least 1 character long if cleanSessionFlag is off",
               "clientId length = " + length(clientId_));
    }
    if (clientId_.size() > kMaxUTF8Length) {
        refuse("clientId may not be longer than 65535 bytes in UTF8 representation",
               "clientId length = " + length(clientId_));
    }
    if (!platform::isValidUTF8(clientId_))
        refuse("clientId must not contain non-UTF8 characters", "clientId = " + clientId_);
    if (userName_ && userName_->size() > kMaxUTF8Length) {
        refuse("userName may not be longer than 65535 bytes in UTF8 representation",
               "userName length = " + length(*userName_));
    }
    if (userName_ && !platform::isValidUTF8(*userName_)) {
        refuse("userName must not contain non-UTF8 characters", "userName = " + *userName_);
    }
    // The reason names what is missing, never the secret: callers log these.
    if (password_ && !userName_) refuse("password specified without userName", "userName = (null)");
    if (protocolLevel_ < 3 || protocolLevel_ > 5) {
        refuse("Illegal protocolLevel", numberText(protocolLevel_) + " is not 3, 4, or 5");
    }
    if (!willFlag_) {
        if (willTopic_) refuse("Will topic must be nil if willFlag is false", *willTopic_);
        if (willMsg_)
            refuse("Will message must be nil if willFlag is false", std::string(willMsg_->begin(), willMsg_->end()));
        if (willRetainFlag_) refuse("Will retain must be false if willFlag is false", numberText(willRetainFlag_));
        if (willQoS_ != 0) refuse("Will QoS Level must be 0 if willFlag is false", numberText(willQoS_));
    }
    if (willQoS_ > 2) refuse("Illegal will QoS level", numberText(willQoS_) + " is not 0, 1, or 2");
    if (willFlag_ && !willTopic_) refuse("Will topic must not be nil if willFlag is true", "(null)");
    if (willTopic_) {
        if (willTopic_->empty()) refuse("Will topic must be at least 1 character long", *willTopic_);
        if (willTopic_->size() > kMaxUTF8Length) {
            refuse("willTopic may not be longer than 65535 bytes in UTF8 representation",
                   "willTopic length = " + length(*willTopic_));
        }
        if (!platform::isValidUTF8(*willTopic_)) {
            refuse("willTopic must not contain non-UTF8 characters", "willTopic = " + *willTopic_);
        }
        if (willTopic_->find_first_of("+#") != std::string::npos) {
            refuse("willTopic must not contain wildcards", "willTopic = " + *willTopic_);
        }
    }
    if (willFlag_ && !willMsg_) refuse("Will message must not be nil if willFlag is true", "(null)");
}

void MQTTSession::connectWithConnectHandler(MQTTConnectHandler handler) {
    connectHandler_ = std::move(handler);
    connect();
}

void MQTTSession::connect() {
    if (MQTTStrict::strict()) checkConnectArguments();
    if (cleanSessionFlag_) {
        persistence_->deleteAllFlowsForClientId(clientId_);
        subscribeHandlers_.clear();
        unsubscribeHandlers_.clear();
        publishHandlers_.clear();
    }
    tell();
    status_ = MQTTSessionStatus::connecting;
    stopTimers();
    pingOutstanding_ = false;

    if (decoder_) {
        decoder_->setDelegate({});
        decoder_->close();
    }
    decoder_ = std::make_shared<MQTTDecoder>();
    decoder_->setDelegate(weak_from_this());
    decoder_->setMaximumPacketSize(connectProperties_.maximumPacketSize.value_or(0));
    decoder_->open();

    // A broker that takes the connection but never answers would otherwise
    // leave the session connecting for good.
    if (connectTimeout_ > 0) {
        connectTimer_ =
            clock_->scheduleTimer(GCDTimer::Interval(connectTimeout_), false, *queue_, [weak = weak_from_this()] {
                if (auto self = weak.lock()) self->connectTimedOut();
            });
    }
    if (transport_) {
        transport_->setDelegate(weak_from_this());
        transport_->open();
    }
}

void MQTTSession::connectTimedOut() {
    if (status_ != MQTTSessionStatus::connecting) return;
    connectionError(makeMQTTError(kMQTTErrorConnectTimeout, "MQTT connect timed out: no CONNACK"));
}

void MQTTSession::mqttTransportDidOpen(MQTTTransport& transport) {
    // A transport replaced since it was opened speaks for a connection the
    // session has given up.
    if (&transport != transport_.get()) return;
    auto self = shared_from_this();
    std::optional<MQTTMessage> message = connectMessage_;
    receiveMaximum_.reset();
    if (!message) {
        if (protocolLevel_ == 5) receiveMaximum_ = incomingRoom();
        message = MQTTMessage::connectMessageWithClientId(MQTTConnectParameters{
            .clientId = clientId_,
            .userName = userName_,
            .password = password_,
            .keepAlive = keepAliveInterval_,
            .cleanSession = cleanSessionFlag_,
            .will = willFlag_,
            .willTopic = willTopic_,
            .willMsg = willMsg_,
            .willQoS = willQoS_,
            .willRetain = willRetainFlag_,
            .protocolLevel = protocolLevel_,
            .sessionExpiryInterval = connectProperties_.sessionExpiryInterval,
            .authMethod = connectProperties_.authMethod,
            .authData = connectProperties_.authData,
            .requestProblemInformation = connectProperties_.requestProblemInformation,
            .willDelayInterval = connectProperties_.willDelayInterval,
            .requestResponseInformation = connectProperties_.requestResponseInformation,
            .receiveMaximum = receiveMaximum_,
            .topicAliasMaximum = connectProperties_.topicAliasMaximum,
            .userProperty = connectProperties_.userProperty,
            .maximumPacketSize = connectProperties_.maximumPacketSize,
        });
    }
    if (!message) {
        // Sending a CONNECT the broker can't read would only end in its
        // silence or a close.
        connectionError(makeMQTTError(kMQTTErrorConnectNotBuildable, "MQTT CONNECT could not be built"));
        return;
    }
    encode(*message);
}

// --- Receiving ---

void MQTTSession::mqttTransportDidReceiveMessage(MQTTTransport& transport, std::span<const std::uint8_t> data) {
    if (&transport != transport_.get()) return;
    auto self = shared_from_this();
    pingOutstanding_ = false;
    if (decoder_) decoder_->decodeMessage(data);
}

void MQTTSession::mqttTransportDidFailWithError(MQTTTransport& transport, const platform::NSError& error) {
    if (&transport != transport_.get()) return;
    auto self = shared_from_this();
    connectionError(error);
}

void MQTTSession::mqttTransportDidClose(MQTTTransport& transport) {
    if (&transport != transport_.get()) return;
    auto self = shared_from_this();
    reportError(MQTTSessionEvent::connectionClosedByBroker, std::nullopt);
}

void MQTTSession::decoderHandleEvent(MQTTDecoder& /*decoder*/, MQTTDecoderEvent event, const platform::NSError& error) {
    auto self = shared_from_this();
    switch (event) {
        case MQTTDecoderEvent::protocolError: protocolError(error); break;
        case MQTTDecoderEvent::connectionError: connectionError(error); break;
        case MQTTDecoderEvent::connectionClosed: reportError(MQTTSessionEvent::connectionClosedByBroker, error); break;
    }
    failPendingConnect(error);
}

void MQTTSession::decoderDidReceiveMessage(MQTTDecoder& decoder, std::span<const std::uint8_t> frame) {
    if (&decoder != decoder_.get()) return;
    auto self = shared_from_this();
    const auto message = MQTTMessage::messageFromData(frame, protocolLevel_);
    if (!message) {
        const auto error = makeMQTTError(kMQTTErrorIllegalMessage, kMQTTErrorIllegalMessageText);
        protocolError(error);
        failPendingConnect(error);
        return;
    }
    if (auto delegate = delegate_.lock()) {
        delegate->received(*this, message->type, message->qos, message->retainFlag, message->dupFlag, message->mid,
                           message->data);
        if (delegate->ignoreReceived(*this, message->type, message->qos, message->retainFlag, message->dupFlag,
                                     message->mid, message->data)) {
            return;
        }
    }
    if (status_ == MQTTSessionStatus::connecting) {
        handleConnack(*message);
        return;
    }
    if (status_ != MQTTSessionStatus::connected) return;
    switch (message->type) {
        case MQTTCommandType::publish: handlePublish(*message); break;
        case MQTTCommandType::puback: handlePuback(*message); break;
        case MQTTCommandType::pubrec: handlePubrec(*message); break;
        case MQTTCommandType::pubrel: handlePubrel(*message); break;
        case MQTTCommandType::pubcomp: handlePubcomp(*message); break;
        case MQTTCommandType::suback: handleSuback(*message); break;
        case MQTTCommandType::unsuback: handleUnsuback(*message); break;
        case MQTTCommandType::disconnect:
            protocolError(makeMQTTError(message->returnCode.value_or(0), "MQTT protocol DISCONNECT received"));
            break;
        default: break;
    }
}

void MQTTSession::handleConnack(const MQTTMessage& message) {
    if (message.type == MQTTCommandType::disconnect) {
        const auto error = makeMQTTError(message.returnCode.value_or(0), "MQTT protocol DISCONNECT instead of CONNACK");
        protocolError(error);
        failPendingConnect(error);
        return;
    }
    if (message.type != MQTTCommandType::connack) {
        const auto error = makeMQTTError(kMQTTErrorNoConnack, "MQTT protocol no CONNACK");
        protocolError(error);
        failPendingConnect(error);
        return;
    }
    if (protocolLevel_ == 5 ? message.data.size() < 3 : message.data.size() != 2) {
        const auto error = makeMQTTError(kMQTTErrorConnackExpected, "MQTT protocol CONNACK expected");
        protocolError(error);
        failPendingConnect(error);
        return;
    }
    if (message.returnCode != std::uint8_t{0}) {
        const auto error = connackError(message, protocolLevel_);
        reportError(MQTTSessionEvent::connectionRefused, error);
        if (auto delegate = delegate_.lock()) delegate->connectionRefused(*this, error);
        failPendingConnect(error);
        return;
    }

    if (connectTimer_) connectTimer_->invalidate();
    connectTimer_.reset();
    status_ = MQTTSessionStatus::connected;
    sessionPresent_ = (message.connectAcknowledgeFlags.value_or(0) & 0x01) != 0;
    checkDupTimer_ = clock_->scheduleTimer(kCheckDupInterval, true, *queue_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->checkDup();
    });
    checkDup();
    if (status_ != MQTTSessionStatus::connected) return;
    if (message.properties) serverKeepAlive_ = message.properties->serverKeepAlive;
    effectiveKeepAlive_ = serverKeepAlive_.value_or(keepAliveInterval_);
    pingOutstanding_ = false;
    if (effectiveKeepAlive_ != 0) {
        keepAliveTimer_ =
            clock_->scheduleTimer(GCDTimer::Interval(effectiveKeepAlive_), true, *queue_, [weak = weak_from_this()] {
                auto self = weak.lock();
                if (!self) return;
                // Silence for a whole interval after a PINGREQ: the
                // connection is dead even if the socket does not know.
                if (self->pingOutstanding_) {
                    self->connectionError(
                        makeMQTTError(kMQTTErrorKeepAliveTimeout, "MQTT keep-alive timed out: no answer to PINGREQ"));
                    return;
                }
                self->keepAlive();
            });
    }
    if (auto delegate = delegate_.lock()) {
        delegate->handleEvent(*this, MQTTSessionEvent::connected, std::nullopt);
        delegate->connected(*this);
        delegate->connected(*this, sessionPresent_);
    }
    tellEvent(MQTTSessionEvent::connected);
    if (auto handler = std::exchange(connectHandler_, nullptr)) handler(std::nullopt);
    if (!sessionPresent_) releaseForgottenIncoming();
}

void MQTTSession::keepAlive() {
    if (encode(MQTTMessage::pingreqMessage())) pingOutstanding_ = true;
}

void MQTTSession::checkDup() { checkTxFlows(); }

bool MQTTSession::encode(const MQTTMessage& message) {
    Bytes wire;
    if (!message.appendWireFormat(wire)) return false;
    if (auto delegate = delegate_.lock()) {
        delegate->sending(*this, message.type, message.qos, message.retainFlag, message.dupFlag, message.mid,
                          message.data);
    }
    return transport_ && transport_->send(wire);
}

// --- Failures and close ---

void MQTTSession::tellEvent(MQTTSessionEvent event) {
    if (auto handler = connectionHandler()) handler(event);
}

void MQTTSession::failPendingConnect(const platform::NSError& error) {
    if (auto handler = std::exchange(connectHandler_, nullptr)) handler(error);
}

void MQTTSession::connectionError(const platform::NSError& error) {
    reportError(MQTTSessionEvent::connectionError, error);
    if (auto delegate = delegate_.lock()) delegate->connectionError(*this, error);
    failPendingConnect(error);
}

void MQTTSession::protocolError(const platform::NSError& error) {
    reportError(MQTTSessionEvent::protocolError, error);
    if (auto delegate = delegate_.lock()) delegate->protocolError(*this, error);
}

void MQTTSession::reportError(MQTTSessionEvent event, const MQTTOptionalError& error) {
    status_ = MQTTSessionStatus::error;
    if (auto delegate = delegate_.lock()) delegate->handleEvent(*this, event, error);
    closeInternal();
    tellEvent(event);
    if (event == MQTTSessionEvent::connectionClosedByBroker) {
        failPendingConnect(
            makeMQTTError(kMQTTErrorClosedWithoutConnack, "Server has closed connection without connack."));
    }
}

void MQTTSession::stopTimers() {
    for (auto* timer : {&checkDupTimer_, &keepAliveTimer_, &connectTimer_}) {
        if (*timer) (*timer)->invalidate();
        timer->reset();
    }
}

void MQTTSession::closeWithDisconnectHandler(MQTTDisconnectHandler handler) {
    closeWithReturnCode(0, std::nullopt, std::nullopt, std::nullopt, std::move(handler));
}

void MQTTSession::closeWithReturnCode(std::uint8_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                                      std::optional<std::string> reasonString,
                                      std::optional<UserProperties> userProperty, MQTTDisconnectHandler handler) {
    auto self = shared_from_this();
    disconnectHandler_ = std::move(handler);
    if (status_ == MQTTSessionStatus::connected) {
        disconnectWithReturnCode(returnCode, sessionExpiryInterval, reasonString, userProperty);
        return;
    }
    closeInternal();
    // A connect given up before its CONNACK still gets its one answer.
    failPendingConnect(makeMQTTError(kMQTTErrorNoResponse, kMQTTErrorNoResponseText));
}

void MQTTSession::disconnect() { disconnectWithReturnCode(0, std::nullopt, std::nullopt, std::nullopt); }

void MQTTSession::disconnectWithReturnCode(std::uint8_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                                           const std::optional<std::string>& reasonString,
                                           const std::optional<UserProperties>& userProperty) {
    auto self = shared_from_this();
    status_ = MQTTSessionStatus::disconnecting;
    if (auto message = MQTTMessage::disconnectMessage(protocolLevel_, returnCode, sessionExpiryInterval, reasonString,
                                                      userProperty)) {
        encode(*message);
    }
    closeInternal();
}

void MQTTSession::closeInternal() {
    stopTimers();
    if (transport_) {
        transport_->setDelegate({});
        transport_->close();
    }
    if (decoder_) {
        decoder_->setDelegate({});
        decoder_->close();
    }
    // Whatever was in flight is due at once after the next CONNACK.
    const auto back = std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(dupTimeout_));
    for (const auto& flow : persistence_->allFlowsforClientId(clientId_, false)) {
        const auto type = flow->commandType();
        const auto deadline = flow->deadline();
        if (!deadline || (type != std::uint8_t{3} && type != std::uint8_t{6})) continue;
        flow->setDeadline(*deadline - back);
        persistence_->sync();
    }
    status_ = MQTTSessionStatus::closed;
    if (auto delegate = delegate_.lock()) {
        delegate->handleEvent(*this, MQTTSessionEvent::connectionClosed, std::nullopt);
        delegate->connectionClosed(*this);
    }
    const auto error = makeMQTTError(kMQTTErrorNoResponse, kMQTTErrorNoResponseText);
    for (auto& [mid, handler] : std::exchange(subscribeHandlers_, {})) {
        if (handler) handler(error, {});
    }
    for (auto& [mid, handler] : std::exchange(unsubscribeHandlers_, {})) {
        if (handler) handler(error);
    }
    if (auto handler = std::exchange(disconnectHandler_, nullptr)) handler(std::nullopt);
    tell();
}

}  // namespace ambrell
