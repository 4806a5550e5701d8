#include "platform/NetworkMonitor.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <set>
#include <span>
#include <thread>
#include <utility>

#include "platform/FileDescriptor.h"

namespace ambrell::platform {

namespace {

// Link types of <linux/if_arp.h>, which cannot be included beside <net/if.h>.
constexpr unsigned short kLinkTypePPP = 512;
constexpr unsigned short kLinkTypeRawIP = 519;

constexpr std::size_t kReceiveBufferSize = 64 * 1024;
constexpr int kDumpAttempts = 3;

using detail::FileDescriptor;
using detail::lastSystemError;

// Netlink data is only 4-byte aligned and comes from the kernel as bytes:
// every structure is copied out rather than pointed into.
template <typename T>
bool readStruct(std::span<const std::uint8_t> bytes, T& value) {
    if (bytes.size() < sizeof(T)) return false;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return true;
}

template <typename Visit>
void forEachAttribute(std::span<const std::uint8_t> bytes, Visit&& visit) {
    std::size_t offset = 0;
    while (offset + sizeof(rtattr) <= bytes.size()) {
        rtattr attribute{};
        std::memcpy(&attribute, bytes.data() + offset, sizeof(attribute));
        if (attribute.rta_len < sizeof(rtattr) || offset + attribute.rta_len > bytes.size()) return;
        visit(attribute.rta_type, bytes.subspan(offset + RTA_LENGTH(0), attribute.rta_len - RTA_LENGTH(0)));
        offset += RTA_ALIGN(attribute.rta_len);
    }
}

template <typename Body>
std::span<const std::uint8_t> attributesAfter(std::span<const std::uint8_t> payload) {
    const std::size_t start = NLMSG_ALIGN(sizeof(Body));
    return start <= payload.size() ? payload.subspan(start) : std::span<const std::uint8_t>{};
}

std::optional<std::uint32_t> u32Of(std::span<const std::uint8_t> value) {
    std::uint32_t number = 0;
    if (!readStruct(value, number)) return std::nullopt;
    return number;
}

FileDescriptor openRouteSocket(int extraFlags) {
    return FileDescriptor(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | extraFlags, NETLINK_ROUTE));
}

enum class DumpOutcome { complete, interrupted, failed };

// One request/answer exchange of a table dump on a socket of its own.
class TableDump {
public:
    explicit TableDump(int fd) : fd_(fd), buffer_(kReceiveBufferSize) {}

    template <typename Body, typename Visit>
    DumpOutcome run(std::uint16_t type, const Body& body, Visit&& visit) {
        const std::uint32_t sequence = ++sequence_;
        if (!send(type, body, sequence)) return DumpOutcome::failed;
        bool interrupted = false;
        for (;;) {
            sockaddr_nl sender{};
            iovec part{buffer_.data(), buffer_.size()};
            msghdr message{};
            message.msg_name = &sender;
            message.msg_namelen = sizeof(sender);
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            const ssize_t received = ::recvmsg(fd_, &message, 0);
            if (received < 0) {
                if (errno == EINTR) continue;
                return DumpOutcome::failed;  // also the receive time-out
            }
            if ((message.msg_flags & MSG_TRUNC) != 0) return DumpOutcome::failed;
            if (sender.nl_pid != 0) continue;  // only the kernel answers dumps

            const std::span<const std::uint8_t> bytes(buffer_.data(), static_cast<std::size_t>(received));
            std::size_t offset = 0;
            while (offset + sizeof(nlmsghdr) <= bytes.size()) {
                nlmsghdr header{};
                std::memcpy(&header, bytes.data() + offset, sizeof(header));
                if (header.nlmsg_len < sizeof(nlmsghdr) || offset + header.nlmsg_len > bytes.size()) {
                    return DumpOutcome::failed;
                }
                if (header.nlmsg_seq == sequence) {
                    if ((header.nlmsg_flags & NLM_F_DUMP_INTR) != 0) interrupted = true;
                    if (header.nlmsg_type == NLMSG_DONE) {
                        return interrupted ? DumpOutcome::interrupted : DumpOutcome::complete;
                    }
                    if (header.nlmsg_type == NLMSG_ERROR) return DumpOutcome::failed;
                    visit(header.nlmsg_type, bytes.subspan(offset + NLMSG_HDRLEN, header.nlmsg_len - NLMSG_HDRLEN));
                }
                offset += NLMSG_ALIGN(header.nlmsg_len);
            }
        }
    }

private:
    template <typename Body>
    bool send(std::uint16_t type, const Body& body, std::uint32_t sequence) {
        struct Request {
            nlmsghdr header;
            Body body;
        } request{};
        static_assert(offsetof(Request, body) == NLMSG_HDRLEN);
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
        request.header.nlmsg_type = type;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.header.nlmsg_seq = sequence;
        request.body = body;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        for (;;) {
            const ssize_t sent = ::sendto(fd_, &request, request.header.nlmsg_len, 0,
                                          reinterpret_cast<const sockaddr*>(&kernel), sizeof(kernel));
            if (sent >= 0) return static_cast<std::size_t>(sent) == request.header.nlmsg_len;
            if (errno != EINTR) return false;
        }
    }

