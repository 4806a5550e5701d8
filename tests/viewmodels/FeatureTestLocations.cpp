#include "tests/viewmodels/FeatureTestLocations.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace ambrell::test {

namespace feature_test_locations {
namespace {

boost::json::array rectangle(double latitude, double longitude, double size) {
    const auto corner = [](double lat, double lng) { return boost::json::array{lng, lat}; };
    return boost::json::array{boost::json::array{corner(latitude, longitude), corner(latitude, longitude + size),
                                                 corner(latitude + size, longitude + size),
                                                 corner(latitude + size, longitude), corner(latitude, longitude)}};
}

std::shared_ptr<CVLocationInternal> locationFromFeature(const boost::json::object& feature) {
    auto location = std::make_shared<CVLocationInternal>();
    EXPECT_TRUE(location->initWithDictionary(feature)) << boost::json::serialize(feature);
    return location;
}

}  // namespace
}  // namespace feature_test_locations

std::shared_ptr<CVLocationInternal> pointLocation(const std::string& id, const std::string& name, double latitude,
                                                  double longitude, const std::string& locationType) {
    return feature_test_locations::locationFromFeature(boost::json::object{
        {"id", id},
        {"type", "Feature"},
        {"geometry", {{"type", "Point"}, {"coordinates", {longitude, latitude}}}},
        {"properties", {{"name", name}, {"type", "Cafe"}, {"locationType", locationType}, {"floor", 0}}}});
}

std::shared_ptr<CVLocationInternal> roomLocation(const std::string& id, const std::string& name, double latitude,
                                                 double longitude, double size) {
    return feature_test_locations::locationFromFeature(boost::json::object{
        {"id", id},
        {"type", "Feature"},
        {"geometry",
         {{"type", "Polygon"}, {"coordinates", feature_test_locations::rectangle(latitude, longitude, size)}}},
        {"properties",
         {{"name", name},
          {"type", "Office"},
          {"locationType", "ROOM"},
          {"floor", 0},
          {"anchor", {{"type", "Point"}, {"coordinates", {longitude + size / 2, latitude + size / 2}}}}}}});
}

std::shared_ptr<CVLocationInternal> twoWingLocation(const std::string& id, double latitude, double longitude) {
    auto location = roomLocation(id, "Two wings", latitude, longitude);
    location->cv_setMultiPolygon(CVMultiPolygonGeometry::initWithDictionary(
        boost::json::object{{"type", "MultiPolygon"},
                            {"coordinates",
                             {feature_test_locations::rectangle(latitude, longitude, 0.0001),
                              feature_test_locations::rectangle(latitude, longitude + 0.0002, 0.0001)}}}));
    EXPECT_NE(location->cv_multiPolygon(), nullptr);
    return location;
}

}  // namespace ambrell::test
