#pragma once

#include <boost/asio/post.hpp>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/livedata/mqtt/MQTTSessionHarness.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

// A session on a strand of its own with a fresh socket transport per connect.
class StrandSession {
public:
    static constexpr std::chrono::seconds kBound{30};

    explicit StrandSession(int port) : port_(port) {
        session->setQueue(platform::ThreadPool::shared().makeStrand());
        session->setClock(clock);
        session->setDelegate(delegate);
        session->setClientId("strand-client");
    }
    ~StrandSession() {
        run([this] { session->closeWithDisconnectHandler({}); });
    }
    StrandSession(const StrandSession&) = delete;
    StrandSession& operator=(const StrandSession&) = delete;

    // Runs work on the session's strand and waits (bounded) for it.
    template <typename Work>
    auto run(Work work) -> decltype(work()) {
        auto task = std::make_shared<std::packaged_task<decltype(work())()>>(std::move(work));
        auto result = task->get_future();
        boost::asio::post(session->queue().executor(), [task] { (*task)(); });
        if (result.wait_for(kBound) != std::future_status::ready) throw std::runtime_error("strand did not answer");
        return result.get();
    }

    void connect() {
        run([this] {
            auto transport = std::make_shared<MQTTCFSocketTransport>();
            transport->setHost("127.0.0.1");
            transport->setPort(static_cast<std::uint32_t>(port_));
            transport->setQueue(session->queue());
            session->setTransport(transport);
            session->connectWithConnectHandler(
                [this](const MQTTOptionalError& error) { results.add("connect " + errorText(error)); });
        });
    }
    MQTTPublishHandler record(std::string name) {
        return [this, name](const MQTTOptionalError& error) { results.add(name + " " + errorText(error)); };
    }
    bool waitForResults(std::size_t count) {
        return waitFor([&] { return results.events().size() >= count; }, kBound);
    }
    bool waitForStatus(MQTTSessionStatus status) {
        return waitFor([&] { return run([this] { return session->status(); }) == status; }, kBound);
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<MQTTSession> session = std::make_shared<MQTTSession>();
    EventRecorder results;

private:
    int port_;
};

}  // namespace ambrell::test
