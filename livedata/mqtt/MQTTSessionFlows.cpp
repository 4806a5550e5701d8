// The message side of MQTTSession: identifiers, subscriptions, publishing
// under the send window, resends, and the QoS 1 and 2 handshakes.

#include <algorithm>

#include "livedata/mqtt/MQTTError.h"
#include "livedata/mqtt/MQTTSession.h"
#include "livedata/mqtt/MQTTStrict.h"
#include "platform/Logger.h"
#include "platform/TextEncoding.h"

namespace ambrell {

namespace session_flows {

const platform::Logger& flowsLog() {
    static const platform::Logger log("MQTT");
    return log;
}

}  // namespace session_flows

namespace {

constexpr std::uint8_t kQueued = 0;
constexpr std::uint8_t kPublishSent = 3;
constexpr std::uint8_t kPubrecSent = 5;
constexpr std::uint8_t kPubrelSent = 6;

platform::NSError droppingError() {
    return makeMQTTError(kMQTTErrorDroppingOutgoingMessage, kMQTTErrorDroppingOutgoingMessageText);
}

void checkQoS(std::uint8_t qos) {
    if (MQTTStrict::strict() && qos > 2) {
        throw MQTTStrictError("Illegal QoS level", std::to_string(qos) + " is not 0, 1, or 2");
    }
}

}  // namespace

MQTTSession::Date MQTTSession::dupDeadline() const {
    return clock_->now() + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(dupTimeout_));
}

std::uint16_t MQTTSession::nextMsgId() {
    std::lock_guard lock(msgIdMutex_);
    // Every identifier is probed at most once: with all of them held by
    // flows the answer is 0, not an endless search.
    for (int probe = 0; probe < 65536; ++probe) {
        txMsgId_ = static_cast<std::uint16_t>(txMsgId_ + 1);
        if (txMsgId_ != 0 && !persistence_->flowforClientId(clientId_, false, txMsgId_)) return txMsgId_;
    }
    return 0;
}

void MQTTSession::tell() {
    const auto incoming = persistence_->flowCount(clientId_, true);
    const auto outgoing = persistence_->flowCount(clientId_, false);
    if (auto delegate = delegate_.lock()) {
        delegate->buffered(*this, incoming, outgoing);
        delegate->buffered(*this, 0, incoming, outgoing);
    }
}

void MQTTSession::sendAck(std::optional<MQTTMessage> ack) {
    if (ack) encode(*ack);
}

// --- Subscriptions ---

std::uint16_t MQTTSession::subscribeToTopic(const std::string& topic, std::uint8_t qos, MQTTSubscribeHandler handler) {
    return subscribeToTopics(MQTTSubscriptions{{topic, qos}}, std::move(handler));
}

std::uint16_t MQTTSession::subscribeToTopics(const MQTTSubscriptions& topics, MQTTSubscribeHandler handler) {
    std::vector<std::string> filters;
    for (const auto& [filter, qos] : topics) filters.push_back(filter);
    checkTopicFilters(filters);
    for (const auto& [filter, qos] : topics) checkQoS(qos);
    const auto msgId = nextMsgId();
    const auto message =
        msgId == 0 ? std::nullopt : MQTTMessage::subscribeMessageWithMessageId(msgId, topics, protocolLevel_);
    if (!message) {
        if (handler) handler(droppingError(), {});
        return 0;
    }
    if (handler) subscribeHandlers_[msgId] = std::move(handler);
    else subscribeHandlers_.erase(msgId);
    encode(*message);
    return msgId;
}

std::uint16_t MQTTSession::unsubscribeTopic(const std::string& topic, MQTTUnsubscribeHandler handler) {
    return unsubscribeTopics({topic}, std::move(handler));
}

std::uint16_t MQTTSession::unsubscribeTopics(const std::vector<std::string>& topics, MQTTUnsubscribeHandler handler) {
    checkTopicFilters(topics);
    const auto msgId = nextMsgId();
    const auto message =
        msgId == 0 ? std::nullopt : MQTTMessage::unsubscribeMessageWithMessageId(msgId, topics, protocolLevel_);
    if (!message) {
        if (handler) handler(droppingError());
        return 0;
    }
    if (handler) unsubscribeHandlers_[msgId] = std::move(handler);
    else unsubscribeHandlers_.erase(msgId);
    encode(*message);
    return msgId;
}

void MQTTSession::handleSuback(const MQTTMessage& message) {
    const auto granted = acknowledgementCodes(message, protocolLevel_);
    if (!granted) return;
    if (auto delegate = delegate_.lock()) delegate->subAckReceived(*this, message.mid, *granted);
    const auto found = subscribeHandlers_.find(message.mid);
    if (found == subscribeHandlers_.end()) return;
    auto handler = std::move(found->second);
    subscribeHandlers_.erase(found);
    handler(std::nullopt, *granted);
}

