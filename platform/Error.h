#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ambrell::platform {

struct NSError;

// The kinds of value an error's user info carries. An underlying error is
// shared and immutable, so errors can be copied and chained cheaply; an array
// of them carries the several causes of one failure. An array of texts lists
// names (the keys missing from an input, say).
using UserInfoValue = std::variant<std::string, std::int64_t, double, bool, std::shared_ptr<const NSError>,
                                   std::vector<std::shared_ptr<const NSError>>, std::vector<std::string>>;
using UserInfo = std::map<std::string, UserInfoValue, std::less<>>;

inline constexpr std::string_view NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr std::string_view NSUnderlyingErrorKey = "NSUnderlyingError";

// An error object as the platform passes them around: a domain, a code within
// it, and free-form user info. A value type; equality compares underlying
// errors by value, not by identity.
struct NSError {
    std::string domain;
    std::int64_t code = 0;
    UserInfo userInfo;

    // The text under NSLocalizedDescriptionKey, or the platform's generic
    // sentence naming the domain and the code.
    [[nodiscard]] std::string localizedDescription() const;

    // None when the key is missing or holds another kind of value.
    [[nodiscard]] std::optional<std::string> stringForKey(std::string_view key) const;
    [[nodiscard]] std::optional<std::int64_t> integerForKey(std::string_view key) const;
    [[nodiscard]] std::optional<std::vector<std::string>> stringsForKey(std::string_view key) const;
    // The error under NSUnderlyingErrorKey, or null.
    [[nodiscard]] std::shared_ptr<const NSError> underlyingError() const;

    friend bool operator==(const NSError& lhs, const NSError& rhs);
};

// Thrown by an asynchronous task that was cancelled before it could finish.
struct CancellationError : std::exception {
    [[nodiscard]] const char* what() const noexcept override;
};

}  // namespace ambrell::platform