    int fd_;
    std::uint32_t sequence_ = 0;
    std::vector<std::uint8_t> buffer_;
};

void readLink(std::span<const std::uint8_t> payload, NetworkSnapshot& snapshot) {
    ifinfomsg link{};
    if (!readStruct(payload, link)) return;
    NetworkSnapshot::Interface interface;
    interface.index = link.ifi_index;
    interface.flags = link.ifi_flags;
    interface.type = link.ifi_type;
    forEachAttribute(attributesAfter<ifinfomsg>(payload), [&](unsigned short type, auto value) {
        if (type != IFLA_IFNAME) return;
        const auto* text = reinterpret_cast<const char*>(value.data());
        interface.name.assign(text, ::strnlen(text, value.size()));
    });
    snapshot.interfaces.push_back(std::move(interface));
}

void readAddress(std::span<const std::uint8_t> payload, std::set<int>& withGlobalAddress) {
    ifaddrmsg address{};
    if (!readStruct(payload, address)) return;
    std::uint32_t flags = address.ifa_flags;
    forEachAttribute(attributesAfter<ifaddrmsg>(payload), [&](unsigned short type, auto value) {
        if (type == IFA_FLAGS) flags = u32Of(value).value_or(flags);
    });
    // An IPv6 address still being checked for duplicates, or found to be one,
    // carries no traffic.
    if (address.ifa_scope != RT_SCOPE_UNIVERSE || (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) != 0) return;
    withGlobalAddress.insert(static_cast<int>(address.ifa_index));
}

void readRoute(std::span<const std::uint8_t> payload, NetworkSnapshot& snapshot) {
    rtmsg route{};
    if (!readStruct(payload, route)) return;
    if (route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST) return;
    if (route.rtm_family != AF_INET && route.rtm_family != AF_INET6) return;
    constexpr unsigned kUnusable = RTNH_F_DEAD | RTNH_F_LINKDOWN;
    if ((route.rtm_flags & kUnusable) != 0) return;

    std::optional<std::uint32_t> outputInterface;
    std::uint32_t metric = 0;
    std::vector<int> nextHops;
    forEachAttribute(attributesAfter<rtmsg>(payload), [&](unsigned short type, auto value) {
        if (type == RTA_OIF) outputInterface = u32Of(value);
        if (type == RTA_PRIORITY) metric = u32Of(value).value_or(0);
        if (type != RTA_MULTIPATH) return;
        std::size_t offset = 0;
        rtnexthop hop{};
        while (readStruct(value.subspan(offset), hop) && hop.rtnh_len >= sizeof(rtnexthop) &&
               offset + hop.rtnh_len <= value.size()) {
            if ((hop.rtnh_flags & kUnusable) == 0) nextHops.push_back(hop.rtnh_ifindex);
            offset += RTNH_ALIGN(hop.rtnh_len);
        }
    });
    if (outputInterface) nextHops.push_back(static_cast<int>(*outputInterface));
    for (const int index : nextHops) snapshot.defaultRoutes.push_back({index, metric});
}

std::optional<NetworkSnapshot> readSnapshotOnce(TableDump& dump, bool& interrupted) {
    NetworkSnapshot snapshot;
    std::set<int> withGlobalAddress;
    const auto track = [&interrupted](DumpOutcome outcome) {
        if (outcome == DumpOutcome::interrupted) interrupted = true;
        return outcome != DumpOutcome::failed;
    };
    const bool read = track(dump.run(RTM_GETLINK, ifinfomsg{},
                                     [&](std::uint16_t type, auto payload) {
                                         if (type == RTM_NEWLINK) readLink(payload, snapshot);
                                     })) &&
                      track(dump.run(RTM_GETADDR, ifaddrmsg{},
                                     [&](std::uint16_t type, auto payload) {
                                         if (type == RTM_NEWADDR) readAddress(payload, withGlobalAddress);
                                     })) &&
                      track(dump.run(RTM_GETROUTE, rtmsg{}, [&](std::uint16_t type, auto payload) {
                          if (type == RTM_NEWROUTE) readRoute(payload, snapshot);
                      }));
    if (!read) return std::nullopt;
    for (auto& interface : snapshot.interfaces) {
        interface.hasGlobalAddress = withGlobalAddress.contains(interface.index);
    }
    return snapshot;
}

bool isUsable(const NetworkSnapshot::Interface& interface) {
    return (interface.flags & IFF_UP) != 0 && (interface.flags & IFF_RUNNING) != 0 &&
           (interface.flags & IFF_LOOPBACK) == 0;
}

}  // namespace

bool NetworkMonitor::isCellular(const NetworkSnapshot::Interface& interface) {
    if (interface.type == kLinkTypePPP || interface.type == kLinkTypeRawIP) return true;
    for (const std::string_view prefix : {"wwan", "rmnet", "ppp"}) {
        if (interface.name.starts_with(prefix)) return true;
    }
    return false;
}

