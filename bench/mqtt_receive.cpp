// Receiving a stream of small messages from a real mosquitto: our session
// beside mosquitto_sub, both subscribed to the same topic while one raw
// publisher sends N pre-encoded 100-byte messages once. The rate of each is
// N over the time from the first byte published to its N-th message; the
// "ratio" counter is ours over mosquitto_sub's (above 1: we are faster), the
// median of the runs' ratios. Every run checks that each subscriber got the N
// messages with the payload sent, and the closing line per setting gives the
// median of the runs' ratios over every repetition.
// At QoS 2 the broker takes only a few unfinished messages from the
// publisher at a time, so the publisher's round trips pace the stream.
// Argument "store" picks our session's flow store: 0 its default (SQLite in
// memory), 1 the plain in-memory store.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio/post.hpp>

#include "bench/BenchSupport.h"
#include "livedata/mqtt/MQTTCFSocketTransport.h"
#include "livedata/mqtt/MQTTInMemoryPersistence.h"
#include "livedata/mqtt/MQTTMessage.h"
#include "livedata/mqtt/MQTTSession.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/Subprocess.h"

extern char** environ;  // NOLINT(readability-identifier-naming): POSIX

namespace {

using ambrell::Bytes;
using ambrell::MQTTMessage;
using Clock = std::chrono::steady_clock;

constexpr const char* kTopic = "bench/data";
constexpr const char* kReadyTopic = "bench/ready";
constexpr std::size_t kPayloadSize = 100;
constexpr auto kBound = std::chrono::seconds(30);

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

// What every message carries: printable, so that mosquitto_sub prints it on one line.
Bytes payload() {
    Bytes bytes(kPayloadSize);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        bytes[index] = static_cast<std::uint8_t>('a' + index % 26);
    }
    return bytes;
}

std::string payloadText() {
    const Bytes bytes = payload();
    return {bytes.begin(), bytes.end()};
}

// A moment that is set once and waited for.
class Moment {
public:
    void set() {
        std::lock_guard lock(mutex_);
        if (!at_) at_ = Clock::now();
        changed_.notify_all();
    }
    std::optional<Clock::time_point> wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kBound, [&] { return at_.has_value(); });
        return at_;
    }
    void reset() {
        std::lock_guard lock(mutex_);
        at_.reset();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Clock::time_point> at_;
};

void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const auto written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written <= 0) fail("publisher write failed");
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) fail("publisher connect");
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A broker that stops answering ends the run instead of hanging it.
    const timeval bound{.tv_sec = 30, .tv_usec = 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    return fd;
}

// Sends the pre-encoded stream over a plain socket, answering each PUBREC
// with a PUBREL; returns once the broker has taken every message.
void publishStream(int port, const Bytes& stream, std::size_t count, std::uint8_t qos) {
    const std::size_t frameSize = stream.size() / count;
    const int fd = connectTo(port);
    const auto connect = MQTTMessage::connectMessageWithClientId({.clientId = "bench-publisher"})->wireFormat();
    writeAll(fd, connect.data(), connect.size());
    std::uint8_t connack[4];
    if (::recv(fd, connack, sizeof connack, MSG_WAITALL) != 4 || connack[3] != 0) fail("publisher not accepted");

    if (qos == 0) {
        writeAll(fd, stream.data(), stream.size());
    } else {
        // The broker takes at most kWindow unfinished QoS 2 messages from a
        // client and drops one that sends more: the stream is paced by it.
        constexpr std::size_t kWindow = 16;
        std::mutex mutex;
        std::condition_variable released;
        std::size_t completed = 0;
        bool broken = false;
        std::thread acks([&] {
            // At this level every answer to a QoS 2 PUBLISH is 4 bytes.
            std::uint8_t ack[4];
            while (true) {
                if (::recv(fd, ack, sizeof ack, MSG_WAITALL) != 4) {
                    std::lock_guard lock(mutex);
                    broken = true;
                    released.notify_all();
                    return;
                }
                std::lock_guard lock(mutex);
                if (ack[0] == 0x50) {
                    const std::uint8_t pubrel[4] = {0x62, 0x02, ack[2], ack[3]};
                    writeAll(fd, pubrel, sizeof pubrel);
                } else if (ack[0] == 0x70 && ++completed == count) {
                    released.notify_all();
                    return;
                } else {
                    released.notify_all();
                }
            }
        });
        std::size_t sent = 0;
        std::unique_lock lock(mutex);
        while (sent < count && !broken) {
            released.wait(lock, [&] { return broken || sent - completed < kWindow; });
            const std::size_t frames = std::min(kWindow - (sent - completed), count - sent);
            if (broken || frames == 0) continue;
            writeAll(fd, stream.data() + sent * frameSize, frames * frameSize);
            sent += frames;
        }
        released.wait(lock, [&] { return broken || completed == count; });
        lock.unlock();
        acks.join();
        if (broken) fail("the broker closed the publisher");
    }
    const std::uint8_t disconnect[2] = {0xE0, 0x00};
    writeAll(fd, disconnect, sizeof disconnect);
    ::close(fd);
}

