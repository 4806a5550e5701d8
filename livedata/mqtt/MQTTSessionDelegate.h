#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "livedata/mqtt/MQTTMessage.h"
#include "platform/Error.h"

namespace ambrell {

class MQTTSession;

enum class MQTTSessionStatus : std::int64_t {
    created = 0,
    // connect() ran, no CONNACK yet.
    connecting = 1,
    // An accepting CONNACK arrived.
    connected = 2,
    // A DISCONNECT is being sent.
    disconnecting = 3,
    closed = 4,
    // While a failure is reported; closed follows at once.
    error = 5,
};

// What the session tells its delegate and connection handler. Every failure
// (1, 3, 4, 5) is followed by connectionClosed.
enum class MQTTSessionEvent : std::int64_t {
    connected = 0,
    connectionRefused = 1,
    connectionClosed = 2,
    // The transport failed, or the broker stayed silent past a time-out.
    connectionError = 3,
    // A bad or unexpected packet.
    protocolError = 4,
    connectionClosedByBroker = 5,
};

// The session's error codes, in the domain MQTTSessionErrorDomain. A refused
// CONNACK gives its return code (1 to 5; 6 for any other), a DISCONNECT its
// reason code.
inline constexpr std::int64_t kMQTTErrorNoConnack = -1;
inline constexpr std::int64_t kMQTTErrorConnackExpected = -2;
inline constexpr std::int64_t kMQTTErrorConnectTimeout = -3;
inline constexpr std::int64_t kMQTTErrorKeepAliveTimeout = -4;
inline constexpr std::int64_t kMQTTErrorEncoderNotReady = -5;
inline constexpr std::int64_t kMQTTErrorNoResponse = -6;
inline constexpr std::int64_t kMQTTErrorDroppingOutgoingMessage = -6;
inline constexpr std::int64_t kMQTTErrorClosedWithoutConnack = -8;
inline constexpr std::int64_t kMQTTErrorConnectNotBuildable = -9;
// The flow store refused an incoming QoS 2 message: the connection ends
// without acknowledging it, so the broker sends it again after a reconnect.
inline constexpr std::int64_t kMQTTErrorIncomingStoreFull = -10;
inline constexpr std::string_view kMQTTErrorIncomingStoreFullText =
    "MQTT flow store full: incoming QoS 2 message not acknowledged";
// The broker sent more unreleased QoS 2 messages than the CONNECT's Receive
// Maximum allows (level 5).
inline constexpr std::int64_t kMQTTErrorReceiveMaximumExceeded = 0x93;
// User info keys of a refused level-5 CONNACK's error.
inline constexpr std::string_view kMQTTErrorReasonCodeKey = "reasonCode";
inline constexpr std::string_view kMQTTErrorReasonStringKey = "reasonString";
inline constexpr std::string_view kMQTTErrorServerReferenceKey = "serverReference";
inline constexpr std::string_view kMQTTErrorNoResponseText = "No response";
inline constexpr std::string_view kMQTTErrorDroppingOutgoingMessageText = "Dropping outgoing Message";

using MQTTOptionalError = std::optional<platform::NSError>;
// The result of a connect, a close, an unsubscribe or a publish: no error on
// success.
using MQTTConnectHandler = std::function<void(const MQTTOptionalError&)>;
using MQTTDisconnectHandler = std::function<void(const MQTTOptionalError&)>;
using MQTTUnsubscribeHandler = std::function<void(const MQTTOptionalError&)>;
using MQTTPublishHandler = std::function<void(const MQTTOptionalError&)>;
// The granted QoS values (or failure codes, 0x80 and up) in the order of the
// filters; empty with an error.
using MQTTSubscribeHandler = std::function<void(const MQTTOptionalError&, const std::vector<std::uint8_t>&)>;
using MQTTConnectionHandler = std::function<void(MQTTSessionEvent)>;
// A delivered application message: payload (valid during the call), topic.
using MQTTMessageHandler = std::function<void(std::span<const std::uint8_t>, const std::string&)>;

// Told what a session does, on the session's queue. Every method is
// optional; the defaults do nothing. A delegate may call the session back
// (close it, publish ...) and may drop its last reference to it.
class MQTTSessionDelegate {
public:
    using Payload = std::span<const std::uint8_t>;

    virtual ~MQTTSessionDelegate() = default;

    // A delivered application message.
    virtual void newMessage(MQTTSession& /*session*/, Payload /*data*/, const std::string& /*topic*/,
                            std::uint8_t /*qos*/, bool /*retained*/, std::uint16_t /*mid*/) {}
    // The same; false keeps the message unacknowledged, so the broker sends
    // it again. None (the default) counts as true.
    virtual std::optional<bool> newMessageWithFeedback(MQTTSession& /*session*/, Payload /*data*/,
                                                       const std::string& /*topic*/, std::uint8_t /*qos*/,
                                                       bool /*retained*/, std::uint16_t /*mid*/) {
        return std::nullopt;
    }
    virtual void handleEvent(MQTTSession& /*session*/, MQTTSessionEvent /*event*/, const MQTTOptionalError& /*error*/) {
    }
    virtual void connected(MQTTSession& /*session*/) {}
    virtual void connected(MQTTSession& /*session*/, bool /*sessionPresent*/) {}
    virtual void connectionRefused(MQTTSession& /*session*/, const platform::NSError& /*error*/) {}
    virtual void connectionClosed(MQTTSession& /*session*/) {}
    virtual void connectionError(MQTTSession& /*session*/, const platform::NSError& /*error*/) {}
    virtual void protocolError(MQTTSession& /*session*/, const platform::NSError& /*error*/) {}
    // An outgoing QoS 1 or 2 message was acknowledged to its end.
    virtual void messageDelivered(MQTTSession& /*session*/, std::uint16_t /*msgID*/) {}
    virtual void messageDelivered(MQTTSession& /*session*/, std::uint16_t /*msgID*/, const std::string& /*topic*/,
                                  Payload /*data*/, std::uint8_t /*qos*/, bool /*retainFlag*/) {}
    virtual void subAckReceived(MQTTSession& /*session*/, std::uint16_t /*msgID*/,
                                const std::vector<std::uint8_t>& /*grantedQoss*/) {}
    virtual void unsubAckReceived(MQTTSession& /*session*/, std::uint16_t /*msgID*/) {}
    // Before every packet sent; data is the packet after its fixed header.
    virtual void sending(MQTTSession& /*session*/, MQTTCommandType /*type*/, std::uint8_t /*qos*/, bool /*retained*/,
                         bool /*duped*/, std::uint16_t /*mid*/, Payload /*data*/) {}
    // Every parsed packet received.
    virtual void received(MQTTSession& /*session*/, MQTTCommandType /*type*/, std::uint8_t /*qos*/, bool /*retained*/,
                          bool /*duped*/, std::uint16_t /*mid*/, Payload /*data*/) {}
    // True drops the packet unhandled.
    virtual bool ignoreReceived(MQTTSession& /*session*/, MQTTCommandType /*type*/, std::uint8_t /*qos*/,
                                bool /*retained*/, bool /*duped*/, std::uint16_t /*mid*/, Payload /*data*/) {
        return false;
    }
    // The unfinished exchanges held in the flow store, each direction.
    virtual void buffered(MQTTSession& /*session*/, std::uint64_t /*flowingIn*/, std::uint64_t /*flowingOut*/) {}
    // The same; queued is always 0.
    virtual void buffered(MQTTSession& /*session*/, std::uint64_t /*queued*/, std::uint64_t /*flowingIn*/,
                          std::uint64_t /*flowingOut*/) {}
};

}  // namespace ambrell
