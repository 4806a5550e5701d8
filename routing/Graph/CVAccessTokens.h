#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ambrell {

// The access tokens of a user (the ids of the roles applied).
using CVAccessTokens = std::set<std::string, std::less<>>;

// Open when there are no restrictions (none or empty); otherwise open exactly
// when a restriction is among the tokens.
[[nodiscard]] bool isAccessible(const std::optional<std::vector<std::string>>& restrictions,
                                const CVAccessTokens& accessTokens);

}  // namespace ambrell
