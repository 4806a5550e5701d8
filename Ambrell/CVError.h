#pragma once

#include <exception>
#include <optional>
#include <string_view>

namespace ambrell {

// The public error cases; the raw values are part of the host interface (9 is
// not used).
enum class CVErrorCase : int {
    invalidApiKey = 0,
    missingUrl = 1,
    routeNotFound = 2,
    invalidRouteQuery = 3,
    imageNotFound = 4,
    subscriptionUnavailable = 5,
    requestFailed = 6,
    downloadFailed = 7,
    categoriesUnavailable = 8,
    dataUnavailable = 10,
};

// The case's name as hosts see it, e.g. "invalidApiKey".
[[nodiscard]] std::string_view name(CVErrorCase errorCase) noexcept;

// The error the library throws to its hosts.
class CVError : public std::exception {
public:
    explicit CVError(CVErrorCase errorCase) noexcept : errorCase_(errorCase) {}

    // None for a raw value that names no case.
    [[nodiscard]] static std::optional<CVError> fromRawValue(int rawValue) noexcept;

    [[nodiscard]] CVErrorCase errorCase() const noexcept { return errorCase_; }
    [[nodiscard]] int rawValue() const noexcept { return static_cast<int>(errorCase_); }

    // "CVError.<case name> (<raw value>)".
    [[nodiscard]] const char* what() const noexcept override;

    friend bool operator==(const CVError& lhs, const CVError& rhs) noexcept { return lhs.errorCase_ == rhs.errorCase_; }
    friend bool operator==(const CVError& error, CVErrorCase errorCase) noexcept {
        return error.errorCase_ == errorCase;
    }

private:
    CVErrorCase errorCase_;
};

}  // namespace ambrell
