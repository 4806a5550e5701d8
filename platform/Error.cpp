#include "platform/Error.h"

#include <algorithm>

#include <fmt/format.h>

namespace ambrell::platform {

namespace {

template <typename T>
const T* valueOfKind(const UserInfo& userInfo, std::string_view key) {
    const auto entry = userInfo.find(key);
    if (entry == userInfo.end()) return nullptr;
    return std::get_if<T>(&entry->second);
}

bool sameError(const std::shared_ptr<const NSError>& left, const std::shared_ptr<const NSError>& right) {
    if (left == right) return true;  // same object, or both null
    return left && right && *left == *right;
}

bool sameValue(const UserInfoValue& lhs, const UserInfoValue& rhs) {
    if (lhs.index() != rhs.index()) return false;
    if (const auto* left = std::get_if<std::shared_ptr<const NSError>>(&lhs)) {
        return sameError(*left, std::get<std::shared_ptr<const NSError>>(rhs));
    }
    if (const auto* left = std::get_if<std::vector<std::shared_ptr<const NSError>>>(&lhs)) {
        const auto& right = std::get<std::vector<std::shared_ptr<const NSError>>>(rhs);
        return std::equal(left->begin(), left->end(), right.begin(), right.end(), sameError);
    }
    return lhs == rhs;
}

}  // namespace

std::string NSError::localizedDescription() const {
    if (const auto* description = valueOfKind<std::string>(userInfo, NSLocalizedDescriptionKey)) {
        return *description;
    }
    // The platform's sentence uses a typographic apostrophe (U+2019).
    return fmt::format("The operation couldn\u2019t be completed. ({} error {}.)", domain, code);
}

std::optional<std::string> NSError::stringForKey(std::string_view key) const {
    if (const auto* text = valueOfKind<std::string>(userInfo, key)) return *text;
    return std::nullopt;
}

std::optional<std::int64_t> NSError::integerForKey(std::string_view key) const {
    if (const auto* number = valueOfKind<std::int64_t>(userInfo, key)) return *number;
    return std::nullopt;
}

std::optional<std::vector<std::string>> NSError::stringsForKey(std::string_view key) const {
    if (const auto* texts = valueOfKind<std::vector<std::string>>(userInfo, key)) return *texts;
    return std::nullopt;
}

std::shared_ptr<const NSError> NSError::underlyingError() const {
    if (const auto* error = valueOfKind<std::shared_ptr<const NSError>>(userInfo, NSUnderlyingErrorKey)) return *error;
    return nullptr;
}

bool operator==(const NSError& lhs, const NSError& rhs) {
    if (lhs.domain != rhs.domain || lhs.code != rhs.code || lhs.userInfo.size() != rhs.userInfo.size()) return false;
    auto right = rhs.userInfo.begin();
    for (const auto& [key, value] : lhs.userInfo) {
        if (key != right->first || !sameValue(value, right->second)) return false;
        ++right;
    }
    return true;
}

const char* CancellationError::what() const noexcept { return "CancellationError"; }

}  // namespace ambrell::platform
