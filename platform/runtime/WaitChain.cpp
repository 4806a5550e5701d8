#include "platform/runtime/WaitChain.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace ambrell::platform::detail {

namespace {

struct Members {
    std::atomic<int> count{0};
    std::mutex mutex;
    std::vector<std::pair<boost::asio::cancellation_slot, std::shared_ptr<const WaitChain>>> entries;
};

Members& members() {
    static Members* const instance = new Members();
    return *instance;
}

}  // namespace

ChainMembership::ChainMembership(boost::asio::cancellation_slot slot, std::shared_ptr<const WaitChain> chain)
    : slot_(slot) {
    auto& all = members();
    std::lock_guard lock(all.mutex);
    all.entries.emplace_back(slot, std::move(chain));
    ++all.count;
}

ChainMembership::~ChainMembership() {
    auto& all = members();
    std::lock_guard lock(all.mutex);
    auto it = std::find_if(all.entries.begin(), all.entries.end(),
                           [this](const auto& entry) { return entry.first == slot_; });
    if (it != all.entries.end()) {
        all.entries.erase(it);
        --all.count;
    }
}

std::shared_ptr<const WaitChain> chainOf(const boost::asio::cancellation_slot& slot) {
    auto& all = members();
    if (all.count.load() == 0 || !slot.is_connected()) return nullptr;
    std::lock_guard lock(all.mutex);
    for (const auto& [member, chain] : all.entries) {
        if (member == slot) return chain;
    }
    return nullptr;
}

}  // namespace ambrell::platform::detail