Connectivity NetworkMonitor::assess(const NetworkSnapshot& snapshot) {
    const auto interfaceAt = [&snapshot](int index) -> const NetworkSnapshot::Interface* {
        const auto found = std::find_if(snapshot.interfaces.begin(), snapshot.interfaces.end(),
                                        [index](const auto& interface) { return interface.index == index; });
        return found == snapshot.interfaces.end() ? nullptr : &*found;
    };

    const NetworkSnapshot::Interface* best = nullptr;
    std::uint32_t bestMetric = 0;
    for (const auto& route : snapshot.defaultRoutes) {
        const auto* interface = interfaceAt(route.interfaceIndex);
        if (interface == nullptr || !isUsable(*interface)) continue;
        if (best == nullptr || route.metric < bestMetric) {
            best = interface;
            bestMetric = route.metric;
        }
    }
    if (best != nullptr) return Connectivity{true, isCellular(*best)};

    bool reachable = false;
    bool allCellular = true;
    for (const auto& interface : snapshot.interfaces) {
        if (!isUsable(interface) || !interface.hasGlobalAddress) continue;
        reachable = true;
        allCellular = allCellular && isCellular(interface);
    }
    return Connectivity{reachable, reachable && allCellular};
}

std::optional<NetworkSnapshot> NetworkMonitor::readSnapshot() {
    const FileDescriptor socket = openRouteSocket(0);
    if (!socket.isOpen()) return std::nullopt;
    // A kernel that never answers must not hold the caller for ever.
    const timeval timeout{5, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    TableDump dump(socket.get());
    // A dump that raced a change is inconsistent; the tables settle quickly.
    for (int attempt = 1;; ++attempt) {
        bool interrupted = false;
        auto snapshot = readSnapshotOnce(dump, interrupted);
        if (!snapshot || !interrupted || attempt == kDumpAttempts) return snapshot;
    }
}

std::optional<Connectivity> NetworkMonitor::evaluate() {
    const auto snapshot = readSnapshot();
    if (!snapshot) return std::nullopt;
    return assess(*snapshot);
}

struct NetworkMonitor::Worker {
    FileDescriptor subscription;
    FileDescriptor wakeUp;
    Handler handler;
    std::atomic<bool> stopping{false};
    std::thread thread;

    void report() {
        if (stopping.load()) return;
        if (const auto connectivity = evaluate(); connectivity && !stopping.load()) handler(*connectivity);
    }

    // False when the socket failed for good.
    bool drain() {
        std::vector<std::uint8_t> buffer(kReceiveBufferSize);
        for (;;) {
            const ssize_t received = ::recv(subscription.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (received >= 0) continue;
            // ENOBUFS: messages were lost; the evaluation that follows reads
            // the tables anyway.
            if (errno == EINTR || errno == ENOBUFS) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
    }

    void run() {
        report();
        pollfd watched[2] = {{subscription.get(), POLLIN, 0}, {wakeUp.get(), POLLIN, 0}};
        while (!stopping.load()) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (watched[1].revents != 0 || stopping.load()) return;
            if (watched[0].revents == 0) continue;
            if (!drain()) return;
            report();
        }
    }
};

NetworkMonitor::NetworkMonitor() = default;

NetworkMonitor::~NetworkMonitor() { stop(); }

std::error_code NetworkMonitor::start(Handler handler) {
    stop();
    auto worker = std::make_shared<Worker>();
    worker->handler = std::move(handler);
    worker->subscription = openRouteSocket(SOCK_NONBLOCK);
    if (!worker->subscription.isOpen()) return lastSystemError();
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(worker->subscription.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        return lastSystemError();
    }
    worker->wakeUp = FileDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!worker->wakeUp.isOpen()) return lastSystemError();

    std::shared_ptr<Worker> replaced;
    {
        // Held until the worker is published, so a stop() from the handler's
        // first call finds it.
        std::lock_guard lock(mutex_);
        try {
            // The thread shares the worker, so a stop from inside the handler
            // can let it run out on its own.
            worker->thread = std::thread([worker] { worker->run(); });
        } catch (const std::system_error& error) {
            return error.code();
        }
        replaced = std::exchange(worker_, std::move(worker));
    }
    finish(std::move(replaced));
    return {};
}

void NetworkMonitor::stop() {
    std::shared_ptr<Worker> worker;
    {
        std::lock_guard lock(mutex_);
        worker = std::move(worker_);
    }
    // Joined outside the lock: the handler may be calling stop() itself.
    finish(std::move(worker));
}

void NetworkMonitor::finish(std::shared_ptr<Worker> worker) {
    if (!worker) return;
    worker->stopping.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(worker->wakeUp.get(), &one, sizeof(one));
    if (worker->thread.get_id() == std::this_thread::get_id()) {
        worker->thread.detach();
    } else if (worker->thread.joinable()) {
        worker->thread.join();
    }
}

bool NetworkMonitor::isRunning() const {
    std::lock_guard lock(mutex_);
    return worker_ != nullptr;
}

}  // namespace ambrell::platform
