#include "livedata/mqtt/MQTTSocketConnection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>
#include <chrono>
#include <utility>

#include "livedata/mqtt/MQTTError.h"
#include "livedata/mqtt/MQTTSSLSecurityPolicy.h"
#include "livedata/mqtt/MQTTTlsContext.h"

namespace ambrell {

namespace asio = boost::asio;
namespace ip = asio::ip;

namespace {

// Large enough that a busy connection is read in few steps.
constexpr std::size_t kReadChunk = 16 * 1024;
// How long a closed connection may still take to write what it had taken
// (a DISCONNECT, typically) to a peer that reads slowly or not at all, and
// to wait for the peer's own close.
constexpr std::chrono::seconds kCloseDrainBound{10};

platform::NSError errorFrom(const boost::system::error_code& error) {
    platform::NSError result;
    result.domain = error.category() == boost::system::system_category() ? std::string(kMQTTPOSIXErrorDomain)
                                                                         : std::string(error.category().name());
    result.code = error.value();
    result.userInfo[std::string(platform::NSLocalizedDescriptionKey)] = error.message();
    return result;
}

// The peer ended the connection: at the end of the byte stream, or a TLS
// peer that closed its socket without its closing alert (MQTT frames its own
// data, so nothing can be cut off unnoticed).
bool isPeerClose(const boost::system::error_code& error) {
    return error == asio::error::eof || error == asio::ssl::error::stream_truncated;
}

bool isAddress(const std::string& host) {
    boost::system::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

// The TLS library's own check refused the server, for the reason given.
platform::NSError untrustedError(long verifyResult) {
    return makeMQTTError(kMQTTErrorInsecure,
                         std::string("The SSL connection is insecure: ") + X509_verify_cert_error_string(verifyResult));
}

}  // namespace

MQTTSocketConnection::MQTTSocketConnection(std::weak_ptr<Owner> owner, const platform::SerialExecutor& queue,
                                           MQTTConnectionSettings settings)
    : owner_(std::move(owner)),
      executor_(queue.executor()),
      settings_(std::move(settings)),
      resolver_(executor_),
      drainTimer_(executor_) {}

void MQTTSocketConnection::start() {
    asio::post(executor_, [self = shared_from_this()] { self->begin(); });
}

void MQTTSocketConnection::cancel() {
    cancelled_.store(true);
    asio::dispatch(executor_, [self = shared_from_this()] { self->beginClose(); });
}

bool MQTTSocketConnection::send(std::span<const std::uint8_t> bytes) {
    if (cancelled_.load()) return false;
    {
        std::lock_guard lock(bufferMutex_);
        if (!buffer_.send(bytes)) return false;
        if (buffer_.isWriting()) return true;
    }
    asio::dispatch(executor_, [self = shared_from_this()] { self->writeMore(); });
    return true;
}

std::size_t MQTTSocketConnection::pendingBytes() const {
    std::lock_guard lock(bufferMutex_);
    return buffer_.size();
}

template <typename Call>
void MQTTSocketConnection::notify(Call&& call) {
    if (cancelled_.load()) return;
    if (auto owner = owner_.lock()) std::forward<Call>(call)(*owner);
}

MQTTSocketConnection::Socket& MQTTSocketConnection::lowestLayer() { return tls_ ? tls_->next_layer() : *plain_; }

void MQTTSocketConnection::begin() {
    if (stopped_) return;
    if (settings_.tls) {
        auto context = makeMQTTTlsContext(!settings_.usePolicy, settings_.certificates.get());
        if (!context.context) {
            // The socket is not made: there is nothing to close.
            socketClosed_ = true;
            fail(*context.error);
            return;
        }
        context_.emplace(std::move(*context.context));
        tls_.emplace(executor_, *context_);
    } else {
        plain_.emplace(executor_);
    }
    resolver_.async_resolve(
        settings_.host, std::to_string(settings_.port),
        [self = shared_from_this()](const ErrorCode& error, ip::tcp::resolver::results_type endpoints) {
            self->didResolve(error, endpoints);
        });
}

void MQTTSocketConnection::didResolve(const ErrorCode& error, const ip::tcp::resolver::results_type& endpoints) {
    if (stopped_) return;
    if (error) return fail(errorFrom(error));
    asio::async_connect(lowestLayer(), endpoints,
                        [self = shared_from_this()](const ErrorCode& error, const ip::tcp::endpoint& /*endpoint*/) {
                            self->didConnect(error);
                        });
}

void MQTTSocketConnection::didConnect(const ErrorCode& error) {
    if (stopped_) return;
    if (error) return fail(errorFrom(error));
    connected_ = true;
    ErrorCode ignored;
    // Packets are small and each should go at once.
    lowestLayer().set_option(ip::tcp::no_delay(true), ignored);
    if (!tls_) return becomeReady();

    SSL* ssl = tls_->native_handle();
    const bool address = isAddress(settings_.host);
    // Servers pick their certificate by name; an address is not sent.
    bool configured = address || SSL_set_tlsext_host_name(ssl, settings_.host.c_str()) == 1;
    if (configured && !settings_.usePolicy) {
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        configured = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), settings_.host.c_str()) == 1
                             : SSL_set1_host(ssl, settings_.host.c_str()) == 1;
    }
    if (!configured) return fail(mqttTlsSetupError());
    tls_->async_handshake(asio::ssl::stream_base::client,
                          [self = shared_from_this()](const ErrorCode& error) { self->didHandshake(error); });
}

