#pragma once

#include <cstddef>
#include <exception>
#include <functional>

#include "platform/Error.h"

namespace ambrell {

// Why a feature geometry could not be made.
enum class CVModelErrorCase {
    // The coordinates have none of the forms a geometry accepts.
    IllegalStateException,
    // The coordinates have a known form that does not fit the geometry type.
    IllegalGeoJsonGeometryType,
};

inline constexpr std::string_view CVModelErrorDomain = "Ambrell.CVModelError";

// The error the view-model layer throws. Equal by case.
class CVModelError : public std::exception {
public:
    explicit CVModelError(CVModelErrorCase errorCase) noexcept : errorCase_(errorCase) {}

    [[nodiscard]] CVModelErrorCase errorCase() const noexcept { return errorCase_; }
    // The case index, also the code of the error object.
    [[nodiscard]] int code() const noexcept { return static_cast<int>(errorCase_); }

    // "CVModelError.<case name> (<index>)".
    [[nodiscard]] const char* what() const noexcept override;
    // The error as an error object, for callers that pass errors on as values.
    [[nodiscard]] platform::NSError toNSError() const;

    friend bool operator==(const CVModelError& lhs, const CVModelError& rhs) noexcept {
        return lhs.errorCase_ == rhs.errorCase_;
    }
    friend bool operator==(const CVModelError& error, CVModelErrorCase errorCase) noexcept {
        return error.errorCase_ == errorCase;
    }

private:
    CVModelErrorCase errorCase_;
};

}  // namespace ambrell

template <>
struct std::hash<ambrell::CVModelError> {
    std::size_t operator()(const ambrell::CVModelError& error) const noexcept { return std::hash<int>()(error.code()); }
};
