#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::test {

class TestPki;

// A mosquitto broker of the test's own, on free loopback ports, with a
// configuration written to a temp folder: a plain listener always; given a
// TestPki, also a TLS listener (the "localhost" chain) and one that requires
// a client certificate issued by the PKI's ca. Anonymous clients are let in.
//
// Started by the constructor, which waits (bounded) until every listener
// takes connections; a broker that could not start records a test failure
// and answers false from ready(). Stopped by its pid when the object goes.
// Not thread-safe: one test thread drives it.
class MosquittoBroker {
public:
    struct Options {
        // Listeners with TLS; the PKI must outlive the broker.
        const TestPki* pki = nullptr;
        // Sessions, subscriptions and queued messages survive a restart.
        bool persistence = false;
        // More lines for mosquitto.conf, for all listeners.
        std::vector<std::string> extraConfig;
        // A line per packet in the log; a test of many thousands of packets
        // turns it off, as writing it slows the broker down.
        bool logPackets = true;
    };

    MosquittoBroker() : MosquittoBroker(Options{}) {}
    explicit MosquittoBroker(Options options);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Whether it runs and every listener took a connection.
    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] int port() const { return port_; }
    // 0 without a PKI.
    [[nodiscard]] int tlsPort() const { return tlsPort_; }
    [[nodiscard]] int clientCertificatePort() const { return clientCertificatePort_; }
    [[nodiscard]] pid_t pid() const { return process_.pid(); }

    // SIGTERM by pid, waiting (bounded) for the process to end; a broker
    // with persistence saves its state on the way out.
    void stop();
    // Starts again on the same ports (after a stop, or stopping first).
    bool restart();

    // What the broker logged so far.
    [[nodiscard]] std::string log() const;
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_.path(); }

private:
    bool start();
    void writeConfig() const;
    bool waitUntilListening();

    Options options_;
    TempDirectory folder_{"ambrell-mosquitto"};
    ChildProcess process_;
    int port_ = 0;
    int tlsPort_ = 0;
    int clientCertificatePort_ = 0;
    bool ready_ = false;
};

// Free TCP ports on 127.0.0.1, distinct from each other, as the system hands
// them out at the moment of asking.
std::vector<int> freeLoopbackPorts(std::size_t count);

// Whether a TCP connection to 127.0.0.1:port is taken (closed at once).
bool acceptsConnections(int port);

}  // namespace ambrell::test
