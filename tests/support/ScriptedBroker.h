#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ambrell::test {

// A fake MQTT broker on 127.0.0.1 that plays a script per connection, byte
// by byte, for tests of what a client sends and how it copes with what it
// gets: answers split anywhere, silence, a closed connection, lies.
//
// Each accepted connection takes the next script added (a connection with
// none is silent). Steps run in order; a failed expectation is recorded in
// failures() and closes the connection. After its last step a connection
// stays open and records whatever arrives until the client closes it.
// Everything runs on one thread of the broker's own; every member is
// thread-safe.
class ScriptedBroker {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Bound = std::chrono::milliseconds;
    static constexpr Bound kDefaultBound = std::chrono::seconds(10);

    class Script {
    public:
        // Reads exactly these bytes next.
        Script& expect(Bytes bytes);
        // Reads one whole MQTT frame (fixed header, remaining length and
        // body) and has `check` judge it; `what` names it in a failure.
        Script& expectFrame(std::function<bool(const Bytes&)> check = {}, std::string what = "a frame");
        // Reads one whole frame and writes what `answer` makes of it
        // (nothing when empty): an acknowledgement carrying the frame's
        // packet identifier, say.
        Script& answerFrame(std::function<Bytes(const Bytes&)> answer, std::string what = "a frame");
        // Writes the bytes; `pieces` gives the sizes of successive writes (the
        // rest goes in one last write). Each piece is its own send, but the
        // client may still read pieces merged.
        Script& write(Bytes bytes, std::vector<std::size_t> pieces = {});
        // Waits until the test calls signal(name) (at once if it already has).
        Script& waitForSignal(std::string name);
        // Answers nothing more and closes nothing: reads and records until
        // the client closes. Ends the script.
        Script& goSilent();
        // Closes the connection. Ends the script.
        Script& close();
        // Reads until the client closes; bytes before that are a failure.
        // Ends the script.
        Script& expectClosed();

        struct Step;

    private:
        friend class ScriptedBroker;
        std::vector<std::shared_ptr<const Step>> steps_;
    };

    // A TLS server identity, PEM files.
    struct Tls {
        std::filesystem::path certificateChain;
        std::filesystem::path privateKey;
    };

    // Plain TCP, or TLS with the given identity.
    explicit ScriptedBroker(std::optional<Tls> tls = std::nullopt);
    ~ScriptedBroker();
    ScriptedBroker(const ScriptedBroker&) = delete;
    ScriptedBroker& operator=(const ScriptedBroker&) = delete;

    [[nodiscard]] int port() const;

    // The script of the next connection that has none yet.
    void addConnection(Script script);
    void signal(const std::string& name);
    // Closes every connection and stops taking new ones.
    void closeAll();

    [[nodiscard]] std::size_t connectionCount() const;
    bool waitForConnections(std::size_t count, Bound bound = kDefaultBound) const;
    // Whether the script of connection `index` (0 is the first) ran to its
    // end or failed, within the bound.
    bool waitForScriptEnd(std::size_t index, Bound bound = kDefaultBound) const;
    // Whether the client closed connection `index` within the bound.
    bool waitForClientClose(std::size_t index, Bound bound = kDefaultBound) const;
    [[nodiscard]] bool clientClosed(std::size_t index) const;
    // Whether connection `index` received at least `count` bytes in all
    // within the bound.
    bool waitForReceived(std::size_t index, std::size_t count, Bound bound = kDefaultBound) const;
    // Everything the connection received so far.
    [[nodiscard]] Bytes received(std::size_t index) const;
    // Failed expectations and TLS handshakes, one text each.
    [[nodiscard]] std::vector<std::string> failures() const;

    // "10 02 00 3c", as failure texts show bytes.
    static std::string hexText(const Bytes& bytes);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace ambrell::test
