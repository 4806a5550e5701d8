#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <boost/json/fwd.hpp>

namespace ambrell {

// A distance or duration as a text and a whole number, JSON {"text", "value"}.
// A fractional "value" is read truncated toward zero.
struct CVRoutePropertyInternal {
    std::optional<std::string> text;
    std::optional<std::int64_t> value;

    // Throws CVRouteCodingError.
    [[nodiscard]] static CVRoutePropertyInternal decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    friend bool operator==(const CVRoutePropertyInternal&, const CVRoutePropertyInternal&) = default;
};

}  // namespace ambrell
