#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>

#include "livedata/mqtt/MQTTPersistence.h"

namespace ambrell {

class MQTTFlowDatabase;

// A flow of MQTTCoreDataPersistence: a handle on one stored record. Every
// read and write goes to the record, so two handles on one flow agree; a
// handle whose flow was deleted reads absent values and ignores writes.
// A write that would give two flows one key (clientId, incomingFlag,
// messageId) is refused and logged, leaving the flow as it was.
// Thread-safe: it holds the store's lock for each access.
class MQTTCoreDataFlow final : public MQTTFlow {
public:
    MQTTCoreDataFlow(std::shared_ptr<MQTTFlowDatabase> context, std::int64_t object);

    [[nodiscard]] std::optional<std::string> clientId() const override;
    void setClientId(std::optional<std::string> clientId) override;
    [[nodiscard]] std::optional<bool> incomingFlag() const override;
    void setIncomingFlag(std::optional<bool> incomingFlag) override;
    [[nodiscard]] std::optional<bool> retainedFlag() const override;
    void setRetainedFlag(std::optional<bool> retainedFlag) override;
    [[nodiscard]] std::optional<std::uint8_t> commandType() const override;
    void setCommandType(std::optional<std::uint8_t> commandType) override;
    [[nodiscard]] std::optional<std::uint8_t> qosLevel() const override;
    void setQosLevel(std::optional<std::uint8_t> qosLevel) override;
    [[nodiscard]] std::optional<std::uint16_t> messageId() const override;
    void setMessageId(std::optional<std::uint16_t> messageId) override;
    [[nodiscard]] std::optional<std::string> topic() const override;
    void setTopic(std::optional<std::string> topic) override;
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> data() const override;
    void setData(std::optional<std::vector<std::uint8_t>> data) override;
    [[nodiscard]] std::optional<Date> deadline() const override;
    void setDeadline(std::optional<Date> deadline) override;
    [[nodiscard]] MQTTFlowFields fields() const override;

    [[nodiscard]] const std::shared_ptr<MQTTFlowDatabase>& context() const { return context_; }
    [[nodiscard]] std::int64_t object() const { return object_; }

private:
    std::shared_ptr<MQTTFlowDatabase> context_;
    // The file chosen at set-up; none for a store in memory.
    std::optional<std::filesystem::path> file_;
    std::int64_t object_;
};

// The flow store the session uses by default, on SQLite: in memory, or with
// `persistent` on, in the file "MQTTClient" of the documents folder, where
// flows outlive the process and are found again by the next persistent
// store. The backing is chosen at the first operation, so the settings go
// before it.
//
// A store whose file can't be opened or isn't a flow store refuses every
// store and finds nothing; the file is left as it was.
//
// Changes are durable once sync() returns; a store refuses new flows while
// the file, as measured at the last sync, is larger than maxSize.
// Thread-safe: calls may come from any thread.
class MQTTCoreDataPersistence final : public MQTTPersistence {
public:
    static constexpr std::uint64_t kDefaultMaxSize = 64ULL * 1024 * 1024;
    static constexpr const char* kFileName = "MQTTClient";

    MQTTCoreDataPersistence();
    ~MQTTCoreDataPersistence() override;
    MQTTCoreDataPersistence(const MQTTCoreDataPersistence&) = delete;
    MQTTCoreDataPersistence& operator=(const MQTTCoreDataPersistence&) = delete;

    [[nodiscard]] std::uint64_t windowSize(const std::string& clientId) override;
    std::shared_ptr<MQTTFlow> storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                      const std::vector<std::uint8_t>& data, bool retainFlag,
                                                      std::uint8_t qos, std::uint16_t msgId, bool incomingFlag,
                                                      std::uint8_t commandType, Date deadline) override;
    // Deletes and syncs. Only this store's flows are deleted.
    void deleteFlow(const std::shared_ptr<MQTTFlow>& flow) override;
    // Deletes and syncs.
    void deleteAllFlowsForClientId(const std::string& clientId) override;
    [[nodiscard]] std::uint64_t flowCount(const std::string& clientId, bool incomingFlag) override;
    // Earliest deadline first.
    [[nodiscard]] std::vector<std::shared_ptr<MQTTFlow>> allFlowsforClientId(const std::string& clientId,
                                                                             bool incomingFlag) override;
    [[nodiscard]] std::shared_ptr<MQTTFlow> flowforClientId(const std::string& clientId, bool incomingFlag,
                                                            std::uint16_t messageId) override;
    // Saves what changed, then measures the file. A failed save is logged;
    // its changes are tried again at the next sync.
    void sync() override;

    // The flow stored under the triple, or a new one with those three fields
    // set; null when the store can't take one.
    std::shared_ptr<MQTTFlow> createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                    std::uint16_t messageId);

    // Bytes of the store file as measured at the last sync that saved
    // something; always 0 when not persistent.
    [[nodiscard]] std::uint64_t fileSize() const { return fileSize_.load(); }

private:
    std::shared_ptr<MQTTFlowDatabase> context();
    std::shared_ptr<MQTTFlow> createLocked(const std::shared_ptr<MQTTFlowDatabase>& context,
                                           const std::string& clientId, bool incomingFlag, std::uint16_t messageId);

    std::mutex setupMutex_;
    std::shared_ptr<MQTTFlowDatabase> context_;
    // The file chosen at set-up; none for a store in memory.
    std::optional<std::filesystem::path> file_;
    std::atomic<std::uint64_t> fileSize_{0};
};

}  // namespace ambrell
