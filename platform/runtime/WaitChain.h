#pragma once

#include <boost/asio/cancellation_signal.hpp>
#include <memory>

namespace ambrell::platform::detail {

// The work a thread blocked in blockingWait waits for. The chain starts there
// and follows the work through every hop (runOn, task groups), so that a hop
// the blocked thread itself would have to serve is refused rather than left
// to hang.
struct WaitChain {
    bool blocksMainQueue = false;
};

// Ties a coroutine thread, known by its cancellation slot, to a chain while
// it runs.
class ChainMembership {
public:
    ChainMembership(boost::asio::cancellation_slot slot, std::shared_ptr<const WaitChain> chain);
    ~ChainMembership();
    ChainMembership(const ChainMembership&) = delete;
    ChainMembership& operator=(const ChainMembership&) = delete;

private:
    boost::asio::cancellation_slot slot_;
};

// The chain of the coroutine thread with this slot, or null. Cheap when no
// thread is blocked.
std::shared_ptr<const WaitChain> chainOf(const boost::asio::cancellation_slot& slot);

}  // namespace ambrell::platform::detail
