// The session manager against a real mosquitto that is stopped and started
// again on the same port, with mosquitto_pub as the peer.

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <future>

#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTSessionManager.h"
#include "livedata/mqtt/ReconnectTimer.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/livedata/mqtt/MQTTSessionHarness.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/Subprocess.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {
namespace {

class MessageRecorder final : public MQTTSessionManagerDelegate {
public:
    void sessionManager(MQTTSessionManager& /*manager*/, Payload data, const std::string& topic,
                        bool /*retained*/) override {
        events.add(topic + " " + std::string(data.begin(), data.end()));
    }
    EventRecorder events;
};

// A manager on a strand of its own, driven from the test's thread.
class StrandManager {
public:
    explicit StrandManager(const MosquittoBroker& broker) {
        manager = MQTTSessionManager::initWithPersistence(false, 16, 1024, MQTTCoreDataPersistence::kDefaultMaxSize,
                                                          64.0, false, "level", queue, clock);
        parameters.host = "127.0.0.1";
        parameters.port = broker.port();
        parameters.clientId = "manager-restart";
        run([this] { manager->setDelegate(recorder); });
    }
    ~StrandManager() {
        run([this] {
            manager->disconnectWithDisconnectHandler({});
            manager.reset();
        });
    }
    StrandManager(const StrandManager&) = delete;
    StrandManager& operator=(const StrandManager&) = delete;

    template <typename Work>
    auto run(Work work) -> decltype(work()) {
        auto task = std::make_shared<std::packaged_task<decltype(work())()>>(std::move(work));
        auto result = task->get_future();
        boost::asio::post(queue.executor(), [task] { (*task)(); });
        if (result.wait_for(kWaitBound) != std::future_status::ready) {
            throw std::runtime_error("strand did not answer");
        }
        return result.get();
    }
    bool waitUntilSubscribed(const MQTTSubscriptions& granted) {
        return waitFor([&] {
            return manager->state() == MQTTSessionManagerState::connected &&
                   manager->effectiveSubscriptions() == granted;
        });
    }
    bool waitForMessage(const std::string& line) {
        return waitFor([&] {
            const auto events = recorder->events.events();
            return std::find(events.begin(), events.end(), line) != events.end();
        });
    }

    platform::SerialExecutor queue = platform::ThreadPool::shared().makeStrand();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<MessageRecorder> recorder = std::make_shared<MessageRecorder>();
    std::shared_ptr<MQTTSessionManager> manager;
    MQTTSessionManagerParameters parameters;
};

bool peerPublish(const MosquittoBroker& broker, const std::string& topic, const std::string& message) {
    return runProgram({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-q", "1", "-t", topic,
                       "-m", message})
        .succeeded();
}

TEST(MQTTSessionManagerMosquittoTest, ReconnectsAfterABrokerRestartAndSubscribesAgain) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.ready());
    StrandManager client(broker);
    const MQTTSubscriptions wanted{{"r/one", 1}, {"r/two", 2}, {"s/#", 0}};
    // mosquitto grants every QoS asked for.
    const MQTTSubscriptions granted = wanted;
    client.run([&] {
        client.manager->setSubscriptions(wanted);
        client.manager->connectTo(client.parameters, {});
    });
    ASSERT_TRUE(client.waitUntilSubscribed(granted));
    ASSERT_TRUE(peerPublish(broker, "r/two", "before"));
    EXPECT_TRUE(client.waitForMessage("r/two before"));

    broker.stop();
    EXPECT_TRUE(waitFor([&] {
        return client.run([&] {
            return client.manager->state() == MQTTSessionManagerState::closed &&
                   client.manager->reconnectTimer()->isScheduled();
        });
    }));
    ASSERT_TRUE(broker.restart());
    client.run([&] { client.clock->advance(std::chrono::seconds(1)); });
    ASSERT_TRUE(client.waitUntilSubscribed(granted));
    EXPECT_EQ(client.manager->subscriptions(), wanted);
    ASSERT_TRUE(peerPublish(broker, "s/after", "after"));
    EXPECT_TRUE(client.waitForMessage("s/after after"));
}

}  // namespace
}  // namespace ambrell::test