void MQTTSession::handleUnsuback(const MQTTMessage& message) {
    if (auto delegate = delegate_.lock()) delegate->unsubAckReceived(*this, message.mid);
    const auto found = unsubscribeHandlers_.find(message.mid);
    if (found == unsubscribeHandlers_.end()) return;
    auto handler = std::move(found->second);
    unsubscribeHandlers_.erase(found);
    // Level 5 says per filter whether it was unsubscribed.
    MQTTOptionalError error;
    if (const auto codes = acknowledgementCodes(message, protocolLevel_)) {
        for (const auto code : *codes) {
            if (code >= 0x80) {
                error = makeMQTTError(code, "MQTT UNSUBACK: unsubscribe refused");
                break;
            }
        }
    }
    handler(error);
}

// --- Publishing ---

std::uint16_t MQTTSession::publishData(std::span<const std::uint8_t> data, const std::string& topic, bool retain,
                                       std::uint8_t qos, MQTTPublishHandler handler) {
    if (MQTTStrict::strict()) {
        if (topic.empty()) throw MQTTStrictError("topic must not at least 1 character long", topic);
        if (topic.size() > 65535) {
            throw MQTTStrictError("topic may not be longer than 65535 bytes in UTF8 representation",
                                  "topic length = " + std::to_string(topic.size()));
        }
        if (!platform::isValidUTF8(topic)) {
            throw MQTTStrictError("topic must not contain non-UTF8 characters", "topic = " + topic);
        }
        if (willTopic_ && willTopic_->find_first_of("+#") != std::string::npos) {
            throw MQTTStrictError("willTopic must not contain wildcards", "willTopic = " + *willTopic_);
        }
        checkQoS(qos);
    }
    const auto drop = [&handler] {
        if (handler) handler(droppingError());
        return std::uint16_t{0};
    };
    if (qos > 2) return drop();

    if (qos == 0) {
        const auto message = MQTTMessage::publishMessageWithData(data, topic, 0, 0, retain, false, protocolLevel_);
        if (!message) return drop();
        MQTTOptionalError error;
        if (!encode(*message)) error = makeMQTTError(kMQTTErrorEncoderNotReady, "Encoder not ready");
        if (handler) handler(error);
        return 0;
    }

    const auto msgId = nextMsgId();
    if (msgId == 0) return drop();
    // Built before anything is stored, so no flow holds a message that could
    // never go out.
    const auto message = MQTTMessage::publishMessageWithData(data, topic, qos, msgId, retain, false, protocolLevel_);
    if (!message) return drop();

    // Counted, not listed: a publish costs the same with a long queue.
    const auto inFlight = persistence_->windowSize(clientId_);
    const bool queuedAhead = persistence_->flowCount(clientId_, false) > inFlight;
    const bool sendNow =
        status_ == MQTTSessionStatus::connected && !queuedAhead && inFlight <= persistence_->maxWindowSize();
    const Bytes payload(data.begin(), data.end());
    const auto flow = persistence_->storeMessageForClientId(clientId_, topic, payload, retain, qos, msgId, false,
                                                            sendNow ? kPublishSent : kQueued,
                                                            sendNow ? dupDeadline() : clock_->now());
    if (!flow) return drop();
    persistence_->sync();
    if (handler) publishHandlers_[msgId] = std::move(handler);
    else publishHandlers_.erase(msgId);
    if (flow->commandType() == kPublishSent && !encode(*message)) {
        flow->setCommandType(kQueued);
        flow->setDeadline(clock_->now());
        persistence_->sync();
    }
    tell();
    return msgId;
}

std::optional<MQTTMessage> MQTTSession::publishFromFlow(const MQTTFlowFields& flow, bool dup) const {
    const auto data = flow.data.value_or(Bytes{});
    return MQTTMessage::publishMessageWithData(data, flow.topic.value_or(std::string()), flow.qosLevel.value_or(0),
                                               flow.messageId.value_or(0), flow.retainedFlag.value_or(false), dup,
                                               protocolLevel_);
}

