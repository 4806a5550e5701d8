#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "livedata/mqtt/MQTTInMemoryPersistence.h"
#include "livedata/mqtt/MQTTMessage.h"
#include "livedata/mqtt/MQTTSession.h"
#include "livedata/mqtt/MQTTTransport.h"
#include "tests/livedata/mqtt/MQTTTestBytes.h"

namespace ambrell::test {

// A clock the test moves: timers fire, in due order and on the calling
// thread, only inside advance(). A test that runs the session on a strand
// calls advance() there.
class ManualClock final : public MQTTSessionClock {
public:
    [[nodiscard]] Date now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    [[nodiscard]] std::unique_ptr<MQTTTimer> scheduleTimer(Interval interval, bool repeats,
                                                           const platform::SerialExecutor& /*queue*/,
                                                           std::function<void()> block) override {
        std::lock_guard lock(mutex_);
        auto entry = std::make_shared<Entry>();
        entry->interval = std::chrono::duration_cast<Date::duration>(interval);
        entry->due = now_ + entry->interval;
        entry->repeats = repeats;
        entry->block = std::move(block);
        entries_.push_back(entry);
        return std::make_unique<Timer>(entry);
    }

    void advance(std::chrono::duration<double> by) {
        std::unique_lock lock(mutex_);
        const auto target = now_ + std::chrono::duration_cast<Date::duration>(by);
        while (true) {
            std::shared_ptr<Entry> next;
            for (const auto& entry : entries_) {
                if (entry->alive && entry->due <= target && (!next || entry->due < next->due)) next = entry;
            }
            if (!next) break;
            now_ = next->due;
            if (next->repeats) next->due += next->interval;
            else next->alive = false;
            auto block = next->block;
            lock.unlock();
            block();
            lock.lock();
        }
        now_ = target;
        std::erase_if(entries_, [](const auto& entry) { return !entry->alive; });
    }

    // Timers neither fired (one-shot) nor invalidated.
    [[nodiscard]] std::size_t activeTimers() const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(
            std::count_if(entries_.begin(), entries_.end(), [](const auto& entry) { return entry->alive; }));
    }

private:
    struct Entry {
        Date due;
        Date::duration interval{};
        bool repeats = false;
        bool alive = true;
        std::function<void()> block;
    };
    struct Timer final : MQTTTimer {
        explicit Timer(std::shared_ptr<Entry> entry) : entry(std::move(entry)) {}
        ~Timer() override { invalidate(); }
        void invalidate() override { entry->alive = false; }
        std::shared_ptr<Entry> entry;
    };

