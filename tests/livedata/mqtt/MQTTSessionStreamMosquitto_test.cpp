// A fast QoS 2 stream through a real mosquitto that lets every message be in
// flight at once: mosquitto_pub sends 20,000 messages and the session must
// get each exactly once, in order, whatever the flow store.

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "tests/livedata/mqtt/MQTTStrandSession.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/Subprocess.h"

namespace ambrell::test {
namespace session_stream {

constexpr int kStreamLength = 20000;
constexpr const char* kStreamTopic = "stream/q2";

struct StreamCase {
    const char* name;
    bool sqliteStore;
    std::uint8_t level;
};

// What the session handed on, in order of arrival.
class ReceivedNumbers {
public:
    void add(std::span<const std::uint8_t> payload) {
        std::lock_guard lock(mutex_);
        numbers_.push_back(std::stoi(std::string(payload.begin(), payload.end())));
    }
    [[nodiscard]] std::size_t size() const {
        std::lock_guard lock(mutex_);
        return numbers_.size();
    }
    [[nodiscard]] std::vector<int> numbers() const {
        std::lock_guard lock(mutex_);
        return numbers_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> numbers_;
};

class MQTTSessionStreamMosquittoTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(MQTTSessionStreamMosquittoTest, DeliversEveryMessageOfAFastQoSTwoStreamOnceAndInOrder) {
    MosquittoBroker broker(MosquittoBroker::Options{
        .extraConfig = {"max_inflight_messages 0", "max_queued_messages 100000", "max_queued_bytes 0"},
        .logPackets = false});
    ASSERT_TRUE(broker.ready());
    StrandSession subscriber(broker.port());
    ReceivedNumbers received;
    subscriber.run([&] {
        if (GetParam().sqliteStore) {
            subscriber.session->setPersistence(std::make_shared<MQTTCoreDataPersistence>());
        } else {
            subscriber.session->setPersistence(std::make_shared<MQTTInMemoryPersistence>());
        }
        subscriber.session->setProtocolLevel(GetParam().level);
        subscriber.session->setClientId(std::string("stream-") + GetParam().name);
        // Not clean: a connection ended for a message the store could not
        // keep gets it again on the next one.
        subscriber.session->setCleanSessionFlag(false);
        if (GetParam().level == 5) {
            // At level 5 a session outlives its connection only for its
            // expiry interval.
            MQTTConnectProperties properties;
            properties.sessionExpiryInterval = 600;
            subscriber.session->setConnectProperties(properties);
        }
        subscriber.session->setMessageHandler(
            [&received](std::span<const std::uint8_t> data, const std::string& /*topic*/) { received.add(data); });
    });
    subscriber.connect();
    ASSERT_TRUE(subscriber.waitForResults(1));
    ASSERT_EQ(subscriber.results.events().back(), "connect ok");
    subscriber.run([&] { subscriber.session->subscribeToTopic(kStreamTopic, 2); });
    ASSERT_TRUE(waitFor([&] {
        const auto lines = subscriber.delegate->lines();
        return std::any_of(lines.begin(), lines.end(), [](const auto& line) { return line.starts_with("suback"); });
    }));

    ChildProcess publisher;
    ASSERT_TRUE(publisher.start({"sh", "-c",
                                 "seq 1 " + std::to_string(kStreamLength) + " | mosquitto_pub -h 127.0.0.1 -p " +
                                     std::to_string(broker.port()) + " -q 2 -l -t " + kStreamTopic}));
    // A connection the session ended is taken up again, as a session
    // manager would; every message must still arrive. The whole stream takes
    // some twenty connections, so it gets twice the usual bound.
    int reconnects = 0;
    const bool complete = waitFor(
        [&] {
            if (received.size() >= static_cast<std::size_t>(kStreamLength)) return true;
            if (subscriber.run([&] { return subscriber.session->status(); }) == MQTTSessionStatus::closed) {
                ++reconnects;
                subscriber.connect();
            }
            return false;
        },
        2 * kWaitBound);
    ASSERT_TRUE(publisher.waitForExit(std::chrono::seconds(30)));
    EXPECT_TRUE(complete) << received.size() << " of " << kStreamLength << " after " << reconnects << " reconnects";
    if (!complete) {
        const auto lines = subscriber.delegate->lines();
        for (std::size_t i = lines.size() > 15 ? lines.size() - 15 : 0; i < lines.size(); ++i)
            ADD_FAILURE() << lines[i];
        std::string ours;
        std::istringstream log(broker.log());
        for (std::string line; std::getline(log, line);) {
            if (line.find("stream-") != std::string::npos) ours += line + "\n";
        }
        ADD_FAILURE() << ours.substr(ours.size() > 3000 ? ours.size() - 3000 : 0);
    }
    const auto numbers = received.numbers();
    ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kStreamLength));
    for (int index = 0; index < kStreamLength; ++index) {
        ASSERT_EQ(numbers[static_cast<std::size_t>(index)], index + 1) << "at " << index;
    }
    EXPECT_EQ(subscriber.run(
                  [&] { return subscriber.session->persistence()->flowCount(subscriber.session->clientId(), true); }),
              0U);
}

// At level 4 nothing bounds what the broker has in flight, so the store
// fills and the session ends the connection each time; at level 5 this
// mosquitto goes past the Receive Maximum once acknowledgements flow, and
// gets a DISCONNECT 0x93. Either way every connection moves the stream on.
INSTANTIATE_TEST_SUITE_P(Stores, MQTTSessionStreamMosquittoTest,
                         ::testing::Values(StreamCase{"SQLiteLevel4", true, 4}, StreamCase{"MemoryLevel4", false, 4},
                                           StreamCase{"SQLiteLevel5", true, 5}, StreamCase{"MemoryLevel5", false, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace session_stream
}  // namespace ambrell::test
