#include "livedata/mqtt/MQTTCoreDataPersistence.h"

#include <limits>
#include <system_error>

#include "livedata/mqtt/MQTTFlowDatabase.h"
#include "platform/Paths.h"

namespace ambrell {

namespace {

using Column = MQTTFlowDatabase::Column;

// Dates are kept as nanoseconds since the epoch: exact, and ordered as
// integers.
std::int64_t storedDate(MQTTFlow::Date date) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
}

MQTTFlow::Date dateFromStored(std::int64_t nanoseconds) {
    return MQTTFlow::Date(std::chrono::duration_cast<MQTTFlow::Date::duration>(std::chrono::nanoseconds(nanoseconds)));
}

// A stored integer read back as T; none when it does not fit (a file
// changed behind the store's back).
template <typename T>
std::optional<T> narrowed(std::optional<std::int64_t> value) {
    if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max()) {
        return std::nullopt;
    }
    return static_cast<T>(*value);
}

std::optional<bool> flag(std::optional<std::int64_t> value) {
    if (!value) return std::nullopt;
    return *value != 0;
}

template <typename T>
std::optional<std::int64_t> widened(std::optional<T> value) {
    if (!value) return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

std::filesystem::path storeFile() { return platform::Paths::documents() / MQTTCoreDataPersistence::kFileName; }

}  // namespace

MQTTCoreDataFlow::MQTTCoreDataFlow(std::shared_ptr<MQTTFlowDatabase> context, std::int64_t object)
    : context_(std::move(context)), object_(object) {}

std::optional<std::string> MQTTCoreDataFlow::clientId() const { return context_->text(object_, Column::clientId); }
void MQTTCoreDataFlow::setClientId(std::optional<std::string> clientId) {
    context_->setText(object_, Column::clientId, clientId);
}
std::optional<bool> MQTTCoreDataFlow::incomingFlag() const {
    return flag(context_->integer(object_, Column::incomingFlag));
}
void MQTTCoreDataFlow::setIncomingFlag(std::optional<bool> incomingFlag) {
    context_->setInteger(object_, Column::incomingFlag, widened(incomingFlag));
}
std::optional<bool> MQTTCoreDataFlow::retainedFlag() const {
    return flag(context_->integer(object_, Column::retainedFlag));
}
void MQTTCoreDataFlow::setRetainedFlag(std::optional<bool> retainedFlag) {
    context_->setInteger(object_, Column::retainedFlag, widened(retainedFlag));
}
std::optional<std::uint8_t> MQTTCoreDataFlow::commandType() const {
    return narrowed<std::uint8_t>(context_->integer(object_, Column::commandType));
}
void MQTTCoreDataFlow::setCommandType(std::optional<std::uint8_t> commandType) {
    context_->setInteger(object_, Column::commandType, widened(commandType));
}
std::optional<std::uint8_t> MQTTCoreDataFlow::qosLevel() const {
    return narrowed<std::uint8_t>(context_->integer(object_, Column::qosLevel));
}
void MQTTCoreDataFlow::setQosLevel(std::optional<std::uint8_t> qosLevel) {
    context_->setInteger(object_, Column::qosLevel, widened(qosLevel));
}
std::optional<std::uint16_t> MQTTCoreDataFlow::messageId() const {
    return narrowed<std::uint16_t>(context_->integer(object_, Column::messageId));
}
void MQTTCoreDataFlow::setMessageId(std::optional<std::uint16_t> messageId) {
    context_->setInteger(object_, Column::messageId, widened(messageId));
}
std::optional<std::string> MQTTCoreDataFlow::topic() const { return context_->text(object_, Column::topic); }
void MQTTCoreDataFlow::setTopic(std::optional<std::string> topic) { context_->setText(object_, Column::topic, topic); }
std::optional<std::vector<std::uint8_t>> MQTTCoreDataFlow::data() const {
    return context_->blob(object_, Column::data);
}
void MQTTCoreDataFlow::setData(std::optional<std::vector<std::uint8_t>> data) {
    context_->setBlob(object_, Column::data, data);
}
std::optional<MQTTFlow::Date> MQTTCoreDataFlow::deadline() const {
    const auto stored = context_->integer(object_, Column::deadline);
    if (!stored) return std::nullopt;
    return dateFromStored(*stored);
}
void MQTTCoreDataFlow::setDeadline(std::optional<Date> deadline) {
    context_->setInteger(object_, Column::deadline,
                         deadline ? std::optional<std::int64_t>(storedDate(*deadline)) : std::nullopt);
}

MQTTFlowFields MQTTCoreDataFlow::fields() const {
    const auto row = context_->record(object_);
    if (!row) return {};
    MQTTFlowFields fields;
    fields.clientId = row->clientId;
    fields.incomingFlag = flag(row->incomingFlag);
    fields.retainedFlag = flag(row->retainedFlag);
    fields.commandType = narrowed<std::uint8_t>(row->commandType);
    fields.qosLevel = narrowed<std::uint8_t>(row->qosLevel);
    fields.messageId = narrowed<std::uint16_t>(row->messageId);
    fields.topic = row->topic;
    fields.data = row->data;
    if (row->deadline) fields.deadline = dateFromStored(*row->deadline);
    return fields;
}

