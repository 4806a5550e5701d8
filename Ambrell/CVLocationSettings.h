#pragma once

#include <optional>

#include <boost/json/fwd.hpp>

#include "platform/Error.h"

namespace ambrell {

// Behaviour settings a location or a location type carries; an unset value
// defers to the type's, then to the map's default.
struct CVLocationSettings {
    std::optional<bool> selectable;

    // From {"selectable": true}. Unknown keys are ignored; none with the error
    // when the value is not an object or a known key holds the wrong kind.
    [[nodiscard]] static std::optional<CVLocationSettings> initWithDictionary(const boost::json::value& dictionary,
                                                                              platform::NSError* error = nullptr);

    // The document form that initWithDictionary reads back; unset values are left out.
    [[nodiscard]] boost::json::object JSONObject() const;

    friend bool operator==(const CVLocationSettings&, const CVLocationSettings&) = default;
};

}  // namespace ambrell
