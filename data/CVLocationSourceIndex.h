#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// Readable ids of floors ("b1-2"), buildings ("ax_b_b1") and venues
// ("ax_v_campus") to the ids of those objects: the venue and building models
// fill it, and a location finds its parent through it. Safe from any thread.
class CVLocationSourceIndex {
public:
    // The process-wide index, created on first use.
    [[nodiscard]] static std::shared_ptr<CVLocationSourceIndex> current();
    // Drops the current index: the next current() answers a new, empty one.
    // Holders of the old one keep a working but orphaned index.
    static void clear();

    [[nodiscard]] std::optional<std::string> parentIdForReadableId(std::string_view readableId) const;
    void setParentId(std::string parentId, std::string readableId);
    // A copy of the whole map.
    [[nodiscard]] std::map<std::string, std::string, std::less<>> readableLocationIdMap() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> map_;
};

}  // namespace ambrell
