#pragma once

#include <optional>
#include <string>
#include <vector>

#include <boost/json/fwd.hpp>

#include "platform/Error.h"

namespace ambrell {

// What a venue or building document says about the place itself, under
// "venueInfo" or "buildingInfo": {"name": "Main Campus", "aliases": ["HQ"]}.
// Its "fields" are read by the models as their properties.
struct CVEntityInfo {
    std::string name;
    std::vector<std::string> aliases;

    // Unknown keys are ignored. None with the error when the value is not an
    // object, "name" is present but not a text, or "aliases" is present but
    // not an array of texts.
    [[nodiscard]] static std::optional<CVEntityInfo> initWithDictionary(const boost::json::value& dictionary,
                                                                        platform::NSError* error = nullptr);
    [[nodiscard]] boost::json::object JSONObject() const;

    friend bool operator==(const CVEntityInfo&, const CVEntityInfo&) = default;
};

}  // namespace ambrell
