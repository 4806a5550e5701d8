#pragma once

#include "platform/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ambrell {

// Posted by the host when the process runs low on memory; every LRUCache
// empties itself on it. Keeps the mobile platform's name so that hosts
// forwarding the platform's own warning need no translation.
inline const platform::NotificationName& LRUCacheMemoryWarningNotification() {
    static const platform::NotificationName name{"UIApplicationDidReceiveMemoryWarningNotification"};
    return name;
}

// Keeps values by key up to a total cost and a number of entries, dropping the
// least recently used first. Safe to use from any thread.
//
// Costs below zero count as zero: a negative cost would let the cache grow
// past its limit for good.
template <typename Key, typename Value, typename Hash = std::hash<Key>, typename KeyEqual = std::equal_to<Key>>
class LRUCache {
public:
    static constexpr std::int64_t kUnlimited = std::numeric_limits<std::int64_t>::max();

    explicit LRUCache(std::int64_t totalCostLimit = kUnlimited, std::int64_t countLimit = kUnlimited,
                      platform::NotificationCenter& notificationCenter = platform::NotificationCenter::defaultCenter())
        : totalCostLimit_(totalCostLimit), countLimit_(countLimit) {
        // The block captures a plain pointer: the token is removed first thing
        // in the destructor, and removal waits for a delivery in flight, so the
        // block never sees a cache that is being torn down.
        token_ = notificationCenter.addObserver(LRUCacheMemoryWarningNotification(),
                                                [this](const platform::Notification&) { removeAllValues(); });
    }

    ~LRUCache() { token_.reset(); }

    // The observer refers to this very object, so it cannot move.
    LRUCache(const LRUCache&) = delete;
    LRUCache& operator=(const LRUCache&) = delete;

    // Sum of the costs held; saturates at the largest int64 rather than wrap.
    [[nodiscard]] std::int64_t totalCost() const { return totalCost_.load(std::memory_order_relaxed); }
    [[nodiscard]] std::int64_t count() const { return count_.load(std::memory_order_relaxed); }
    [[nodiscard]] bool isEmpty() const { return count() == 0; }

    [[nodiscard]] std::int64_t totalCostLimit() const { return totalCostLimit_.load(std::memory_order_relaxed); }
    void setTotalCostLimit(std::int64_t limit) {
        totalCostLimit_.store(limit, std::memory_order_relaxed);
        trim();
    }

    [[nodiscard]] std::int64_t countLimit() const { return countLimit_.load(std::memory_order_relaxed); }
    void setCountLimit(std::int64_t limit) {
        countLimit_.store(limit, std::memory_order_relaxed);
        trim();
    }

    // Least recently used first.
    [[nodiscard]] std::vector<Value> allValues() const {
        std::lock_guard guard(lock_);
        std::vector<Value> result;
        result.reserve(values_.size());
        for (const Container* c = head_; c != nullptr; c = c->next) result.push_back(c->value);
        return result;
    }

    // Stores the value as the most recently used one; no value removes the key.
    void setValue(std::optional<Value> value, const Key& key, std::int64_t cost = 0) {
        if (!value) {
            removeValue(key);
            return;
        }
        cost = std::max<std::int64_t>(cost, 0);
        std::optional<Value> replaced;  // destroyed outside the lock
        {
            std::lock_guard guard(lock_);
            if (auto it = values_.find(key); it != values_.end()) {
                Container* container = it->second.get();
                replaced.emplace(std::exchange(container->value, std::move(*value)));
                sum_ -= container->cost;
                container->cost = cost;
                unlink(container);
                append(container);
            } else {
                auto container = std::make_unique<Container>(Container{std::move(*value), cost, key});
                Container* raw = container.get();
                values_.emplace(key, std::move(container));
                append(raw);
            }
            sum_ += cost;
            publish();
        }
        trim();
    }

    std::optional<Value> removeValue(const Key& key) {
        std::unique_ptr<Container> removed;
        {
            std::lock_guard guard(lock_);
            auto it = values_.find(key);
            if (it == values_.end()) return std::nullopt;
            removed = std::move(it->second);
            values_.erase(it);
            unlink(removed.get());
            sum_ -= removed->cost;
            publish();
        }
        return std::move(removed->value);
    }

    // A hit makes the entry the most recently used one.
    [[nodiscard]] std::optional<Value> value(const Key& key) {
        std::lock_guard guard(lock_);
        auto it = values_.find(key);
        if (it == values_.end()) return std::nullopt;
        Container* container = it->second.get();
        unlink(container);
        append(container);
        return container->value;
    }

    void removeAllValues() {
        Map removed;
        {
            std::lock_guard guard(lock_);
            removed.swap(values_);
            head_ = nullptr;
            tail_ = nullptr;
            sum_ = 0;
            publish();
        }
    }

private:
    struct Container {
        Value value;
        std::int64_t cost = 0;
        Key key;
        Container* prev = nullptr;
        Container* next = nullptr;
    };
    using Map = std::unordered_map<Key, std::unique_ptr<Container>, Hash, KeyEqual>;
    // Wide enough that no run of stores can overflow it, even when concurrent
    // stores each add a near-maximal cost before any of them trims.
    __extension__ using WideCost = __int128;

    // The list runs from head_ (oldest use) to tail_ (newest use); values_
    // alone owns the containers.
    void append(Container* container) {
        if (head_ == nullptr) head_ = container;
        container->prev = tail_;
        if (tail_ != nullptr) tail_->next = container;
        tail_ = container;
    }

    void unlink(Container* container) {
        if (container == head_) head_ = container->next;
        if (container == tail_) tail_ = container->prev;
        if (container->next != nullptr) container->next->prev = container->prev;
        if (container->prev != nullptr) container->prev->next = container->next;
        container->next = nullptr;
        container->prev = nullptr;
    }

    void publish() {
        const WideCost clamped = std::min<WideCost>(sum_, kUnlimited);
        totalCost_.store(static_cast<std::int64_t>(clamped), std::memory_order_relaxed);
        count_.store(static_cast<std::int64_t>(values_.size()), std::memory_order_relaxed);
    }

    // Runs after every store and limit change. A value whose cost alone is over
    // the limit therefore empties the whole cache, itself included.
    void trim() {
        std::vector<std::unique_ptr<Container>> evicted;  // destroyed outside the lock
        std::lock_guard guard(lock_);
        const std::int64_t costLimit = totalCostLimit();
        const std::int64_t entryLimit = countLimit();
        while (sum_ > costLimit || static_cast<WideCost>(values_.size()) > entryLimit) {
            Container* oldest = head_;
            if (oldest == nullptr) break;
            unlink(oldest);
            auto it = values_.find(oldest->key);
            sum_ -= oldest->cost;
            evicted.push_back(std::move(it->second));
            values_.erase(it);
        }
        publish();
    }

    Map values_;
    Container* head_ = nullptr;
    Container* tail_ = nullptr;
    mutable std::mutex lock_;
    WideCost sum_ = 0;

    // Mirrors of the guarded state and the limits, so that the lock-free
    // readers stay race-free.
    std::atomic<std::int64_t> totalCost_{0};
    std::atomic<std::int64_t> count_{0};
    std::atomic<std::int64_t> totalCostLimit_;
    std::atomic<std::int64_t> countLimit_;

    platform::NotificationCenter::ObserverToken token_;
};

}  // namespace ambrell