// mosquitto_sub printing each message on a line of a pipe we read: the
// first line is the retained ready message, which says it is subscribed.
class PeerSubscriber {
public:
    PeerSubscriber(int port, std::size_t count, std::uint8_t qos) {
        int fds[2];
        if (::pipe(fds) != 0) fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::vector<std::string> arguments = {"mosquitto_sub",
                                                    "-h",
                                                    "127.0.0.1",
                                                    "-p",
                                                    std::to_string(port),
                                                    "-q",
                                                    std::to_string(qos),
                                                    "-C",
                                                    std::to_string(count + 1),
                                                    "-t",
                                                    kReadyTopic,
                                                    "-t",
                                                    kTopic};
        std::vector<char*> argv;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        // The pool's threads block signals; the child starts with none blocked.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        const int spawned = posix_spawnp(&pid_, "mosquitto_sub", &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) fail("spawn");
        ::close(fds[1]);
        reader_ = std::thread([this, fd = fds[0], count] {
            const std::string expected = payloadText();
            std::vector<char> buffer(1 << 16);
            std::string line;
            std::size_t lines = 0;
            ssize_t got = 0;
            while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
                for (ssize_t index = 0; index < got; ++index) {
                    const char next = buffer[static_cast<std::size_t>(index)];
                    if (next != '\n') {
                        line += next;
                        continue;
                    }
                    // The first line is the ready message.
                    if (++lines > 1 && line != expected) ++wrong;
                    line.clear();
                    if (lines == 1) ready.set();
                    if (lines == count + 1) done.set();
                    received = lines;
                }
            }
            ::close(fd);
        });
    }
    ~PeerSubscriber() {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        reader_.join();
    }
    PeerSubscriber(const PeerSubscriber&) = delete;
    PeerSubscriber& operator=(const PeerSubscriber&) = delete;

    Moment ready;
    Moment done;
    std::atomic<std::size_t> received{0};
    // Messages whose payload was not the one sent.
    std::atomic<std::size_t> wrong{0};

private:
    pid_t pid_ = -1;
    std::thread reader_;
};

// Counts packets by type, each way.
class PacketCounter final : public ambrell::MQTTSessionDelegate {
public:
    void sending(ambrell::MQTTSession&, ambrell::MQTTCommandType type, std::uint8_t, bool, bool, std::uint16_t,
                 Payload) override {
        ++out[static_cast<std::size_t>(type) & 15];
    }
    void received(ambrell::MQTTSession&, ambrell::MQTTCommandType type, std::uint8_t, bool, bool, std::uint16_t,
                  Payload) override {
        ++in[static_cast<std::size_t>(type) & 15];
    }
    std::string text() const {
        std::string line;
        for (std::size_t type = 0; type < 16; ++type) {
            if (in[type] || out[type]) {
                line += " t" + std::to_string(type) + " in " + std::to_string(in[type].load()) + " out " +
                        std::to_string(out[type].load());
            }
        }
        return line;
    }
    std::atomic<std::size_t> in[16]{};
    std::atomic<std::size_t> out[16]{};
};

