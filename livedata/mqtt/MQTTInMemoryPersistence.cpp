#include "livedata/mqtt/MQTTInMemoryPersistence.h"

#include <map>
#include <mutex>

namespace ambrell {

namespace {

using Direction = std::map<std::uint16_t, std::shared_ptr<MQTTInMemoryFlow>>;
using Client = std::map<bool, Direction>;

// client identifier -> direction -> message identifier -> flow, for the
// whole process.
struct SharedFlows {
    std::mutex mutex;
    std::map<std::string, Client, std::less<>> clientIds;
};

SharedFlows& sharedFlows() {
    static SharedFlows flows;
    return flows;
}

const Direction* directionOf(const SharedFlows& flows, const std::string& clientId, bool incomingFlag) {
    const auto client = flows.clientIds.find(clientId);
    if (client == flows.clientIds.end()) return nullptr;
    const auto direction = client->second.find(incomingFlag);
    return direction == client->second.end() ? nullptr : &direction->second;
}

std::shared_ptr<MQTTFlow> createLocked(SharedFlows& flows, const std::string& clientId, bool incomingFlag,
                                       std::uint16_t messageId) {
    auto flow = std::make_shared<MQTTInMemoryFlow>();
    flow->setClientId(clientId);
    flow->setIncomingFlag(incomingFlag);
    flow->setMessageId(messageId);
    flows.clientIds[clientId][incomingFlag][messageId] = flow;
    return flow;
}

}  // namespace

MQTTInMemoryPersistence::MQTTInMemoryPersistence() : MQTTPersistence(0) { sharedFlows(); }

std::uint64_t MQTTInMemoryPersistence::windowSize(const std::string& clientId) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    std::uint64_t inFlight = 0;
    if (const auto* outgoing = directionOf(flows, clientId, false)) {
        for (const auto& [messageId, flow] : *outgoing) {
            if (flow->commandType().value_or(0) != 0) ++inFlight;
        }
    }
    return inFlight;
}

std::shared_ptr<MQTTFlow> MQTTInMemoryPersistence::storeMessageForClientId(
    const std::string& clientId, const std::string& topic, const std::vector<std::uint8_t>& data, bool retainFlag,
    std::uint8_t qos, std::uint16_t msgId, bool incomingFlag, std::uint8_t commandType, Date deadline) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    const auto* direction = directionOf(flows, clientId, incomingFlag);
    // Strictly greater: a direction may hold maxMessages + 1 flows, which the
    // session's identifier search relies on to end.
    if (direction != nullptr && direction->size() > maxMessages()) return nullptr;
    auto flow = createLocked(flows, clientId, incomingFlag, msgId);
    flow->setTopic(topic);
    flow->setData(data);
    flow->setRetainedFlag(retainFlag);
    flow->setQosLevel(qos);
    flow->setCommandType(commandType);
    flow->setDeadline(deadline);
    return flow;
}

std::shared_ptr<MQTTFlow> MQTTInMemoryPersistence::createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                                         std::uint16_t messageId) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    return createLocked(flows, clientId, incomingFlag, messageId);
}

void MQTTInMemoryPersistence::deleteFlow(const std::shared_ptr<MQTTFlow>& flow) {
    if (!flow) return;
    const auto clientId = flow->clientId();
    const auto incomingFlag = flow->incomingFlag();
    const auto messageId = flow->messageId();
    if (!clientId || !incomingFlag || !messageId) return;
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    const auto client = flows.clientIds.find(*clientId);
    if (client == flows.clientIds.end()) return;
    const auto direction = client->second.find(*incomingFlag);
    if (direction == client->second.end()) return;
    direction->second.erase(*messageId);
}

void MQTTInMemoryPersistence::deleteAllFlowsForClientId(const std::string& clientId) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    flows.clientIds.erase(clientId);
}

std::vector<std::shared_ptr<MQTTFlow>> MQTTInMemoryPersistence::allFlowsforClientId(const std::string& clientId,
                                                                                    bool incomingFlag) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    std::vector<std::shared_ptr<MQTTFlow>> all;
    if (const auto* direction = directionOf(flows, clientId, incomingFlag)) {
        all.reserve(direction->size());
        for (const auto& [messageId, flow] : *direction) all.push_back(flow);
    }
    return all;
}

std::uint64_t MQTTInMemoryPersistence::flowCount(const std::string& clientId, bool incomingFlag) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    const auto* direction = directionOf(flows, clientId, incomingFlag);
    return direction == nullptr ? 0 : direction->size();
}

std::shared_ptr<MQTTFlow> MQTTInMemoryPersistence::flowforClientId(const std::string& clientId, bool incomingFlag,
                                                                   std::uint16_t messageId) {
    auto& flows = sharedFlows();
    std::lock_guard lock(flows.mutex);
    const auto* direction = directionOf(flows, clientId, incomingFlag);
    if (direction == nullptr) return nullptr;
    const auto found = direction->find(messageId);
    return found == direction->end() ? nullptr : found->second;
}

}  // namespace ambrell