    mutable std::mutex mutex_;
    Date now_{std::chrono::seconds(1'800'000'000)};
    std::vector<std::shared_ptr<Entry>> entries_;
};

// A transport the test plays the broker's side of, on the test's thread:
// what the session sends is kept frame by frame.
class FakeTransport final : public MQTTTransport {
public:
    void open() override {
        ++opens;
        setState(MQTTTransportState::opening);
    }
    void close() override {
        ++closes;
        setState(MQTTTransportState::closing);
    }
    bool send(std::span<const std::uint8_t> bytes) override {
        if (!accepting || state() != MQTTTransportState::open) return false;
        sent.emplace_back(bytes.begin(), bytes.end());
        return true;
    }

    void didOpen() {
        setState(MQTTTransportState::open);
        if (auto delegate = this->delegate()) delegate->mqttTransportDidOpen(*this);
    }
    void receive(const Bytes& bytes) {
        if (auto delegate = this->delegate()) delegate->mqttTransportDidReceiveMessage(*this, bytes);
    }
    void receive(std::string_view hex) { receive(parseHex(hex)); }
    void fail(const platform::NSError& error) {
        if (auto delegate = this->delegate()) delegate->mqttTransportDidFailWithError(*this, error);
    }
    void peerClose() {
        if (auto delegate = this->delegate()) delegate->mqttTransportDidClose(*this);
    }

    // The frames sent since the last call, as hex.
    std::vector<std::string> takeSent() {
        std::vector<std::string> frames;
        for (const auto& frame : sent) frames.push_back(printHex(frame));
        sent.clear();
        return frames;
    }

    int opens = 0;
    int closes = 0;
    // False: send refuses, as a transport whose output side failed.
    bool accepting = true;
    std::vector<Bytes> sent;
};

// Writes what the session tells its delegate, one line per call.
class RecordingDelegate final : public MQTTSessionDelegate {
public:
    void newMessage(MQTTSession& /*session*/, Payload data, const std::string& topic, std::uint8_t qos, bool retained,
                    std::uint16_t mid) override {
        add("message " + topic + " '" + std::string(data.begin(), data.end()) + "' q" + std::to_string(qos) +
            (retained ? " retained" : "") + " mid " + std::to_string(mid));
    }
    std::optional<bool> newMessageWithFeedback(MQTTSession& /*session*/, Payload /*data*/, const std::string& /*topic*/,
                                               std::uint8_t /*qos*/, bool /*retained*/,
                                               std::uint16_t /*mid*/) override {
        return feedback;
    }
    void handleEvent(MQTTSession& /*session*/, MQTTSessionEvent event, const MQTTOptionalError& error) override {
        add("event " + std::to_string(static_cast<int>(event)) + describe(error));
    }
    void connected(MQTTSession& /*session*/) override { add("connected"); }
    void connected(MQTTSession& /*session*/, bool sessionPresent) override {
        add(std::string("connected present ") + (sessionPresent ? "1" : "0"));
    }
    void connectionRefused(MQTTSession& /*session*/, const platform::NSError& error) override {
        add("refused" + describe(error));
    }
    void connectionClosed(MQTTSession& /*session*/) override { add("closed"); }
    void connectionError(MQTTSession& /*session*/, const platform::NSError& error) override {
        add("connection error" + describe(error));
    }
    void protocolError(MQTTSession& /*session*/, const platform::NSError& error) override {
        add("protocol error" + describe(error));
    }
    void messageDelivered(MQTTSession& /*session*/, std::uint16_t msgID) override {
        add("delivered " + std::to_string(msgID));
    }
    void subAckReceived(MQTTSession& /*session*/, std::uint16_t msgID,
                        const std::vector<std::uint8_t>& grantedQoss) override {
        add("suback " + std::to_string(msgID) + " " + printHex(grantedQoss));
    }
    void unsubAckReceived(MQTTSession& /*session*/, std::uint16_t msgID) override {
        add("unsuback " + std::to_string(msgID));
    }
    void received(MQTTSession& /*session*/, MQTTCommandType type, std::uint8_t /*qos*/, bool /*retained*/,
                  bool /*duped*/, std::uint16_t mid, Payload /*data*/) override {
        if (recordReceived) add("received " + std::to_string(static_cast<int>(type)) + " mid " + std::to_string(mid));
    }
    bool ignoreReceived(MQTTSession& /*session*/, MQTTCommandType type, std::uint8_t /*qos*/, bool /*retained*/,
                        bool /*duped*/, std::uint16_t /*mid*/, Payload /*data*/) override {
        return type == ignoredType;
    }
    void buffered(MQTTSession& /*session*/, std::uint64_t flowingIn, std::uint64_t flowingOut) override {
        std::lock_guard lock(mutex_);
        lastBuffered = {flowingIn, flowingOut};
    }

    static std::string describe(const MQTTOptionalError& error) {
        return error ? " " + std::to_string(error->code) + " " + error->localizedDescription() : "";
    }

    void add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    // The lines since the last call.
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }
    [[nodiscard]] std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    std::optional<bool> feedback;
    bool recordReceived = false;
    // Packets of this type are dropped unhandled.
    MQTTCommandType ignoredType = MQTTCommandType::reserved;
    std::pair<std::uint64_t, std::uint64_t> lastBuffered{};

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Handler results as text, for comparing in one line.
inline std::string errorText(const MQTTOptionalError& error) {
    return error ? std::to_string(error->code) + " " + error->localizedDescription() : "ok";
}

// A session over a FakeTransport with a ManualClock: the test plays the
// broker on its own thread, every step synchronous.
class SessionFixture {
public:
    SessionFixture() {
        session->setClock(clock);
        session->setTransport(transport);
        session->setDelegate(delegate);
        session->setClientId("client-1");
    }

    // Connects and lets the transport open; the CONNECT is left in `sent`.
    void connect() {
        session->connectWithConnectHandler(
            [this](const MQTTOptionalError& error) { results.push_back(errorText(error)); });
        transport->didOpen();
    }
    // Connects with the CONNACK given and forgets what was said so far.
    void connectAccepted(std::string_view connack = "20 02 00 00") {
        connect();
        transport->receive(connack);
        transport->takeSent();
        delegate->take();
        results.clear();
    }
    MQTTPublishHandler recordResult(std::string name) {
        return [this, name](const MQTTOptionalError& error) { results.push_back(name + " " + errorText(error)); };
    }
    std::shared_ptr<MQTTFlow> outgoingFlow(std::uint16_t mid) const {
        return session->persistence()->flowforClientId(session->clientId(), false, mid);
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<MQTTSession> session = std::make_shared<MQTTSession>();
    // What handlers were called with, in order.
    std::vector<std::string> results;
};

}  // namespace ambrell::test
