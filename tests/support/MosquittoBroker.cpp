#include "tests/support/MosquittoBroker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/support/TestPki.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

namespace {

constexpr auto kStartBound = std::chrono::seconds(15);
constexpr int kStartAttempts = 3;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::string mosquittoProgram() {
    // Debian installs the broker under sbin, which a user's PATH may lack.
    return std::filesystem::exists("/usr/sbin/mosquitto") ? "/usr/sbin/mosquitto" : "mosquitto";
}

}  // namespace

std::vector<int> freeLoopbackPorts(std::size_t count) {
    // All sockets are held open until every port is known, so the system
    // hands out distinct ones.
    std::vector<int> sockets;
    std::vector<int> ports;
    for (std::size_t i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        sockets.push_back(fd);
        auto address = loopback(0);
        socklen_t length = sizeof(address);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            break;
        }
        ports.push_back(ntohs(address.sin_port));
    }
    for (const int fd : sockets) ::close(fd);
    return ports;
}

bool acceptsConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const auto address = loopback(port);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

MosquittoBroker::MosquittoBroker(Options options) : options_(std::move(options)) {
    // A port picked free may be taken by someone else before mosquitto binds
    // it; then the broker exits, and fresh ports are tried.
    for (int attempt = 0; attempt < kStartAttempts && !ready_; ++attempt) {
        const auto ports = freeLoopbackPorts(3);
        if (ports.size() < 3) break;
        port_ = ports[0];
        tlsPort_ = options_.pki ? ports[1] : 0;
        clientCertificatePort_ = options_.pki ? ports[2] : 0;
        ready_ = start();
    }
    if (!ready_) ADD_FAILURE() << "mosquitto did not start:\n" << log();
}

MosquittoBroker::~MosquittoBroker() { stop(); }

void MosquittoBroker::writeConfig() const {
    std::ofstream config(folder() / "mosquitto.conf");
    config << "per_listener_settings false\n"
           << "allow_anonymous true\n"
           << "log_dest file " << (folder() / "mosquitto.log").string() << "\n"
           << (options_.logPackets ? "log_type all\n"
                                   : "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n")
           << "connection_messages true\n"
           << "persistence " << (options_.persistence ? "true" : "false") << "\n"
           << "persistence_location " << folder().string() << "/\n";
    // Run as root, mosquitto would switch to its own user, who can't read
    // the test's files.
    if (::geteuid() == 0) config << "user root\n";
    for (const auto& line : options_.extraConfig) config << line << "\n";
    config << "listener " << port_ << " 127.0.0.1\n";
    if (options_.pki) {
        using C = TestPki::Certificate;
        const auto& pki = *options_.pki;
        for (const int port : {tlsPort_, clientCertificatePort_}) {
            config << "listener " << port << " 127.0.0.1\n"
                   << "cafile " << pki.certificate(C::ca).string() << "\n"
                   << "certfile " << pki.chain(C::localhost).string() << "\n"
                   << "keyfile " << pki.key(C::localhost).string() << "\n";
            if (port == clientCertificatePort_) config << "require_certificate true\n";
        }
    }
}

bool MosquittoBroker::start() {
    writeConfig();
    const auto config = (folder() / "mosquitto.conf").string();
    if (!process_.start({mosquittoProgram(), "-c", config}, folder() / "mosquitto.out")) return false;
    return waitUntilListening();
}

bool MosquittoBroker::waitUntilListening() {
    std::vector<int> ports{port_};
    if (tlsPort_ != 0) ports.push_back(tlsPort_);
    if (clientCertificatePort_ != 0) ports.push_back(clientCertificatePort_);
    bool exited = false;
    const bool listening = waitFor(
        [&] {
            if (!process_.running()) {
                exited = true;
                return true;
            }
            for (const int port : ports) {
                if (!acceptsConnections(port)) return false;
            }
            return true;
        },
        kStartBound);
    if (listening && !exited) return true;
    process_.stop();
    return false;
}

void MosquittoBroker::stop() {
    process_.stop();
    ready_ = false;
}

bool MosquittoBroker::restart() {
    stop();
    ready_ = start();
    return ready_;
}

std::string MosquittoBroker::log() const {
    std::string text;
    for (const char* name : {"mosquitto.out", "mosquitto.log"}) {
        std::ifstream in(folder() / name, std::ios::binary);
        text.append(std::istreambuf_iterator<char>(in), {});
    }
    return text;
}

}  // namespace ambrell::test
