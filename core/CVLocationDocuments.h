#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace ambrell {

class CVLocationInternal;

// The solution-wide locations documents of one load, parsed, by their URL.
// Every venue source of a load reads the same document and keeps its own
// venue's part of it; the first one to read it leaves it here, so a load of
// many venues downloads, reads and parses it once. Made for one load and
// dropped after it: a later load must see the data set as it is then.
// Any thread.
class CVLocationDocuments {
public:
    using Locations = std::vector<std::shared_ptr<CVLocationInternal>>;

    // The locations of the document of that URL, or null when none is kept.
    [[nodiscard]] std::shared_ptr<const Locations> find(const std::string& url) const {
        std::lock_guard lock(mutex_);
        const auto found = byUrl_.find(url);
        return found == byUrl_.end() ? nullptr : found->second;
    }
    // Keeps the document's locations; one kept earlier for that URL stays.
    void keep(const std::string& url, std::shared_ptr<const Locations> locations) {
        if (!locations) return;
        std::lock_guard lock(mutex_);
        byUrl_.try_emplace(url, std::move(locations));
    }

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const Locations>> byUrl_;
};

}  // namespace ambrell