// Our session on a strand of its own, subscribed for the whole run.
class OurSubscriber {
public:
    OurSubscriber(int port, std::uint8_t qos, std::int64_t store) {
        session_->setQueue(ambrell::platform::ThreadPool::shared().makeStrand());
        session_->setClientId("bench-ours");
        session_->setDelegate(counter);
        // Store 0: the session's own (SQLite in memory); 1: the plain
        // in-memory store.
        if (store == 1) session_->setPersistence(std::make_shared<ambrell::MQTTInMemoryPersistence>());
        session_->setMessageHandler([this](std::span<const std::uint8_t> data, const std::string& topic) {
            if (topic != kTopic) return;
            if (!std::equal(data.begin(), data.end(), payload_.begin(), payload_.end())) ++wrong_;
            if (++received_ == expected_.load()) done.set();
        });
        Moment subscribed;
        post([&] {
            auto transport = std::make_shared<ambrell::MQTTCFSocketTransport>();
            transport->setHost("127.0.0.1");
            transport->setPort(static_cast<std::uint32_t>(port));
            transport->setQueue(session_->queue());
            session_->setTransport(transport);
            session_->connectWithConnectHandler([this, qos, &subscribed](const ambrell::MQTTOptionalError& error) {
                if (error) return;
                session_->subscribeToTopic(
                    kTopic, qos, [&subscribed](const ambrell::MQTTOptionalError&, const auto&) { subscribed.set(); });
            });
        });
        if (!subscribed.wait()) fail("our session did not subscribe");
    }
    ~OurSubscriber() {
        Moment closed;
        post([&] {
            session_->closeWithDisconnectHandler({});
            closed.set();
        });
        closed.wait();
    }
    OurSubscriber(const OurSubscriber&) = delete;
    OurSubscriber& operator=(const OurSubscriber&) = delete;

    [[nodiscard]] std::size_t received() const { return received_.load(); }
    [[nodiscard]] std::size_t wrong() const { return wrong_.load(); }
    void expect(std::size_t count) {
        done.reset();
        received_ = 0;
        wrong_ = 0;
        expected_ = count;
    }

    Moment done;
    std::shared_ptr<PacketCounter> counter = std::make_shared<PacketCounter>();

private:
    template <typename Work>
    void post(Work work) {
        boost::asio::post(session_->queue().executor(), std::move(work));
    }

    std::shared_ptr<ambrell::MQTTSession> session_ = std::make_shared<ambrell::MQTTSession>();
    const Bytes payload_ = payload();
    std::atomic<std::size_t> received_{0};
    std::atomic<std::size_t> wrong_{0};
    std::atomic<std::size_t> expected_{0};
};

