#include "data/CVPointJSON.h"

#include <cmath>
#include <string>

#include <boost/json/value.hpp>

#include "Ambrell/ErrorObjects.h"

namespace ambrell {

std::optional<CVPoint> CVPointFromNSDictionary(const boost::json::value& dictionary) {
    return CVPointInitWithDictionary(dictionary, nullptr);
}

std::optional<CVPoint> CVPointInitWithDictionary(const boost::json::value& dictionary, platform::NSError* error) {
    auto failure = [error](std::string text) -> std::optional<CVPoint> {
        if (error != nullptr) *error = errorWithDescription("com.corvay.Ambrell.CVPoint", 1, std::move(text));
        return std::nullopt;
    };
    const auto* object = dictionary.if_object();
    if (object == nullptr) return failure("A point is not a JSON object");
    const auto* coordinates = object->if_contains("coordinates");
    const auto* pair = coordinates != nullptr ? coordinates->if_array() : nullptr;
    if (pair == nullptr || pair->size() < 2 || !(*pair)[0].is_number() || !(*pair)[1].is_number()) {
        return failure("A point's coordinates are not [longitude, latitude]");
    }
    const double longitude = (*pair)[0].to_number<double>();
    const double latitude = (*pair)[1].to_number<double>();
    if (!std::isfinite(longitude) || !std::isfinite(latitude)) return failure("A point's coordinates are not finite");
    return CVPoint(latitude, longitude);
}

boost::json::value CVPointJSONObject(const CVPoint& point) {
    return boost::json::object{{"type", "Point"},
                               {"coordinates", boost::json::array{point.longitude(), point.latitude()}}};
}

boost::json::value JSONValueConversion<CVPoint>::toJSON(const CVPoint& point) { return CVPointJSONObject(point); }

}  // namespace ambrell
