#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "livedata/mqtt/MQTTDecoder.h"
#include "livedata/mqtt/MQTTMessage.h"
#include "livedata/mqtt/MQTTPersistence.h"
#include "livedata/mqtt/MQTTSessionClock.h"
#include "livedata/mqtt/MQTTSessionDelegate.h"
#include "livedata/mqtt/MQTTTransport.h"

namespace ambrell {

class MQTTSSLSecurityPolicy;
struct MQTTClientCertificates;

// The level-5 properties of a session's CONNECT, sent as given.
struct MQTTConnectProperties {
    std::optional<std::uint32_t> sessionExpiryInterval;
    std::optional<std::string> authMethod;
    std::optional<Bytes> authData;
    std::optional<std::uint8_t> requestProblemInformation;
    // Sent with the will only.
    std::optional<std::uint32_t> willDelayInterval;
    std::optional<std::uint8_t> requestResponseInformation;
    std::optional<std::uint16_t> receiveMaximum;
    std::optional<std::uint16_t> topicAliasMaximum;
    std::optional<UserProperties> userProperty;
    // Also caps the frames the session takes.
    std::optional<std::uint32_t> maximumPacketSize;
};

// One logical connection to one broker over one transport, at protocol level
// 3, 4 or 5: connect, keep-alive, subscribe, publish and receive at QoS 0 to
// 2, close. Exchanges that are not finished live as flows in `persistence`,
// so QoS 1 and 2 messages survive a broken connection (and, with a
// persistent store and no clean session, the process) and are sent again.
//
// Threads: everything runs on `queue`, a serial executor the session gives
// its framing decoder and timers; its owner gives the same queue to the
// transport. Call every member there; nextMsgId and the connection and
// message handler accessors alone are thread-safe. Every handler and
// delegate callback runs on `queue`.
//
// Completion: the connect handler is called once, with no error after an
// accepting CONNACK, or with the failure (refused CONNACK, transport failure,
// rejected or unexpected packet, the broker closing, the connect time-out,
// or -6 "No response" when closed before the CONNACK). Subscribe and
// unsubscribe handlers are called at the acknowledgement, or with -6 "No
// response" when the session closes first; publish handlers at the end of
// the exchange (they survive closes) or at once for QoS 0 and refusals. A
// clean-session connect drops pending handlers without calling them.
// Cancelling is closing: it ends the connection and fails what waits for the
// broker as above. Error codes and texts: MQTTSessionDelegate.h.
//
// Must be owned by a std::shared_ptr: transport, decoder and timers hold it
// weakly and do nothing once it is gone.
class MQTTSession : public MQTTTransportDelegate,
                    public MQTTDecoderDelegate,
                    public std::enable_shared_from_this<MQTTSession> {
public:
    using Date = MQTTFlow::Date;

    MQTTSession();
    ~MQTTSession() override;
    MQTTSession(const MQTTSession&) = delete;
    MQTTSession& operator=(const MQTTSession&) = delete;

    // --- Configuration ---

    [[nodiscard]] std::shared_ptr<MQTTSessionDelegate> delegate() const { return delegate_.lock(); }
    // Held weakly.
    void setDelegate(std::weak_ptr<MQTTSessionDelegate> delegate) { delegate_ = std::move(delegate); }
    // The flow store; by default an MQTTCoreDataPersistence in memory.
    [[nodiscard]] const std::shared_ptr<MQTTPersistence>& persistence() const { return persistence_; }
    void setPersistence(std::shared_ptr<MQTTPersistence> persistence) { persistence_ = std::move(persistence); }
    void setConnectHandler(MQTTConnectHandler handler) { connectHandler_ = std::move(handler); }
    // Told every event, from any thread's setting.
    [[nodiscard]] MQTTConnectionHandler connectionHandler() const;
    void setConnectionHandler(MQTTConnectionHandler handler);
    // Told every delivered message, from any thread's setting.
    [[nodiscard]] MQTTMessageHandler messageHandler() const;
    void setMessageHandler(MQTTMessageHandler handler);

    [[nodiscard]] const std::string& streamSSLLevel() const { return streamSSLLevel_; }
    // Also sets the transport's.
    void setStreamSSLLevel(std::string level);
    // The transport's ("" and 0 without one).
    [[nodiscard]] std::string host() const;
    [[nodiscard]] std::uint32_t port() const;

    [[nodiscard]] const std::string& clientId() const { return clientId_; }
    // None generates one: "MQTTClient" and up to 13 random digits, so that
    // devices do not take each other's identifiers (the broker drops the
    // older connection of an identifier).
    void setClientId(std::optional<std::string> clientId);
    [[nodiscard]] const std::optional<std::string>& userName() const { return userName_; }
    void setUserName(std::optional<std::string> userName) { userName_ = std::move(userName); }
    [[nodiscard]] const std::optional<std::string>& password() const { return password_; }
    void setPassword(std::optional<std::string> password) { password_ = std::move(password); }
    // Seconds; 0 sends no PINGREQ.
    [[nodiscard]] std::uint16_t keepAliveInterval() const { return keepAliveInterval_; }
    void setKeepAliveInterval(std::uint16_t seconds) { keepAliveInterval_ = seconds; }
    // Seconds before an unacknowledged packet goes out again.
    [[nodiscard]] double dupTimeout() const { return dupTimeout_; }
    void setDupTimeout(double seconds) { dupTimeout_ = seconds; }
    // Seconds from connect() to the CONNACK before the attempt fails with
    // kMQTTErrorConnectTimeout; 0 waits for good.
    [[nodiscard]] double connectTimeout() const { return connectTimeout_; }
    void setConnectTimeout(double seconds) { connectTimeout_ = seconds; }
    [[nodiscard]] bool cleanSessionFlag() const { return cleanSessionFlag_; }
    void setCleanSessionFlag(bool flag) { cleanSessionFlag_ = flag; }
    [[nodiscard]] bool willFlag() const { return willFlag_; }
    void setWillFlag(bool flag) { willFlag_ = flag; }
    [[nodiscard]] const std::optional<std::string>& willTopic() const { return willTopic_; }
    void setWillTopic(std::optional<std::string> topic) { willTopic_ = std::move(topic); }
    [[nodiscard]] const std::optional<Bytes>& willMsg() const { return willMsg_; }
    void setWillMsg(std::optional<Bytes> message) { willMsg_ = std::move(message); }
    [[nodiscard]] std::uint8_t willQoS() const { return willQoS_; }
    void setWillQoS(std::uint8_t qos) { willQoS_ = qos; }
    [[nodiscard]] bool willRetainFlag() const { return willRetainFlag_; }
    void setWillRetainFlag(bool flag) { willRetainFlag_ = flag; }
    // 3, 4 (the default) or 5.
    [[nodiscard]] std::uint8_t protocolLevel() const { return protocolLevel_; }
    void setProtocolLevel(std::uint8_t level) { protocolLevel_ = level; }
    // Sent only at level 5.
    [[nodiscard]] const MQTTConnectProperties& connectProperties() const { return connectProperties_; }
    void setConnectProperties(MQTTConnectProperties properties) { connectProperties_ = std::move(properties); }
    // The queue of the decoder and the timers; the main queue by default.
    [[nodiscard]] const platform::SerialExecutor& queue() const { return *queue_; }
    void setQueue(const platform::SerialExecutor& queue);
    // Sent instead of a CONNECT built from the settings.
    [[nodiscard]] const std::optional<MQTTMessage>& connectMessage() const { return connectMessage_; }
    void setConnectMessage(std::optional<MQTTMessage> message) { connectMessage_ = std::move(message); }
    // Without one, connect() sends nothing and the session stays connecting.
    [[nodiscard]] const std::shared_ptr<MQTTTransport>& transport() const { return transport_; }
    void setTransport(std::shared_ptr<MQTTTransport> transport) { transport_ = std::move(transport); }
    // The client identity for TLS; also given to the transport when it is a
    // socket transport.
    [[nodiscard]] const std::shared_ptr<const MQTTClientCertificates>& certificates() const { return certificates_; }
    void setCertificates(std::shared_ptr<const MQTTClientCertificates> certificates);
    // Stored and read back only.
    [[nodiscard]] bool voip() const { return voip_; }
    void setVoip(bool voip) { voip_ = voip; }
    [[nodiscard]] const std::shared_ptr<MQTTSSLSecurityPolicy>& securityPolicy() const { return securityPolicy_; }
    void setSecurityPolicy(std::shared_ptr<MQTTSSLSecurityPolicy> policy) { securityPolicy_ = std::move(policy); }
    // Where time comes from; the system clock by default.
    [[nodiscard]] const std::shared_ptr<MQTTSessionClock>& clock() const { return clock_; }
    void setClock(std::shared_ptr<MQTTSessionClock> clock) { clock_ = std::move(clock); }

    // --- State ---

    [[nodiscard]] MQTTSessionStatus status() const { return status_; }
    // From the last accepting CONNACK.
    [[nodiscard]] bool sessionPresent() const { return sessionPresent_; }
    // The broker's keep-alive from a level-5 CONNACK.
    [[nodiscard]] std::optional<std::uint16_t> serverKeepAlive() const { return serverKeepAlive_; }
    // The keep-alive in use since the last CONNACK, seconds.
    [[nodiscard]] std::uint16_t effectiveKeepAlive() const { return effectiveKeepAlive_; }

    // --- Connection ---

    // Deletes the client's flows and drops pending handlers when the clean
    // session flag is on, then opens the transport; the CONNECT goes out
    // when it is open. Throws MQTTStrictError under strict checking for
    // settings a broker must refuse (nothing happens then).
    void connect();
    void connectWithConnectHandler(MQTTConnectHandler handler);
    // Sends a DISCONNECT when connected, then closes; the handler is called
    // once closed, with no error.
    void closeWithDisconnectHandler(MQTTDisconnectHandler handler);
    void closeWithReturnCode(std::uint8_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                             std::optional<std::string> reasonString, std::optional<UserProperties> userProperty,
                             MQTTDisconnectHandler handler);
    // Sends a DISCONNECT whatever the status, then closes.
    void disconnect();
    void disconnectWithReturnCode(std::uint8_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                                  const std::optional<std::string>& reasonString,
                                  const std::optional<UserProperties>& userProperty);

    // --- Subscriptions and messages ---

    // The packet identifier used, or 0 when the packet can't be sent soundly
    // (the handler then gets -6 "Dropping outgoing Message"). Filters are
    // checked under strict checking (MQTTStrictError).
    std::uint16_t subscribeToTopic(const std::string& topic, std::uint8_t qos, MQTTSubscribeHandler handler = {});
    std::uint16_t subscribeToTopics(const MQTTSubscriptions& topics, MQTTSubscribeHandler handler = {});
    std::uint16_t unsubscribeTopic(const std::string& topic, MQTTUnsubscribeHandler handler = {});
    std::uint16_t unsubscribeTopics(const std::vector<std::string>& topics, MQTTUnsubscribeHandler handler = {});
    // QoS 0: sent at once, result 0; the handler hears -5 "Encoder not ready"
    // when the transport did not take it. QoS 1 and 2: stored, sent when
    // connected and the window allows, otherwise at the next check; result
    // the packet identifier. 0 and -6 "Dropping outgoing Message" when the
    // store refuses it or the packet can't be built.
    std::uint16_t publishData(std::span<const std::uint8_t> data, const std::string& topic, bool retain,
                              std::uint8_t qos, MQTTPublishHandler handler = {});

    // The next free packet identifier (never 0, none held by an outgoing
    // flow); 0 when all 65,535 are held. Thread-safe.
    std::uint16_t nextMsgId();

    // --- Driven by the timers and the transport (also callable) ---

    // Sends a PINGREQ; a second tick without anything received since the
    // last PINGREQ is a connection error.
    void keepAlive();
    // Sends what is due: queued messages as the window allows, resends with
    // the dup flag, PUBRELs.
    void checkDup();
    void checkTxFlows();
    // Frames the packet and hands it to the transport; false when it can't
    // be framed or the transport did not take it.
    bool encode(const MQTTMessage& message);
    // Reports the flow counts to the delegate.
    void tell();

    void mqttTransportDidOpen(MQTTTransport& transport) override;
    void mqttTransportDidReceiveMessage(MQTTTransport& transport, std::span<const std::uint8_t> data) override;
    void mqttTransportDidFailWithError(MQTTTransport& transport, const platform::NSError& error) override;
    void mqttTransportDidClose(MQTTTransport& transport) override;
    void decoderDidReceiveMessage(MQTTDecoder& decoder, std::span<const std::uint8_t> frame) override;
    void decoderHandleEvent(MQTTDecoder& decoder, MQTTDecoderEvent event, const platform::NSError& error) override;

private:
    void checkConnectArguments() const;
    void connectionError(const platform::NSError& error);
    void protocolError(const platform::NSError& error);
    void reportError(MQTTSessionEvent event, const MQTTOptionalError& error);
    void closeInternal();
    void failPendingConnect(const platform::NSError& error);
    void tellEvent(MQTTSessionEvent event);
    void handleConnack(const MQTTMessage& message);
    void connectTimedOut();
    void startTimers();
    void stopTimers();

    void handlePublish(const MQTTMessage& message);
    void refuseMalformedPublish(const MQTTMessage& message);
    std::shared_ptr<MQTTFlow> overwriteHeldIncoming(std::uint16_t mid, const std::string& topic, const Bytes& payload,
                                                    bool retained);
    [[nodiscard]] std::uint16_t incomingRoom() const;
    void releaseForgottenIncoming();
    void handlePuback(const MQTTMessage& message);
    void handlePubrec(const MQTTMessage& message);
    void handlePubrel(const MQTTMessage& message);
    void handlePubcomp(const MQTTMessage& message);
    void handleSuback(const MQTTMessage& message);
    void handleUnsuback(const MQTTMessage& message);
    void finishOutgoing(const std::shared_ptr<MQTTFlow>& flow, std::uint16_t msgId);
    bool deliver(std::span<const std::uint8_t> data, const std::string& topic, std::uint8_t qos, bool retained,
                 std::uint16_t mid);
    [[nodiscard]] std::optional<MQTTMessage> publishFromFlow(const MQTTFlowFields& flow, bool dup) const;
    [[nodiscard]] Date dupDeadline() const;
    void sendAck(std::optional<MQTTMessage> ack);

    std::weak_ptr<MQTTSessionDelegate> delegate_;
    std::shared_ptr<MQTTPersistence> persistence_;
    MQTTConnectHandler connectHandler_;
    MQTTDisconnectHandler disconnectHandler_;
    mutable std::mutex handlersMutex_;
    MQTTConnectionHandler connectionHandler_;
    MQTTMessageHandler messageHandler_;
    std::string streamSSLLevel_;
    std::string clientId_;
    std::optional<std::string> userName_;
    std::optional<std::string> password_;
    std::uint16_t keepAliveInterval_ = 60;
    double dupTimeout_ = 20.0;
    double connectTimeout_ = 30.0;
    bool cleanSessionFlag_ = true;
    bool willFlag_ = false;
    std::optional<std::string> willTopic_;
    std::optional<Bytes> willMsg_;
    std::uint8_t willQoS_ = 0;
    bool willRetainFlag_ = false;
    std::uint8_t protocolLevel_ = 4;
    MQTTConnectProperties connectProperties_;
    std::unique_ptr<platform::SerialExecutor> queue_;
    std::optional<MQTTMessage> connectMessage_;
    std::shared_ptr<MQTTTransport> transport_;
    std::shared_ptr<const MQTTClientCertificates> certificates_;
    bool voip_ = false;
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy_;
    std::shared_ptr<MQTTSessionClock> clock_;

    MQTTSessionStatus status_ = MQTTSessionStatus::created;
    bool sessionPresent_ = false;
    std::unique_ptr<MQTTTimer> keepAliveTimer_;
    std::unique_ptr<MQTTTimer> checkDupTimer_;
    std::unique_ptr<MQTTTimer> connectTimer_;
    std::optional<std::uint16_t> serverKeepAlive_;
    // The Receive Maximum the last level-5 CONNECT carried.
    std::optional<std::uint16_t> receiveMaximum_;
    std::uint16_t effectiveKeepAlive_ = 0;
    // Whether a PINGREQ is unanswered: nothing arrived since it went out.
    bool pingOutstanding_ = false;
    std::shared_ptr<MQTTDecoder> decoder_;
    std::map<std::uint16_t, MQTTSubscribeHandler> subscribeHandlers_;
    std::map<std::uint16_t, MQTTUnsubscribeHandler> unsubscribeHandlers_;
    std::map<std::uint16_t, MQTTPublishHandler> publishHandlers_;
    std::mutex msgIdMutex_;
    std::uint16_t txMsgId_ = 1;
};

}  // namespace ambrell
