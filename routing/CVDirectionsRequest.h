#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVUserRole.h"

namespace ambrell {

// The URLs of the web service's directions and distance-matrix endpoints:
// the configured base URL with its path replaced and a query of items in the
// order they are added. Every name and value is percent-encoded outside the
// unreserved characters of RFC 3986 (so "|" is "%7C" and "," is "%2C"), and
// no value can split an item.
class CVDirectionsRequest {
public:
    // `path` is already percent-encoded: ids go in through pathSegment().
    // None when the base URL of CVAXAPI does not parse as an absolute URL.
    [[nodiscard]] static std::optional<CVDirectionsRequest> withPath(std::string_view path);

    // An id as exactly one path segment: encoded outside the unreserved
    // characters, and "." or ".." as "%2E" and "%2E%2E", so that no id
    // ("../../admin", "a/b") reaches another path of the service.
    [[nodiscard]] static std::string pathSegment(std::string_view id);

    void add(std::string_view name, std::string_view value);
    // The texts joined by the separator, as one value.
    void add(std::string_view name, std::span<const std::string> values, std::string_view separator);
    // Way types by their texts, joined by ",".
    void addHighways(std::string_view name, std::span<const CVHighway> highways);
    // The roles' ids joined by ","; nothing for no roles.
    void addUserRoles(std::string_view name, std::span<const CVUserRole> roles);

    [[nodiscard]] std::string url() const;

    // "2025-01-01T10:00:00Z": UTC, to the second.
    [[nodiscard]] static std::string dateText(std::chrono::system_clock::time_point date);

private:
    explicit CVDirectionsRequest(std::string base) : base_(std::move(base)) {}

    std::string base_;
    std::string query_;
};

}  // namespace ambrell
