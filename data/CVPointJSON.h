#pragma once

#include <optional>
#include <string_view>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVPoint.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"
#include "platform/Error.h"

namespace ambrell {

// A GeoJSON point {"type": "Point", "coordinates": [longitude, latitude]} as a
// CVPoint (z 0). None when "coordinates" is not an array whose first two
// elements are finite numbers.
[[nodiscard]] std::optional<CVPoint> CVPointFromNSDictionary(const boost::json::value& dictionary);

// The same reading, with the reason when it fails.
[[nodiscard]] std::optional<CVPoint> CVPointInitWithDictionary(const boost::json::value& dictionary,
                                                               platform::NSError* error = nullptr);

// {"type": "Point", "coordinates": [longitude, latitude]}.
[[nodiscard]] boost::json::value CVPointJSONObject(const CVPoint& point);

// Lets any model hold a CVPoint property read from a GeoJSON point object.
template <>
struct JSONValueConversion<CVPoint> {
    static constexpr std::string_view kName = "CVPoint";
    static bool accepts(std::string_view jsonClass) { return jsonClass == "NSDictionary"; }
    static std::optional<CVPoint> fromJSON(const boost::json::value& value) { return CVPointFromNSDictionary(value); }
    static boost::json::value toJSON(const CVPoint& point);
};

}  // namespace ambrell
