#include "livedata/mqtt/MQTTCFSocketTransport.h"

#include "livedata/mqtt/MQTTSocketConnection.h"
#include "livedata/mqtt/MQTTTlsContext.h"

namespace ambrell {

// Ties one socket connection to its transport: the connection reports here,
// and the transport is told only while it lives (held for the length of each
// callback, so the delegate may drop it meanwhile).
struct MQTTCFSocketTransport::Connection final : MQTTSocketConnection::Owner {
    std::weak_ptr<MQTTCFSocketTransport> transport;
    std::shared_ptr<MQTTSocketConnection> socket;

    template <typename Call>
    void tell(MQTTTransportState state, Call&& call) {
        const auto owner = transport.lock();
        if (!owner) return;
        owner->setState(state);
        if (const auto delegate = owner->delegate()) std::forward<Call>(call)(*delegate, *owner);
    }

    void connectionDidOpen() override {
        tell(MQTTTransportState::open,
             [](MQTTTransportDelegate& delegate, MQTTTransport& owner) { delegate.mqttTransportDidOpen(owner); });
    }
    void connectionDidReceive(std::span<const std::uint8_t> data) override {
        const auto owner = transport.lock();
        if (!owner) return;
        if (const auto delegate = owner->delegate()) delegate->mqttTransportDidReceiveMessage(*owner, data);
    }
    void connectionDidFail(const platform::NSError& error) override {
        tell(MQTTTransportState::closing, [&](MQTTTransportDelegate& delegate, MQTTTransport& owner) {
            delegate.mqttTransportDidFailWithError(owner, error);
        });
    }
    void connectionDidClose() override {
        tell(MQTTTransportState::closed,
             [](MQTTTransportDelegate& delegate, MQTTTransport& owner) { delegate.mqttTransportDidClose(owner); });
    }
};

MQTTCFSocketTransport::MQTTCFSocketTransport() = default;

MQTTCFSocketTransport::~MQTTCFSocketTransport() {
    // What was sent still goes out; nothing is reported any more.
    if (connection_) connection_->socket->cancel();
}

std::shared_ptr<MQTTCFSocketTransport::Connection> MQTTCFSocketTransport::currentConnection() const {
    std::lock_guard lock(connectionMutex_);
    return connection_;
}

void MQTTCFSocketTransport::open() {
    setState(MQTTTransportState::opening);
    const auto trust = trustCheck();
    MQTTConnectionSettings settings{host(), port(), tls_, certificates_, trust.usePolicy, trust.policy};

    auto connection = std::make_shared<Connection>();
    connection->transport = std::static_pointer_cast<MQTTCFSocketTransport>(weak_from_this().lock());
    connection->socket = std::make_shared<MQTTSocketConnection>(connection, queue(), std::move(settings));
    std::shared_ptr<Connection> previous;
    {
        std::lock_guard lock(connectionMutex_);
        previous = std::exchange(connection_, connection);
    }
    if (previous) previous->socket->cancel();
    connection->socket->start();
}

void MQTTCFSocketTransport::close() {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(connectionMutex_);
        connection = std::exchange(connection_, nullptr);
    }
    setState(MQTTTransportState::closing);
    if (connection) connection->socket->cancel();
}

bool MQTTCFSocketTransport::send(std::span<const std::uint8_t> bytes) {
    const auto connection = currentConnection();
    return connection && connection->socket->send(bytes);
}

std::size_t MQTTCFSocketTransport::pendingBytes() const {
    const auto connection = currentConnection();
    return connection ? connection->socket->pendingBytes() : 0;
}

std::shared_ptr<const MQTTClientCertificates> MQTTCFSocketTransport::clientCertsFromP12(
    const std::filesystem::path& path, const std::optional<std::string>& passphrase) {
    if (path.empty() || !passphrase) return nullptr;
    return importMQTTClientCertificates(path, *passphrase);
}

}  // namespace ambrell