void MQTTSession::checkTxFlows() {
    if (status_ != MQTTSessionStatus::connected) return;
    auto self = shared_from_this();
    const auto flows = persistence_->allFlowsforClientId(clientId_, false);
    std::uint64_t windowSize = 0;
    for (const auto& flow : flows) {
        if (flow->commandType().value_or(kQueued) != kQueued) ++windowSize;
    }
    for (const auto& flow : flows) {
        // A delegate callback while sending may have closed the session.
        if (status_ != MQTTSessionStatus::connected) return;
        const auto fields = flow->fields();
        if (!fields.deadline || *fields.deadline >= clock_->now()) continue;
        const auto type = fields.commandType.value_or(kQueued);
        if (type == kQueued) {
            if (windowSize > persistence_->maxWindowSize()) continue;
            const auto message = publishFromFlow(fields, false);
            if (message && encode(*message)) {
                flow->setCommandType(kPublishSent);
                flow->setDeadline(dupDeadline());
                persistence_->sync();
                ++windowSize;
            }
        } else if (type == kPublishSent) {
            const auto message = publishFromFlow(fields, true);
            if (message && encode(*message)) {
                flow->setDeadline(dupDeadline());
                persistence_->sync();
            }
        } else if (type == kPubrelSent) {
            const auto message = MQTTMessage::pubrelMessageWithMessageId(fields.messageId.value_or(0), protocolLevel_);
            if (message && encode(*message)) {
                flow->setDeadline(dupDeadline());
                persistence_->sync();
            }
        }
    }
}

// --- Acknowledgements of outgoing messages ---

void MQTTSession::finishOutgoing(const std::shared_ptr<MQTTFlow>& flow, std::uint16_t msgId) {
    const auto fields = flow->fields();
    const auto topic = fields.topic.value_or(std::string());
    const auto data = fields.data.value_or(Bytes{});
    if (auto delegate = delegate_.lock()) {
        delegate->messageDelivered(*this, msgId);
        delegate->messageDelivered(*this, msgId, topic, data, fields.qosLevel.value_or(0),
                                   fields.retainedFlag.value_or(false));
    }
    if (const auto found = publishHandlers_.find(msgId); found != publishHandlers_.end()) {
        auto handler = std::move(found->second);
        publishHandlers_.erase(found);
        if (handler) handler(std::nullopt);
    }
    persistence_->deleteFlow(flow);
    persistence_->sync();
    tell();
}

void MQTTSession::handlePuback(const MQTTMessage& message) {
    const auto flow = persistence_->flowforClientId(clientId_, false, message.mid);
    if (flow && flow->commandType() == kPublishSent && flow->qosLevel() == std::uint8_t{1}) {
        finishOutgoing(flow, message.mid);
    }
}

void MQTTSession::handlePubrec(const MQTTMessage& message) {
    const auto flow = persistence_->flowforClientId(clientId_, false, message.mid);
    if (flow && flow->commandType() == kPublishSent && flow->qosLevel() == std::uint8_t{2}) {
        flow->setCommandType(kPubrelSent);
        flow->setDeadline(dupDeadline());
        persistence_->sync();
    }
    // Answered also without a flow: the broker must get its exchange ended.
    sendAck(MQTTMessage::pubrelMessageWithMessageId(message.mid, protocolLevel_));
}

void MQTTSession::handlePubcomp(const MQTTMessage& message) {
    const auto flow = persistence_->flowforClientId(clientId_, false, message.mid);
    if (flow && flow->commandType() == kPubrelSent) finishOutgoing(flow, message.mid);
}

// --- Incoming messages ---

bool MQTTSession::deliver(std::span<const std::uint8_t> data, const std::string& topic, std::uint8_t qos, bool retained,
                          std::uint16_t mid) {
    bool feedback = true;
    if (auto delegate = delegate_.lock()) {
        delegate->newMessage(*this, data, topic, qos, retained, mid);
        feedback = delegate->newMessageWithFeedback(*this, data, topic, qos, retained, mid).value_or(true);
    }
    if (auto handler = messageHandler()) handler(data, topic);
    return feedback;
}

std::uint16_t MQTTSession::incomingRoom() const {
    // A held flow waits for its PUBREL, so the broker still counts it among
    // its messages in flight (or, when it forgot the session, the CONNACK
    // releases it): a broker that keeps to a Receive Maximum of the store's
    // limit never makes the store hold more, whatever it holds at connect.
    std::uint64_t wanted = std::min<std::uint64_t>(persistence_->maxMessages(), 65535);
    if (connectProperties_.receiveMaximum) wanted = std::min<std::uint64_t>(wanted, *connectProperties_.receiveMaximum);
    // Zero is not a Receive Maximum a broker accepts.
    return static_cast<std::uint16_t>(std::max<std::uint64_t>(wanted, 1));
}

void MQTTSession::releaseForgottenIncoming() {
    // The broker kept no session, so no PUBREL will come for these: each was
    // acknowledged with PUBREC and is the client's to deliver now.
    const auto held = persistence_->allFlowsforClientId(clientId_, true);
    if (held.empty()) return;
    for (const auto& flow : held) {
        const auto fields = flow->fields();
        const auto data = fields.data.value_or(Bytes{});
        deliver(data, fields.topic.value_or(std::string()), fields.qosLevel.value_or(2),
                fields.retainedFlag.value_or(false), fields.messageId.value_or(0));
        persistence_->deleteFlow(flow);
    }
    persistence_->sync();
    tell();
}