MQTTCoreDataPersistence::MQTTCoreDataPersistence() : MQTTPersistence(kDefaultMaxSize) {}

MQTTCoreDataPersistence::~MQTTCoreDataPersistence() = default;

std::shared_ptr<MQTTFlowDatabase> MQTTCoreDataPersistence::context() {
    std::lock_guard lock(setupMutex_);
    if (!context_) {
        if (persistent()) file_ = storeFile();
        context_ = std::make_shared<MQTTFlowDatabase>(file_);
    }
    return context_;
}

std::uint64_t MQTTCoreDataPersistence::windowSize(const std::string& clientId) {
    return context()->countInFlight(clientId);
}

std::shared_ptr<MQTTFlow> MQTTCoreDataPersistence::storeMessageForClientId(
    const std::string& clientId, const std::string& topic, const std::vector<std::uint8_t>& data, bool retainFlag,
    std::uint8_t qos, std::uint16_t msgId, bool incomingFlag, std::uint8_t commandType, Date deadline) {
    const auto database = context();
    auto guard = database->lock();
    if (!database->isOpen()) return nullptr;
    // Strictly greater: a direction may hold maxMessages + 1 flows, which the
    // session's identifier search relies on to end.
    if (database->count(clientId, incomingFlag) > maxMessages()) return nullptr;
    if (fileSize() > maxSize()) return nullptr;
    // A new flow is one write, an overwritten one two.
    if (const auto row = database->findRow(clientId, incomingFlag, msgId)) {
        if (!database->setMessage(*row, topic, data, retainFlag, qos, commandType, storedDate(deadline))) {
            return nullptr;
        }
        return std::make_shared<MQTTCoreDataFlow>(database, *row);
    }
    const auto row = database->insertMessage(clientId, incomingFlag, msgId, topic, data, retainFlag, qos, commandType,
                                             storedDate(deadline));
    if (!row) return nullptr;
    return std::make_shared<MQTTCoreDataFlow>(database, *row);
}

std::shared_ptr<MQTTFlow> MQTTCoreDataPersistence::createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                                         std::uint16_t messageId) {
    const auto database = context();
    auto guard = database->lock();
    return createLocked(database, clientId, incomingFlag, messageId);
}

std::shared_ptr<MQTTFlow> MQTTCoreDataPersistence::createLocked(const std::shared_ptr<MQTTFlowDatabase>& database,
                                                                const std::string& clientId, bool incomingFlag,
                                                                std::uint16_t messageId) {
    auto row = database->findRow(clientId, incomingFlag, messageId);
    if (!row) row = database->insertRow(clientId, incomingFlag, messageId);
    if (!row) return nullptr;
    return std::make_shared<MQTTCoreDataFlow>(database, *row);
}

void MQTTCoreDataPersistence::deleteFlow(const std::shared_ptr<MQTTFlow>& flow) {
    const auto* ours = dynamic_cast<const MQTTCoreDataFlow*>(flow.get());
    const auto database = context();
    if (ours == nullptr || ours->context() != database) return;
    database->deleteRow(ours->object());
    sync();
}

void MQTTCoreDataPersistence::deleteAllFlowsForClientId(const std::string& clientId) {
    const auto database = context();
    {
        auto guard = database->lock();
        database->deleteRows(clientId, true);
        database->deleteRows(clientId, false);
    }
    sync();
}

std::uint64_t MQTTCoreDataPersistence::flowCount(const std::string& clientId, bool incomingFlag) {
    return context()->count(clientId, incomingFlag);
}

std::vector<std::shared_ptr<MQTTFlow>> MQTTCoreDataPersistence::allFlowsforClientId(const std::string& clientId,
                                                                                    bool incomingFlag) {
    const auto database = context();
    std::vector<std::shared_ptr<MQTTFlow>> flows;
    for (const auto row : database->rows(clientId, incomingFlag)) {
        flows.push_back(std::make_shared<MQTTCoreDataFlow>(database, row));
    }
    return flows;
}

std::shared_ptr<MQTTFlow> MQTTCoreDataPersistence::flowforClientId(const std::string& clientId, bool incomingFlag,
                                                                   std::uint16_t messageId) {
    const auto database = context();
    const auto row = database->findRow(clientId, incomingFlag, messageId);
    if (!row) return nullptr;
    return std::make_shared<MQTTCoreDataFlow>(database, *row);
}

void MQTTCoreDataPersistence::sync() {
    const auto database = context();
    auto guard = database->lock();
    if (!database->hasChanges()) return;
    database->save();
    if (!file_) {
        fileSize_ = 0;
        return;
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(*file_, error);
    fileSize_ = error ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace ambrell
