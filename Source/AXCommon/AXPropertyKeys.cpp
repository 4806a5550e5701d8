#include "Source/AXCommon/AXPropertyKeys.h"

namespace ambrell::axsearch {
namespace {

std::uint32_t weightOfKey(std::string_view key) {
    if (key == kNameKey) {
        return 4;
    }
    if (key == kAliasesKey) {
        return 3;
    }
    if (key == "externalid") {
        return 2;
    }
    return 1;
}

}  // namespace

KeyId AXPropertyKeys::intern(std::string_view foldedKey) {
    if (const auto found = find(foldedKey)) {
        return *found;
    }
    const auto id = static_cast<KeyId>(weights_.size());
    ids_.emplace(std::string(foldedKey), id);
    weights_.push_back(weightOfKey(foldedKey));
    return id;
}

std::optional<KeyId> AXPropertyKeys::find(std::string_view foldedKey) const {
    const auto it = ids_.find(foldedKey);
    if (it == ids_.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace ambrell::axsearch
