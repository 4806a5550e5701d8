#include "jsonmodel/JSONModel/JSONModelNetworking.h"

#include <atomic>
#include <chrono>

#include <boost/asio/steady_timer.hpp>

#include "platform/runtime/MainQueue.h"

namespace ambrell {
namespace {

std::atomic<bool>& loadingFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

}  // namespace

bool JSONModelIsLoading() { return loadingFlag().load(); }

namespace detail {

void setModelLoading(bool loading) { loadingFlag().store(loading); }

void afterOneMillisecondOnMainQueue(std::function<void()> work) {
    auto timer = std::make_shared<boost::asio::steady_timer>(platform::MainQueue::shared().executor(),
                                                             std::chrono::milliseconds(1));
    timer->async_wait([timer, work = std::move(work)](const boost::system::error_code&) { work(); });
}

}  // namespace detail
}  // namespace ambrell
