#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTData.h"
#include "platform/runtime/Executor.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

// A transport delegate for tests: records the events ("open", "fail",
// "close") and the received bytes, notes any call off the transport's
// queue, and may act on open (before "open" is recorded).
class MQTTTransportRecorder : public MQTTTransportDelegate {
public:
    std::function<void(MQTTTransport&)> onOpen;
    // Let go when the failure is told, as a session drops a failed transport.
    std::shared_ptr<MQTTTransport> heldUntilFailure;

    void mqttTransportDidOpen(MQTTTransport& transport) override {
        if (onOpen) onOpen(transport);
        add(transport, "open");
    }
    void mqttTransportDidReceiveMessage(MQTTTransport& transport, std::span<const std::uint8_t> data) override {
        std::lock_guard lock(mutex_);
        offQueue_ = offQueue_ || !transport.queue().runningInThisThread();
        received_.insert(received_.end(), data.begin(), data.end());
    }
    void mqttTransportDidFailWithError(MQTTTransport& transport, const platform::NSError& error) override {
        {
            std::lock_guard lock(mutex_);
            error_ = error;
        }
        add(transport, "fail");
        heldUntilFailure.reset();
    }
    void mqttTransportDidClose(MQTTTransport& transport) override { add(transport, "close"); }

    [[nodiscard]] std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    [[nodiscard]] Bytes received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // The failure's error; an empty one before any.
    [[nodiscard]] platform::NSError error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }
    [[nodiscard]] bool offQueue() const {
        std::lock_guard lock(mutex_);
        return offQueue_;
    }
    bool waitForEvents(std::size_t count) const {
        return waitFor([&] { return events().size() >= count; });
    }
    bool waitForReceived(std::size_t count) const {
        return waitFor([&] { return received().size() >= count; });
    }

private:
    void add(MQTTTransport& transport, std::string event) {
        std::lock_guard lock(mutex_);
        offQueue_ = offQueue_ || !transport.queue().runningInThisThread();
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    Bytes received_;
    platform::NSError error_;
    bool offQueue_ = false;
};

}  // namespace ambrell::test
