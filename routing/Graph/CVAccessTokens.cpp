#include "routing/Graph/CVAccessTokens.h"

#include <algorithm>

namespace ambrell {

bool isAccessible(const std::optional<std::vector<std::string>>& restrictions, const CVAccessTokens& accessTokens) {
    if (!restrictions || restrictions->empty()) return true;
    return std::any_of(restrictions->begin(), restrictions->end(),
                       [&](const std::string& restriction) { return accessTokens.contains(restriction); });
}

}  // namespace ambrell
