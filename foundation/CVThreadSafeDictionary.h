#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

// A dictionary any thread may use: every access runs on its own serial queue.
// Reads wait for the queue; writes are queued and return at once. A read
// issued after a write from the same thread sees that write. Queued writes
// keep the contents alive after the dictionary object is gone.
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class CVThreadSafeDictionary {
public:
    explicit CVThreadSafeDictionary(std::string queueLabel)
        : queue_(std::make_shared<platform::DispatchQueue>(std::move(queueLabel))),
          contents_(std::make_shared<Contents>()) {}

    CVThreadSafeDictionary(const CVThreadSafeDictionary&) = delete;
    CVThreadSafeDictionary& operator=(const CVThreadSafeDictionary&) = delete;

    [[nodiscard]] std::optional<Value> getValue(const Key& key) const {
        return queue_->sync([&]() -> std::optional<Value> {
            auto it = contents_->find(key);
            if (it == contents_->end()) return std::nullopt;
            return it->second;
        });
    }

    void setValue(Value value, Key key) {
        queue_->asyncBarrier([contents = contents_, value = std::move(value), key = std::move(key)]() mutable {
            (*contents)[std::move(key)] = std::move(value);
        });
    }

    // Setting nothing removes the key, as the subscript setter does.
    void set(const Key& key, std::optional<Value> value) {
        if (value) {
            setValue(std::move(*value), key);
        } else {
            remove(key);
        }
    }

    void remove(Key key) {
        queue_->asyncBarrier([contents = contents_, key = std::move(key)] { contents->erase(key); });
    }

    void removeAll() {
        queue_->asyncBarrier([contents = contents_] { Contents().swap(*contents); });
    }

    // Reads the value, lets `modify` change it, and writes it back: the
    // subscript's modify access. Not atomic against other writers: the read
    // and the write are two queue blocks.
    template <typename Modify>
    void modify(const Key& key, Modify&& modifyValue) {
        std::optional<Value> value = getValue(key);
        modifyValue(value);
        set(key, std::move(value));
    }

    [[nodiscard]] std::vector<Key> keys() const {
        return queue_->sync([&] {
            std::vector<Key> result;
            result.reserve(contents_->size());
            for (const auto& entry : *contents_) result.push_back(entry.first);
            return result;
        });
    }

    [[nodiscard]] std::vector<Value> values() const {
        return queue_->sync([&] {
            std::vector<Value> result;
            result.reserve(contents_->size());
            for (const auto& entry : *contents_) result.push_back(entry.second);
            return result;
        });
    }

    [[nodiscard]] std::size_t count() const {
        return queue_->sync([&] { return contents_->size(); });
    }

private:
    using Contents = std::unordered_map<Key, Value, Hash>;

    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<Contents> contents_;
};

}  // namespace ambrell
