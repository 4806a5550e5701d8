#pragma once

#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ambrell {

// A dictionary any thread may use: reads share a reader/writer lock, writes
// hold it alone, as barrier writes on a concurrent queue do. Neither ever
// waits for other work, so pool threads may read it freely.
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class CVThreadSafeDictionary {
public:
    // The label names the dictionary in diagnostics, as a queue label would.
    explicit CVThreadSafeDictionary(std::string label) : label_(std::move(label)) {}

    CVThreadSafeDictionary(const CVThreadSafeDictionary&) = delete;
    CVThreadSafeDictionary& operator=(const CVThreadSafeDictionary&) = delete;

    [[nodiscard]] const std::string& label() const { return label_; }

    [[nodiscard]] std::optional<Value> getValue(const Key& key) const {
        std::shared_lock lock(mutex_);
        auto it = contents_.find(key);
        if (it == contents_.end()) return std::nullopt;
        return it->second;
    }

    void setValue(Value value, Key key) {
        std::unique_lock lock(mutex_);
        contents_.insert_or_assign(std::move(key), std::move(value));
    }

    // setValue for each pair in order, as one write: a bulk load takes the
    // lock once and, into an empty dictionary, makes its room once.
    void setValues(std::vector<std::pair<Key, Value>> entries) {
        std::unique_lock lock(mutex_);
        if (contents_.empty()) contents_.reserve(entries.size());
        for (auto& [key, value] : entries) contents_.insert_or_assign(std::move(key), std::move(value));
    }

    // Stores the value only when the key holds none, as one write: a value
    // another thread stores meanwhile is never replaced. True when stored.
    bool setValueIfAbsent(Value value, const Key& key) {
        std::unique_lock lock(mutex_);
        return contents_.try_emplace(key, std::move(value)).second;
    }

    // Setting nothing removes the key, as the subscript setter does.
    void set(const Key& key, std::optional<Value> value) {
        if (value) {
            setValue(std::move(*value), key);
        } else {
            remove(key);
        }
    }

    void remove(const Key& key) {
        typename Contents::node_type removed;  // destroyed outside the lock
        std::unique_lock lock(mutex_);
        removed = contents_.extract(key);
    }

    void removeAll() {
        Contents removed;
        std::unique_lock lock(mutex_);
        removed.swap(contents_);
    }

    // Reads the value, lets `modify` change it, and writes it back: the
    // subscript's modify access. Not atomic against other writers: the read
    // and the write take the lock apart, as on the queue they were two blocks.
    template <typename Modify>
    void modify(const Key& key, Modify&& modifyValue) {
        std::optional<Value> value = getValue(key);
        modifyValue(value);
        set(key, std::move(value));
    }

    [[nodiscard]] std::vector<Key> keys() const {
        std::shared_lock lock(mutex_);
        std::vector<Key> result;
        result.reserve(contents_.size());
        for (const auto& entry : contents_) result.push_back(entry.first);
        return result;
    }

    [[nodiscard]] std::vector<Value> values() const {
        std::shared_lock lock(mutex_);
        std::vector<Value> result;
        result.reserve(contents_.size());
        for (const auto& entry : contents_) result.push_back(entry.second);
        return result;
    }

    [[nodiscard]] std::size_t count() const {
        std::shared_lock lock(mutex_);
        return contents_.size();
    }

private:
    using Contents = std::unordered_map<Key, Value, Hash>;

    std::string label_;
    mutable std::shared_mutex mutex_;
    Contents contents_;
};

}  // namespace ambrell