void MQTTSession::refuseMalformedPublish(const MQTTMessage& message) {
    if (message.qos == 0) {
        // Nothing acknowledges it, so nothing can ask for it again.
        session_flows::flowsLog().error("Dropped a malformed PUBLISH at QoS {} (message {})", message.qos, message.mid);
        return;
    }
    // Not acknowledging it alone would lose it; ending the connection makes
    // the broker send it again after a reconnect.
    session_flows::flowsLog().error("Malformed PUBLISH at QoS {} (message {}): disconnecting", message.qos,
                                    message.mid);
    // Below level 5 a DISCONNECT carries no reason and tells the broker all
    // is well: the connection is only closed.
    if (protocolLevel_ == 5) {
        if (auto disconnect = MQTTMessage::disconnectMessage(5, 0x81, std::nullopt, std::nullopt, std::nullopt)) {
            encode(*disconnect);
        }
    }
    protocolError(makeMQTTError(kMQTTErrorIllegalMessage, kMQTTErrorIllegalMessageText));
}

void MQTTSession::handlePublish(const MQTTMessage& message) {
    const auto content = publishContent(message, protocolLevel_);
    if (!content) {
        refuseMalformedPublish(message);
        return;
    }
    if (message.qos == 0) {
        deliver(content->payload, content->topic, 0, message.retainFlag, 0);
        return;
    }
    if (message.qos == 1) {
        if (deliver(content->payload, content->topic, 1, message.retainFlag, content->mid)) {
            sendAck(MQTTMessage::pubackMessageWithMessageId(content->mid, protocolLevel_));
        }
        return;
    }
    // QoS 2: delivered once, at the release; a repeated PUBLISH only
    // overwrites the stored one.
    if (receiveMaximum_ && persistence_->flowCount(clientId_, true) >= *receiveMaximum_ &&
        !persistence_->flowforClientId(clientId_, true, content->mid)) {
        session_flows::flowsLog().error("Broker went past the Receive Maximum of {} (message {}): disconnecting",
                                        *receiveMaximum_, content->mid);
        if (auto disconnect = MQTTMessage::disconnectMessage(5, 0x93, std::nullopt, std::nullopt, std::nullopt)) {
            encode(*disconnect);
        }
        protocolError(makeMQTTError(kMQTTErrorReceiveMaximumExceeded, "MQTT Receive Maximum exceeded"));
        return;
    }
    const Bytes payload(content->payload.begin(), content->payload.end());
    auto flow = persistence_->storeMessageForClientId(clientId_, content->topic, payload, message.retainFlag, 2,
                                                      content->mid, true, kPubrecSent, dupDeadline());
    if (!flow) flow = overwriteHeldIncoming(content->mid, content->topic, payload, message.retainFlag);
    if (!flow) {
        // Left unacknowledged on a live connection the broker would never
        // send it again; a new connection makes it.
        session_flows::flowsLog().error("Flow store full: QoS 2 message {} not acknowledged, ending the connection",
                                        content->mid);
        connectionError(makeMQTTError(kMQTTErrorIncomingStoreFull, kMQTTErrorIncomingStoreFullText));
        return;
    }
    persistence_->sync();
    tell();
    sendAck(MQTTMessage::pubrecMessageWithMessageId(content->mid, protocolLevel_));
}

std::shared_ptr<MQTTFlow> MQTTSession::overwriteHeldIncoming(std::uint16_t mid, const std::string& topic,
                                                             const Bytes& payload, bool retained) {
    // A full store takes no store, not even of a flow it holds; but the
    // repeat of a held message needs no room, and refusing it would end
    // every connection whose broker missed a PUBREC on the last one.
    auto flow = persistence_->flowforClientId(clientId_, true, mid);
    if (!flow) return nullptr;
    flow->setTopic(topic);
    flow->setData(payload);
    flow->setRetainedFlag(retained);
    flow->setQosLevel(2);
    flow->setCommandType(kPubrecSent);
    flow->setDeadline(dupDeadline());
    return flow;
}

void MQTTSession::handlePubrel(const MQTTMessage& message) {
    const auto flow = persistence_->flowforClientId(clientId_, true, message.mid);
    if (flow) {
        const auto fields = flow->fields();
        const auto data = fields.data.value_or(Bytes{});
        const bool feedback = deliver(data, fields.topic.value_or(std::string()), fields.qosLevel.value_or(2),
                                      fields.retainedFlag.value_or(false), fields.messageId.value_or(message.mid));
        if (!feedback) return;
        persistence_->deleteFlow(flow);
        persistence_->sync();
        tell();
    }
    sendAck(MQTTMessage::pubcompMessageWithMessageId(message.mid, protocolLevel_));
}

}  // namespace ambrell
