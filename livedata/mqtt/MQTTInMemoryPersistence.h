#pragma once

#include <utility>

#include "livedata/mqtt/MQTTPersistence.h"

namespace ambrell {

// A flow of the in-memory store: a plain record. Not locked: one user at a
// time, as the session is.
class MQTTInMemoryFlow final : public MQTTFlow {
public:
    [[nodiscard]] std::optional<std::string> clientId() const override { return clientId_; }
    void setClientId(std::optional<std::string> clientId) override { clientId_ = std::move(clientId); }
    [[nodiscard]] std::optional<bool> incomingFlag() const override { return incomingFlag_; }
    void setIncomingFlag(std::optional<bool> incomingFlag) override { incomingFlag_ = incomingFlag; }
    [[nodiscard]] std::optional<bool> retainedFlag() const override { return retainedFlag_; }
    void setRetainedFlag(std::optional<bool> retainedFlag) override { retainedFlag_ = retainedFlag; }
    [[nodiscard]] std::optional<std::uint8_t> commandType() const override { return commandType_; }
    void setCommandType(std::optional<std::uint8_t> commandType) override { commandType_ = commandType; }
    [[nodiscard]] std::optional<std::uint8_t> qosLevel() const override { return qosLevel_; }
    void setQosLevel(std::optional<std::uint8_t> qosLevel) override { qosLevel_ = qosLevel; }
    [[nodiscard]] std::optional<std::uint16_t> messageId() const override { return messageId_; }
    void setMessageId(std::optional<std::uint16_t> messageId) override { messageId_ = messageId; }
    [[nodiscard]] std::optional<std::string> topic() const override { return topic_; }
    void setTopic(std::optional<std::string> topic) override { topic_ = std::move(topic); }
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> data() const override { return data_; }
    void setData(std::optional<std::vector<std::uint8_t>> data) override { data_ = std::move(data); }
    [[nodiscard]] std::optional<Date> deadline() const override { return deadline_; }
    void setDeadline(std::optional<Date> deadline) override { deadline_ = deadline; }

private:
    std::optional<std::string> clientId_;
    std::optional<bool> incomingFlag_;
    std::optional<bool> retainedFlag_;
    std::optional<std::uint8_t> commandType_;
    std::optional<std::uint8_t> qosLevel_;
    std::optional<std::uint16_t> messageId_;
    std::optional<std::string> topic_;
    std::optional<std::vector<std::uint8_t>> data_;
    std::optional<Date> deadline_;
};

// A flow store in plain memory, shared by the whole process: every object of
// this class sees the same flows, and flows outlive the object that stored
// them (until deleted, or the process ends). Thread-safe: each operation
// holds the shared lock throughout. maxSize and persistent are not used.
class MQTTInMemoryPersistence final : public MQTTPersistence {
public:
    MQTTInMemoryPersistence();

    [[nodiscard]] std::uint64_t windowSize(const std::string& clientId) override;
    std::shared_ptr<MQTTFlow> storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                      const std::vector<std::uint8_t>& data, bool retainFlag,
                                                      std::uint8_t qos, std::uint16_t msgId, bool incomingFlag,
                                                      std::uint8_t commandType, Date deadline) override;
    void deleteFlow(const std::shared_ptr<MQTTFlow>& flow) override;
    void deleteAllFlowsForClientId(const std::string& clientId) override;
    // Lowest message identifier first.
    [[nodiscard]] std::uint64_t flowCount(const std::string& clientId, bool incomingFlag) override;
    [[nodiscard]] std::vector<std::shared_ptr<MQTTFlow>> allFlowsforClientId(const std::string& clientId,
                                                                             bool incomingFlag) override;
    [[nodiscard]] std::shared_ptr<MQTTFlow> flowforClientId(const std::string& clientId, bool incomingFlag,
                                                            std::uint16_t messageId) override;
    // Nothing to do: memory is as durable as it gets.
    void sync() override {}

    // A new flow with the three key fields set, replacing the one stored
    // under them.
    std::shared_ptr<MQTTFlow> createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                    std::uint16_t messageId);
};

}  // namespace ambrell
