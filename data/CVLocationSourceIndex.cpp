#include "data/CVLocationSourceIndex.h"

namespace ambrell {

namespace {

std::mutex currentMutex;
std::shared_ptr<CVLocationSourceIndex> currentIndex;

}  // namespace

std::shared_ptr<CVLocationSourceIndex> CVLocationSourceIndex::current() {
    std::lock_guard lock(currentMutex);
    if (!currentIndex) currentIndex = std::make_shared<CVLocationSourceIndex>();
    return currentIndex;
}

void CVLocationSourceIndex::clear() {
    std::shared_ptr<CVLocationSourceIndex> previous;
    std::lock_guard lock(currentMutex);
    previous.swap(currentIndex);
}

std::optional<std::string> CVLocationSourceIndex::parentIdForReadableId(std::string_view readableId) const {
    std::lock_guard lock(mutex_);
    auto entry = map_.find(readableId);
    if (entry == map_.end()) return std::nullopt;
    return entry->second;
}

void CVLocationSourceIndex::setParentId(std::string parentId, std::string readableId) {
    std::lock_guard lock(mutex_);
    map_.insert_or_assign(std::move(readableId), std::move(parentId));
}

std::map<std::string, std::string, std::less<>> CVLocationSourceIndex::readableLocationIdMap() const {
    std::lock_guard lock(mutex_);
    return map_;
}

}  // namespace ambrell