void MQTTSocketConnection::didHandshake(const ErrorCode& error) {
    if (stopped_) return;
    SSL* ssl = tls_->native_handle();
    if (error) {
        const long verifyResult = SSL_get_verify_result(ssl);
        ERR_clear_error();
        if (!settings_.usePolicy && verifyResult != X509_V_OK) return fail(untrustedError(verifyResult));
        return fail(errorFrom(error));
    }
    if (settings_.usePolicy && settings_.policy) {
        const auto trust = MQTTServerTrust::fromConnection(ssl);
        if (!settings_.policy->evaluateServerTrust(trust, settings_.host)) {
            return fail(makeMQTTError(kMQTTErrorInsecure, kMQTTErrorInsecureText));
        }
    }
    becomeReady();
}

void MQTTSocketConnection::becomeReady() {
    {
        std::lock_guard lock(bufferMutex_);
        buffer_.setReady();
    }
    readBuffer_.resize(kReadChunk);
    notify([](Owner& owner) { owner.connectionDidOpen(); });
    if (stopped_) return;
    readMore();
    writeMore();
}

void MQTTSocketConnection::readMore() {
    reading_ = true;
    auto handler = [self = shared_from_this()](const ErrorCode& error, std::size_t count) {
        self->didRead(error, count);
    };
    const auto buffer = asio::buffer(readBuffer_);
    if (tls_) {
        tls_->async_read_some(buffer, std::move(handler));
    } else {
        plain_->async_read_some(buffer, std::move(handler));
    }
}

void MQTTSocketConnection::didRead(const ErrorCode& error, std::size_t count) {
    reading_ = false;
    if (lingering_) {
        if (error) return closeSocket();
        return discardMore();
    }
    if (stopped_) return;
    if (count > 0) {
        notify([&](Owner& owner) { owner.connectionDidReceive(std::span(readBuffer_.data(), count)); });
        // The owner may have closed the connection meanwhile.
        if (stopped_) return;
    }
    if (!error) return readMore();
    if (isPeerClose(error)) return peerClosed();
    fail(errorFrom(error));
}

void MQTTSocketConnection::writeMore() {
    if (socketClosed_ || !connected_) return;
    std::span<const std::uint8_t> bytes;
    {
        std::lock_guard lock(bufferMutex_);
        bytes = buffer_.beginWrite();
    }
    if (bytes.empty()) {
        if (draining_ && pendingBytes() == 0) linger();
        return;
    }
    // The bytes stay where they are until didWrite: the buffer does not
    // move a write's bytes while it is under way.
    auto handler = [self = shared_from_this()](const ErrorCode& error, std::size_t count) {
        self->didWrite(error, count);
    };
    if (tls_) {
        tls_->async_write_some(asio::buffer(bytes.data(), bytes.size()), std::move(handler));
    } else {
        plain_->async_write_some(asio::buffer(bytes.data(), bytes.size()), std::move(handler));
    }
}

void MQTTSocketConnection::didWrite(const ErrorCode& error, std::size_t count) {
    {
        std::lock_guard lock(bufferMutex_);
        if (error) {
            buffer_.finishWrite(0);
            buffer_.setError();
        } else {
            buffer_.finishWrite(count);
        }
    }
    if (!error) return writeMore();
    if (draining_) return closeSocket();
    if (!stopped_) fail(errorFrom(error));
}

void MQTTSocketConnection::fail(const platform::NSError& error) {
    if (stopped_) return;
    stopped_ = true;
    {
        std::lock_guard lock(bufferMutex_);
        buffer_.setError();
    }
    closeSocket();
    notify([&](Owner& owner) { owner.connectionDidFail(error); });
}

void MQTTSocketConnection::peerClosed() {
    stopped_ = true;
    {
        std::lock_guard lock(bufferMutex_);
        buffer_.setError();
    }
    closeSocket();
    notify([](Owner& owner) { owner.connectionDidClose(); });
}

void MQTTSocketConnection::beginClose() {
    if (stopped_) return;
    stopped_ = true;
    resolver_.cancel();
    bool unwritten = false;
    {
        std::lock_guard lock(bufferMutex_);
        unwritten = connected_ && buffer_.state() == MQTTEncoderState::ready && !buffer_.empty();
        buffer_.setError();
    }
    // Before it is ready (still handshaking) nothing of the session's went out.
    if (!connected_ || readBuffer_.empty()) return closeSocket();
    drainTimer_.expires_after(kCloseDrainBound);
    drainTimer_.async_wait([self = shared_from_this()](const ErrorCode& error) {
        if (!error) self->closeSocket();
    });
    if (!unwritten) return linger();
    draining_ = true;
}

void MQTTSocketConnection::linger() {
    // Closing a socket that has unread bytes resets the connection, and a
    // peer that is still writing to it may then drop what it had not read
    // yet of ours: the last acknowledgements before a close would be lost.
    // So the sending side is shut and the rest read until the peer closes.
    draining_ = false;
    lingering_ = true;
    ErrorCode error;
    lowestLayer().shutdown(Socket::shutdown_send, error);
    if (error) return closeSocket();
    if (!reading_) discardMore();
}

void MQTTSocketConnection::discardMore() {
    if (socketClosed_) return;
    reading_ = true;
    // Below TLS: these bytes are not looked at.
    lowestLayer().async_read_some(
        asio::buffer(readBuffer_),
        [self = shared_from_this()](const ErrorCode& error, std::size_t count) { self->didRead(error, count); });
}

void MQTTSocketConnection::closeSocket() {
    if (socketClosed_) return;
    socketClosed_ = true;
    draining_ = false;
    lingering_ = false;
    resolver_.cancel();
    drainTimer_.cancel();
    ErrorCode ignored;
    if (tls_ || plain_) lowestLayer().close(ignored);
}

}  // namespace ambrell
