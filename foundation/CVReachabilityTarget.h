#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ambrell {

// Reachability flags, with the bit values hosts know from the mobile platform.
using CVNetworkReachabilityFlags = std::uint32_t;

namespace CVReachabilityFlag {
inline constexpr CVNetworkReachabilityFlags kReachable = 1u << 1;
inline constexpr CVNetworkReachabilityFlags kConnectionRequired = 1u << 2;
inline constexpr CVNetworkReachabilityFlags kConnectionOnTraffic = 1u << 3;
inline constexpr CVNetworkReachabilityFlags kInterventionRequired = 1u << 4;
inline constexpr CVNetworkReachabilityFlags kConnectionOnDemand = 1u << 5;
inline constexpr CVNetworkReachabilityFlags kIsWWAN = 1u << 18;
}  // namespace CVReachabilityFlag

// Something whose reachability can be watched: the general connectivity of
// the machine, a host name, an address.
class CVReachabilityTarget {
public:
    using FlagsCallback = std::function<void(CVNetworkReachabilityFlags)>;

    virtual ~CVReachabilityTarget() = default;

    // One reading of the flags as they are now; none when they cannot be read.
    // May block briefly: not for the main queue.
    [[nodiscard]] virtual std::optional<CVNetworkReachabilityFlags> currentFlags() = 0;

    // Registers the callback, replacing the previous one, and starts reporting
    // every change to it, from a thread of the target's choosing.
    virtual void start(FlagsCallback callback) = 0;
    // Stops reporting; the callback stays registered until the next start().
    virtual void stop() = 0;
};

// The machine's own connectivity, watched through the routing tables. Host-name
// and address targets use it too: without a resolver in the loop they report
// whether the machine has a way out, and over which kind of link.
[[nodiscard]] std::shared_ptr<CVReachabilityTarget> makeConnectivityReachabilityTarget();

}  // namespace ambrell