Bytes stream(std::size_t count, std::uint8_t qos) {
    const Bytes body = payload();
    Bytes bytes;
    for (std::size_t index = 0; index < count; ++index) {
        const auto mid = qos == 0 ? std::uint16_t{0} : static_cast<std::uint16_t>(index % 65'535 + 1);
        MQTTMessage::publishMessageWithData(body, kTopic, qos, mid, false, false, 4)->appendWireFormat(bytes);
    }
    return bytes;
}

// Per QoS, message count and flow store, over every repetition.
std::map<std::tuple<std::uint8_t, std::size_t, std::int64_t>, ambrell::bench::ArmsInTurns>& runs() {
    static std::map<std::tuple<std::uint8_t, std::size_t, std::int64_t>, ambrell::bench::ArmsInTurns> all;
    return all;
}

void BM_Receive(benchmark::State& state) {
    const auto qos = static_cast<std::uint8_t>(state.range(0));
    const auto count = static_cast<std::size_t>(state.range(1));
    // Nothing is dropped for a subscriber that falls behind.
    ambrell::test::MosquittoBroker broker({.extraConfig = {"max_queued_messages 0"}});
    if (!broker.ready()) {
        state.SkipWithError("mosquitto did not start");
        return;
    }
    const auto port = broker.port();
    ambrell::test::runProgram(
        {"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port), "-r", "-t", kReadyTopic, "-m", "ready"});
    const Bytes frames = stream(count, qos);
    OurSubscriber ours(port, qos, state.range(2));

    // Ours (first) and mosquitto_sub's (second), side by side on one stream each run.
    ambrell::bench::ArmsInTurns& all = runs()[{qos, count, state.range(2)}];
    ambrell::bench::ArmsInTurns repetition;
    for (auto _ : state) {
        ours.expect(count);
        PeerSubscriber peer(port, count, qos);
        if (!peer.ready.wait()) {
            all.fail("mosquitto_sub did not subscribe");
            state.SkipWithError(all.fault.c_str());
            return;
        }
        const auto start = Clock::now();
        publishStream(port, frames, count, qos);
        const auto oursDone = ours.done.wait();
        const auto peerDone = peer.done.wait();
        if (!oursDone || !peerDone || ours.wrong() != 0 || peer.wrong.load() != 0) {
            // Its first line is the ready message.
            all.fail("received: ours " + std::to_string(ours.received()) + " (" + std::to_string(ours.wrong()) +
                     " wrong), mosquitto_sub " + std::to_string(std::max<std::size_t>(peer.received.load(), 1) - 1) +
                     " (" + std::to_string(peer.wrong.load()) + " wrong) of " + std::to_string(count) +
                     ours.counter->text());
            state.SkipWithError(all.fault.c_str());
            return;
        }
        const std::chrono::duration<double> oursTime = *oursDone - start;
        const std::chrono::duration<double> peerTime = *peerDone - start;
        state.SetIterationTime(oursTime.count());
        repetition.firstSeconds.push_back(oursTime.count());
        repetition.secondSeconds.push_back(peerTime.count());
        all.firstSeconds.push_back(oursTime.count());
        all.secondSeconds.push_back(peerTime.count());
    }
    const auto rate = [count](const std::vector<double>& seconds) {
        const double median = ambrell::bench::medianOf(seconds);
        return median > 0 ? static_cast<double>(count) / median : 0.0;
    };
    state.counters["ratio"] = repetition.medianInverseRatio();
    state.counters["ours_msgs_per_s"] = rate(repetition.firstSeconds);
    state.counters["mosquitto_sub_msgs_per_s"] = rate(repetition.secondSeconds);
    state.SetItemsProcessed(static_cast<std::int64_t>(count * state.iterations()));
}
BENCHMARK(BM_Receive)
    ->ArgNames({"qos", "n", "store"})
    ->Args({0, 20'000, 0})
    ->Args({0, 20'000, 1})
    ->Args({2, 20'000, 0})
    ->Args({2, 20'000, 1})
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// Ours over mosquitto_sub's rate: mosquitto_sub's time over ours, run by run.
void printClosingLines() {
    for (const auto& [setting, arms] : runs()) {
        const auto& [qos, count, store] = setting;
        const std::string subject = "QoS " + std::to_string(qos) + ", " + std::to_string(count) + " messages, " +
                                    (store == 1 ? "in-memory store" : "SQLite store");
        if (arms.failed()) {
            std::printf("%s: no ratio, a round went wrong: %s\n", subject.c_str(), arms.fault.c_str());
        } else if (arms.rounds() > 0) {
            std::printf(
                "%s, side by side, medians: ours %.0f msgs/s, mosquitto_sub %.0f msgs/s; ours / mosquitto_sub %.2f of "
                "its rate (median of %zu runs' ratios; above 1: ours faster)\n",
                subject.c_str(), static_cast<double>(count) / ambrell::bench::medianOf(arms.firstSeconds),
                static_cast<double>(count) / ambrell::bench::medianOf(arms.secondSeconds), arms.medianInverseRatio(),
                arms.rounds());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    printClosingLines();
    benchmark::Shutdown();
    return 0;
}
