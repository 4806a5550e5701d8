#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace ambrell::platform {

// What the machine's network looks like from the routing tables.
struct Connectivity {
    bool reachable = false;
    // The way out goes through a cellular link (a modem, a mobile data bearer).
    bool cellular = false;

    friend bool operator==(const Connectivity&, const Connectivity&) = default;
};

// The parts of the kernel's link, address and route tables that decide
// connectivity, as read at one moment.
struct NetworkSnapshot {
    struct Interface {
        int index = 0;
        std::string name;
        unsigned flags = 0;       // IFF_* as the kernel reports them (IFF_RUNNING included)
        unsigned short type = 0;  // ARPHRD_*
        bool hasGlobalAddress = false;
    };
    struct DefaultRoute {
        int interfaceIndex = 0;
        std::uint32_t metric = 0;
    };

    std::vector<Interface> interfaces;
    std::vector<DefaultRoute> defaultRoutes;
};

// Watches the machine's connectivity on a NETLINK_ROUTE socket subscribed to
// link, IPv4/IPv6 address and IPv4/IPv6 route changes. A thread of its own
// evaluates the tables once when started and again after every burst of
// change messages, and hands each evaluation to the handler (also when
// nothing changed that matters).
class NetworkMonitor {
public:
    using Handler = std::function<void(Connectivity)>;

    NetworkMonitor();
    ~NetworkMonitor();
    NetworkMonitor(const NetworkMonitor&) = delete;
    NetworkMonitor& operator=(const NetworkMonitor&) = delete;

    // Stops a running monitor first. Answers the system's error when the
    // subscription cannot be set up; the monitor then stays stopped.
    std::error_code start(Handler handler);
    // Once this returns the handler is not called again. Safe from the
    // handler itself.
    void stop();
    [[nodiscard]] bool isRunning() const;

    // One reading of the tables; none when the kernel cannot be asked.
    [[nodiscard]] static std::optional<Connectivity> evaluate();
    [[nodiscard]] static std::optional<NetworkSnapshot> readSnapshot();

    // The rule: reachable when a default route leaves through an interface
    // that is up and running (the lowest metric wins), else when some
    // non-loopback interface that is up and running has a global address.
    // Cellular when the chosen route's interface is one, or, with no such
    // route, when every interface that made the machine reachable is.
    [[nodiscard]] static Connectivity assess(const NetworkSnapshot& snapshot);
    // wwan*, rmnet* and ppp* names, and the link types modems use (PPP, raw IP).
    [[nodiscard]] static bool isCellular(const NetworkSnapshot::Interface& interface);

private:
    struct Worker;
    static void finish(std::shared_ptr<Worker> worker);

    mutable std::mutex mutex_;
    std::shared_ptr<Worker> worker_;
};

}  // namespace ambrell::platform
