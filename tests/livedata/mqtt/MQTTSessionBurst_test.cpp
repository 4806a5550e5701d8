// A broker that bursts more QoS 2 messages than the flow store holds: the
// session ends the connection with the cause reported, and after a reconnect
// that is not clean every message arrives once.

#include <gtest/gtest.h>

#include <mutex>

#include "livedata/mqtt/MQTTInMemoryPersistence.h"
#include "tests/livedata/mqtt/MQTTStrandSession.h"
#include "tests/support/ScriptedBroker.h"

namespace ambrell::test {
namespace session_burst {

constexpr std::uint16_t kBurstLength = 1500;
constexpr std::uint64_t kStoreLimit = 100;

ScriptedBroker::Bytes burstPublish(std::uint16_t mid, bool dup) {
    const auto text = std::to_string(mid);
    const Bytes payload(text.begin(), text.end());
    return MQTTMessage::publishMessageWithData(payload, "burst", 2, mid, false, dup, 4)->wireFormat();
}

// The identifiers of the frames of one packet type in what the client sent
// (every frame here is shorter than 128 bytes).
std::vector<std::uint16_t> identifiersOf(const ScriptedBroker::Bytes& bytes, std::uint8_t firstByte) {
    std::vector<std::uint16_t> found;
    for (std::size_t at = 0; at + 2 <= bytes.size();) {
        const std::size_t length = bytes[at + 1];
        if (bytes[at] == firstByte && length >= 2 && at + 4 <= bytes.size()) {
            found.push_back(static_cast<std::uint16_t>((bytes[at + 2] << 8) | bytes[at + 3]));
        }
        at += 2 + length;
    }
    return found;
}

class DeliveredNumbers {
public:
    void add(std::span<const std::uint8_t> payload) {
        std::lock_guard lock(mutex_);
        numbers_.push_back(std::stoi(std::string(payload.begin(), payload.end())));
    }
    [[nodiscard]] std::vector<int> numbers() const {
        std::lock_guard lock(mutex_);
        return numbers_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> numbers_;
};

TEST(MQTTSessionBurstTest, ABurstPastTheStoreEndsTheConnectionAndEveryMessageArrivesAfterAReconnect) {
    ScriptedBroker broker;
    ScriptedBroker::Bytes burst;
    for (std::uint16_t mid = 1; mid <= kBurstLength; ++mid) {
        const auto frame = burstPublish(mid, false);
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ScriptedBroker::Script first;
    first.expectFrame({}, "CONNECT").write({0x20, 0x02, 0x00, 0x00}).expectFrame({}, "SUBSCRIBE").write(burst);
    first.goSilent();
    broker.addConnection(std::move(first));

    // The store holds one flow past its limit: 101 messages are acknowledged
    // and the 102nd ends the connection. A broker that kept the session
    // releases the 101 and sends the rest again.
    constexpr std::uint16_t kHeld = kStoreLimit + 1;
    ScriptedBroker::Script second;
    second.expectFrame({}, "CONNECT").write({0x20, 0x02, 0x01, 0x00});
    for (std::uint16_t mid = 1; mid <= kHeld; ++mid) {
        second.write(MQTTMessage::pubrelMessageWithMessageId(mid, 4)->wireFormat());
        second.expectFrame({}, "PUBCOMP " + std::to_string(mid));
    }
    for (std::uint16_t mid = kHeld + 1; mid <= kBurstLength; ++mid) {
        second.write(burstPublish(mid, true));
        second.answerFrame(
            [mid](const ScriptedBroker::Bytes&) {
                return MQTTMessage::pubrelMessageWithMessageId(mid, 4)->wireFormat();
            },
            "PUBREC " + std::to_string(mid));
        second.expectFrame({}, "PUBCOMP " + std::to_string(mid));
    }
    second.goSilent();
    broker.addConnection(std::move(second));

    StrandSession subscriber(broker.port());
    DeliveredNumbers delivered;
    subscriber.run([&] {
        auto store = std::make_shared<MQTTInMemoryPersistence>();
        store->setMaxMessages(kStoreLimit);
        store->deleteAllFlowsForClientId("burst-client");
        subscriber.session->setPersistence(store);
        subscriber.session->setClientId("burst-client");
        subscriber.session->setCleanSessionFlag(false);
        subscriber.session->setMessageHandler(
            [&delivered](std::span<const std::uint8_t> data, const std::string& /*topic*/) { delivered.add(data); });
    });
    subscriber.connect();
    ASSERT_TRUE(subscriber.waitForResults(1));
    subscriber.run([&] { subscriber.session->subscribeToTopic("burst", 2); });
    ASSERT_TRUE(subscriber.waitForStatus(MQTTSessionStatus::closed));
    const auto lines = subscriber.delegate->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "event 3 -10 MQTT flow store full: incoming QoS 2 message not acknowledged"),
              lines.end());
    ASSERT_TRUE(broker.waitForClientClose(0));
    const auto acknowledged = identifiersOf(broker.received(0), 0x50);
    ASSERT_EQ(acknowledged.size(), kHeld);
    EXPECT_EQ(acknowledged.back(), kHeld);
    EXPECT_TRUE(delivered.numbers().empty());

    subscriber.connect();
    ASSERT_TRUE(broker.waitForScriptEnd(1, std::chrono::seconds(30)));
    EXPECT_TRUE(broker.failures().empty()) << broker.failures().front();
    ASSERT_TRUE(waitFor([&] { return delivered.numbers().size() >= kBurstLength; }));
    const auto numbers = delivered.numbers();
    ASSERT_EQ(numbers.size(), kBurstLength);
    for (int index = 0; index < kBurstLength; ++index) {
        ASSERT_EQ(numbers[static_cast<std::size_t>(index)], index + 1) << "at " << index;
    }
    subscriber.run([&] { subscriber.session->persistence()->deleteAllFlowsForClientId("burst-client"); });
}

}  // namespace session_burst
}  // namespace ambrell::test
