#include "tests/support/ScriptedBroker.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

namespace ambrell::test {

namespace asio = boost::asio;
using asio::ip::tcp;
using Bytes = ScriptedBroker::Bytes;

constexpr auto kNoThrow = asio::as_tuple(asio::use_awaitable);

struct ScriptedBroker::Script::Step {
    enum class Kind { expect, expectFrame, answerFrame, write, waitForSignal, goSilent, close, expectClosed };
    Kind kind = Kind::expect;
    Bytes bytes;
    std::vector<std::size_t> pieces;
    std::function<bool(const Bytes&)> check;
    std::string text;
    std::function<Bytes(const Bytes&)> answer;
};

using Step = ScriptedBroker::Script::Step;

namespace {

std::shared_ptr<Step> stepOf(Step::Kind kind) {
    auto step = std::make_shared<Step>();
    step->kind = kind;
    return step;
}

}  // namespace

ScriptedBroker::Script& ScriptedBroker::Script::expect(Bytes bytes) {
    auto step = stepOf(Step::Kind::expect);
    step->bytes = std::move(bytes);
    steps_.push_back(std::move(step));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::expectFrame(std::function<bool(const Bytes&)> check, std::string what) {
    auto step = stepOf(Step::Kind::expectFrame);
    step->check = std::move(check);
    step->text = std::move(what);
    steps_.push_back(std::move(step));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::answerFrame(std::function<Bytes(const Bytes&)> answer,
                                                            std::string what) {
    auto step = stepOf(Step::Kind::answerFrame);
    step->answer = std::move(answer);
    step->text = std::move(what);
    steps_.push_back(std::move(step));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::write(Bytes bytes, std::vector<std::size_t> pieces) {
    auto step = stepOf(Step::Kind::write);
    step->bytes = std::move(bytes);
    step->pieces = std::move(pieces);
    steps_.push_back(std::move(step));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::waitForSignal(std::string name) {
    auto step = stepOf(Step::Kind::waitForSignal);
    step->text = std::move(name);
    steps_.push_back(std::move(step));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::goSilent() {
    steps_.push_back(stepOf(Step::Kind::goSilent));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::close() {
    steps_.push_back(stepOf(Step::Kind::close));
    return *this;
}

ScriptedBroker::Script& ScriptedBroker::Script::expectClosed() {
    steps_.push_back(stepOf(Step::Kind::expectClosed));
    return *this;
}

std::string ScriptedBroker::hexText(const Bytes& bytes) {
    std::string text;
    for (const auto byte : bytes) {
        std::array<char, 4> digits{};
        std::snprintf(digits.data(), digits.size(), "%02x", static_cast<unsigned>(byte));
        if (!text.empty()) text += ' ';
        text += digits.data();
    }
    return text.empty() ? "(nothing)" : text;
}

namespace {

struct Connection {
    std::size_t index = 0;
    Bytes received;
    bool scriptEnded = false;
    bool clientClosed = false;
};

}  // namespace

struct ScriptedBroker::Impl {
    // Declared before the io_context: pending coroutines, destroyed with it,
    // still reach these.
    std::optional<asio::ssl::context> tls;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<Script> scripts;
    std::vector<std::shared_ptr<Connection>> connections;
    std::vector<std::string> failures;

    // Touched on the broker's thread only.
    std::set<std::string> signalled;
    std::multimap<std::string, asio::steady_timer*> waiters;
    std::map<std::size_t, tcp::socket*> openSockets;

    asio::io_context io;
    tcp::acceptor acceptor{io};
    int port = 0;
    std::thread thread;

    template <typename Change>
    void update(Change&& change) {
        {
            std::lock_guard lock(mutex);
            change();
        }
        changed.notify_all();
    }

    template <typename Condition>
    bool waitUntil(Bound bound, Condition&& condition) const {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, bound, condition);
    }

    void fail(const Connection& connection, std::size_t step, const std::string& text) {
        update([&] {
            failures.push_back("connection " + std::to_string(connection.index) + ", step " + std::to_string(step) +
                               ": " + text);
        });
    }

    asio::awaitable<void> acceptLoop();
    asio::awaitable<void> serve(tcp::socket socket, std::shared_ptr<Connection> connection, Script script);
    template <typename Stream>
    asio::awaitable<void> play(Stream& stream, tcp::socket& socket, Connection& connection, const Script& script);
    template <typename Stream>
    asio::awaitable<bool> fill(Stream& stream, Connection& connection, Bytes& buffer, std::size_t count);
    template <typename Stream>
    asio::awaitable<std::optional<Bytes>> readFrame(Stream& stream, Connection& connection, Bytes& buffer);
    asio::awaitable<void> awaitSignal(const std::string& name);
};

// Keeps a connection's socket reachable by closeAll() while it is served.
class OpenSocket {
public:
    OpenSocket(std::map<std::size_t, tcp::socket*>& sockets, std::size_t index, tcp::socket& socket)
        : sockets_(sockets), index_(index) {
        sockets_[index_] = &socket;
    }
    ~OpenSocket() { sockets_.erase(index_); }
    OpenSocket(const OpenSocket&) = delete;
    OpenSocket& operator=(const OpenSocket&) = delete;

private:
    std::map<std::size_t, tcp::socket*>& sockets_;
    std::size_t index_;
};

asio::awaitable<void> ScriptedBroker::Impl::acceptLoop() {
    while (acceptor.is_open()) {
        auto [error, socket] = co_await acceptor.async_accept(kNoThrow);
        if (error) {
            if (!acceptor.is_open()) co_return;
            continue;
        }
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        auto connection = std::make_shared<Connection>();
        Script script;
        update([&] {
            connection->index = connections.size();
            connections.push_back(connection);
            if (!scripts.empty()) {
                script = std::move(scripts.front());
                scripts.pop_front();
            }
        });
        asio::co_spawn(io, serve(std::move(socket), connection, std::move(script)), asio::detached);
    }
}

asio::awaitable<void> ScriptedBroker::Impl::serve(tcp::socket socket, std::shared_ptr<Connection> connection,
                                                  Script script) {
    if (!tls) {
        OpenSocket open(openSockets, connection->index, socket);
        co_await play(socket, socket, *connection, script);
    } else {
        asio::ssl::stream<tcp::socket> stream(std::move(socket), *tls);
        OpenSocket open(openSockets, connection->index, stream.next_layer());
        auto [error] = co_await stream.async_handshake(asio::ssl::stream_base::server, kNoThrow);
        if (error) {
            fail(*connection, 0, "TLS handshake failed: " + error.message());
            update([&] { connection->scriptEnded = connection->clientClosed = true; });
            co_return;
        }
        co_await play(stream, stream.next_layer(), *connection, script);
    }
    boost::system::error_code ignored;
    socket.close(ignored);
}

template <typename Stream>
asio::awaitable<bool> ScriptedBroker::Impl::fill(Stream& stream, Connection& connection, Bytes& buffer,
                                                 std::size_t count) {
    std::array<std::uint8_t, 4096> chunk{};
    while (buffer.size() < count) {
        auto [error, read] = co_await stream.async_read_some(asio::buffer(chunk), kNoThrow);
        if (read > 0) {
            buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(read));
            update([&] { connection.received.insert(connection.received.end(), chunk.begin(), chunk.begin() + read); });
        }
        if (error) {
            // The broker's own close is not the client's.
            if (error != asio::error::operation_aborted && error != asio::error::bad_descriptor) {
                update([&] { connection.clientClosed = true; });
            }
            co_return false;
        }
    }
    co_return true;
}

template <typename Stream>
asio::awaitable<std::optional<Bytes>> ScriptedBroker::Impl::readFrame(Stream& stream, Connection& connection,
                                                                      Bytes& buffer) {
    // Fixed header, then a remaining length of at most four bytes.
    std::size_t remaining = 0;
    std::size_t lengthBytes = 0;
    for (bool more = true; more;) {
        if (lengthBytes == 4) co_return std::nullopt;
        if (!co_await fill(stream, connection, buffer, 2 + lengthBytes)) co_return std::nullopt;
        const auto byte = buffer[1 + lengthBytes];
        remaining |= static_cast<std::size_t>(byte & 0x7F) << (7 * lengthBytes);
        ++lengthBytes;
        more = (byte & 0x80) != 0;
    }
    const auto size = 1 + lengthBytes + remaining;
    if (!co_await fill(stream, connection, buffer, size)) co_return std::nullopt;
    Bytes frame(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    co_return frame;
}

asio::awaitable<void> ScriptedBroker::Impl::awaitSignal(const std::string& name) {
    if (signalled.count(name) != 0) co_return;
    asio::steady_timer timer(io, asio::steady_timer::time_point::max());
    const auto waiter = waiters.emplace(name, &timer);
    co_await timer.async_wait(kNoThrow);
    waiters.erase(waiter);
}

template <typename Stream>
asio::awaitable<void> ScriptedBroker::Impl::play(Stream& stream, tcp::socket& socket, Connection& connection,
                                                 const Script& script) {
    Bytes buffer;
    std::size_t number = 0;
    const auto end = [&] { update([&] { connection.scriptEnded = true; }); };
    const auto closeNow = [&] {
        boost::system::error_code ignored;
        socket.close(ignored);
        end();
    };
    bool silent = false;
    for (const auto& step : script.steps_) {
        ++number;
        switch (step->kind) {
            case Step::Kind::expect: {
                const auto count = step->bytes.size();
                const bool complete = co_await fill(stream, connection, buffer, count);
                const Bytes got(buffer.begin(),
                                buffer.begin() + static_cast<std::ptrdiff_t>(std::min(count, buffer.size())));
                if (!complete || got != step->bytes) {
                    fail(connection, number,
                         "expected " + hexText(step->bytes) + ", got " + hexText(got) +
                             (complete ? "" : " and a close"));
                    closeNow();
                    co_return;
                }
                buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
                break;
            }
            case Step::Kind::expectFrame:
            case Step::Kind::answerFrame: {
                auto frame = co_await readFrame(stream, connection, buffer);
                const bool accepted = frame && (!step->check || step->check(*frame));
                if (!accepted) {
                    fail(connection, number, "expected " + step->text + ", got " + hexText(frame ? *frame : buffer));
                    closeNow();
                    co_return;
                }
                if (step->kind == Step::Kind::expectFrame) break;
                const auto answer = step->answer(*frame);
                if (answer.empty()) break;
                auto [error, written] = co_await asio::async_write(stream, asio::buffer(answer), kNoThrow);
                if (error) {
                    fail(connection, number, "write failed: " + error.message());
                    closeNow();
                    co_return;
                }
                break;
            }
            case Step::Kind::write: {
                std::size_t offset = 0;
                auto pieces = step->pieces;
                pieces.push_back(step->bytes.size());
                for (const auto piece : pieces) {
                    const auto length = std::min(piece, step->bytes.size() - offset);
                    if (length == 0) continue;
                    auto [error, written] =
                        co_await asio::async_write(stream, asio::buffer(step->bytes.data() + offset, length), kNoThrow);
                    if (error) {
                        fail(connection, number, "write failed: " + error.message());
                        closeNow();
                        co_return;
                    }
                    offset += written;
                }
                break;
            }
            case Step::Kind::waitForSignal: co_await awaitSignal(step->text); break;
            case Step::Kind::goSilent: silent = true; break;
            case Step::Kind::close: closeNow(); co_return;
            case Step::Kind::expectClosed: {
                const bool sentMore = co_await fill(stream, connection, buffer, buffer.size() + 1) || !buffer.empty();
                if (sentMore) {
                    fail(connection, number, "expected a close, got " + hexText(buffer));
                    closeNow();
                    co_return;
                }
                end();
                co_return;
            }
        }
        if (silent) break;
    }
    end();
    // Whatever comes after the script is recorded until the client closes.
    while (co_await fill(stream, connection, buffer, buffer.size() + 1)) {
    }
}

ScriptedBroker::ScriptedBroker(std::optional<Tls> tls) : impl_(std::make_shared<Impl>()) {
    if (tls) {
        impl_->tls.emplace(asio::ssl::context::tls_server);
        impl_->tls->use_certificate_chain_file(tls->certificateChain.string());
        impl_->tls->use_private_key_file(tls->privateKey.string(), asio::ssl::context::pem);
    }
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), 0);
    impl_->acceptor.open(endpoint.protocol());
    impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    impl_->acceptor.bind(endpoint);
    impl_->acceptor.listen();
    impl_->port = impl_->acceptor.local_endpoint().port();
    asio::co_spawn(impl_->io, impl_->acceptLoop(), asio::detached);
    impl_->thread = std::thread([impl = impl_.get()] { impl->io.run(); });
}

ScriptedBroker::~ScriptedBroker() {
    impl_->io.stop();
    impl_->thread.join();
}

int ScriptedBroker::port() const { return impl_->port; }

void ScriptedBroker::addConnection(Script script) {
    impl_->update([&] { impl_->scripts.push_back(std::move(script)); });
}

void ScriptedBroker::signal(const std::string& name) {
    asio::post(impl_->io, [impl = impl_.get(), name] {
        impl->signalled.insert(name);
        const auto [first, last] = impl->waiters.equal_range(name);
        for (auto waiter = first; waiter != last; ++waiter) waiter->second->cancel();
    });
}

void ScriptedBroker::closeAll() {
    struct Done {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
    };
    auto done = std::make_shared<Done>();
    asio::post(impl_->io, [done, impl = impl_.get()] {
        boost::system::error_code ignored;
        impl->acceptor.close(ignored);
        for (auto& [index, socket] : impl->openSockets) socket->close(ignored);
        for (auto& [name, timer] : impl->waiters) timer->cancel();
        {
            std::lock_guard lock(done->mutex);
            done->closed = true;
        }
        done->changed.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->changed.wait_for(lock, kDefaultBound, [&] { return done->closed; });
}

std::size_t ScriptedBroker::connectionCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->connections.size();
}

bool ScriptedBroker::waitForConnections(std::size_t count, Bound bound) const {
    return impl_->waitUntil(bound, [&] { return impl_->connections.size() >= count; });
}

bool ScriptedBroker::waitForScriptEnd(std::size_t index, Bound bound) const {
    return impl_->waitUntil(
        bound, [&] { return index < impl_->connections.size() && impl_->connections[index]->scriptEnded; });
}

bool ScriptedBroker::waitForClientClose(std::size_t index, Bound bound) const {
    return impl_->waitUntil(
        bound, [&] { return index < impl_->connections.size() && impl_->connections[index]->clientClosed; });
}

bool ScriptedBroker::waitForReceived(std::size_t index, std::size_t count, Bound bound) const {
    return impl_->waitUntil(bound, [&] {
        return index < impl_->connections.size() && impl_->connections[index]->received.size() >= count;
    });
}

bool ScriptedBroker::clientClosed(std::size_t index) const {
    std::lock_guard lock(impl_->mutex);
    return index < impl_->connections.size() && impl_->connections[index]->clientClosed;
}

Bytes ScriptedBroker::received(std::size_t index) const {
    std::lock_guard lock(impl_->mutex);
    return index < impl_->connections.size() ? impl_->connections[index]->received : Bytes{};
}

std::vector<std::string> ScriptedBroker::failures() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->failures;
}

}  // namespace ambrell::test
