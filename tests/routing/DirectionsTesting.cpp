#include "tests/routing/DirectionsTesting.h"

#include <charconv>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

namespace ambrell::test {

namespace directions_testing {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string coordinateText(double lat, double lng) { return std::to_string(lat) + "," + std::to_string(lng); }

boost::json::object coordinate(const CVPoint& point) {
    return {{"lat", point.latitude()}, {"lng", point.longitude()}, {"zLevel", point.z()}};
}

std::shared_ptr<CVRouteCoordinateInternal> routeCoordinate(CLLocationCoordinate2D point) {
    return std::make_shared<CVRouteCoordinateInternal>(point.latitude, point.longitude, 0);
}

}  // namespace
}  // namespace directions_testing

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = directions_testing::hexValue(text[i + 1]);
            const int low = directions_testing::hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

QueryItems queryItems(std::string_view query) {
    QueryItems items;
    for (const auto& item : split(query, '&')) {
        const auto equals = item.find('=');
        if (equals == std::string::npos) {
            items.emplace_back(percentDecoded(item), "");
        } else {
            items.emplace_back(percentDecoded(item.substr(0, equals)), percentDecoded(item.substr(equals + 1)));
        }
    }
    return items;
}

std::optional<std::string> queryValue(const RecordedRequest& request, std::string_view name) {
    for (const auto& [itemName, value] : queryItems(request.query)) {
        if (itemName == name) return value;
    }
    return std::nullopt;
}

std::vector<std::string> queryNames(const RecordedRequest& request) {
    std::vector<std::string> names;
    for (const auto& item : queryItems(request.query)) names.push_back(item.first);
    return names;
}

CVPoint pointOf(std::string_view text) {
    const auto parts = split(text, ',');
    double values[3] = {0, 0, 0};
    for (std::size_t i = 0; i < parts.size() && i < 3; ++i) {
        std::from_chars(parts[i].data(), parts[i].data() + parts[i].size(), values[i]);
    }
    return CVPoint(values[0], values[1], values[2]);
}

std::string oneStepRouteDocument(const CVPoint& from, const CVPoint& to, std::string_view travelMode) {
    const auto start = directions_testing::coordinate(from);
    const auto end = directions_testing::coordinate(to);
    boost::json::object step{{"start_location", start},
                             {"end_location", end},
                             {"travel_mode", travelMode},
                             {"distance", 10},
                             {"duration", 12},
                             {"maneuver", "straight"},
                             {"geometry", boost::json::array{start, end}}};
    boost::json::object leg{{"start_location", start},
                            {"end_location", end},
                            {"distance", 10},
                            {"duration", 12},
                            {"steps", boost::json::array{step}}};
    boost::json::object route{{"legs", boost::json::array{leg}}, {"summary", "venue"}};
    return boost::json::serialize(boost::json::object{{"status", "OK"}, {"routes", boost::json::array{route}}});
}

std::string matrixDocument(std::size_t rows, std::size_t columns,
                           const std::function<long long(std::size_t, std::size_t)>& cost, std::string_view status) {
    boost::json::array matrixRows;
    for (std::size_t row = 0; row < rows; ++row) {
        boost::json::array elements;
        for (std::size_t column = 0; column < columns; ++column) {
            elements.push_back(boost::json::object{{"status", "OK"},
                                                   {"duration", {{"text", "t"}, {"value", cost(row, column)}}},
                                                   {"distance", {{"text", "d"}, {"value", 100}}}});
        }
        matrixRows.push_back(boost::json::object{{"elements", std::move(elements)}});
    }
    return boost::json::serialize(boost::json::object{{"status", status}, {"rows", std::move(matrixRows)}});
}

platform::Awaitable<std::shared_ptr<CVRouteInternal>> FakeOutdoorDirections::query(CLLocationCoordinate2D origin,
                                                                                   CLLocationCoordinate2D destination,
                                                                                   CVDirectionsConfig config) {
    calls.add("from " + directions_testing::coordinateText(origin.latitude, origin.longitude) + " to " +
              directions_testing::coordinateText(destination.latitude, destination.longitude) + " " +
              config.travelMode);
    {
        std::lock_guard lock(mutex_);
        configs_.push_back(config);
    }
    if (answerNone) co_return nullptr;
    auto step = std::make_shared<CVRouteStepInternal>();
    step->setStart_location(directions_testing::routeCoordinate(origin));
    step->setEnd_location(directions_testing::routeCoordinate(destination));
    step->setTravel_mode(config.travelMode);
    step->setDistance(1000);
    step->setDuration(600);
    auto leg = std::make_shared<CVRouteLegInternal>();
    leg->setRouteLegType(CVRouteLegType::outdoor);
    leg->setStart_location(directions_testing::routeCoordinate(origin));
    leg->setEnd_location(directions_testing::routeCoordinate(destination));
    leg->setDistance(1000);
    leg->setDuration(600);
    leg->setSteps({step});
    auto route = std::make_shared<CVRouteInternal>();
    route->setLegs({leg});
    co_return route;
}

platform::Awaitable<std::optional<CVDistanceMatrixResult>> FakeOutdoorMatrix::query(Coordinates origins,
                                                                                    Coordinates destinations,
                                                                                    CVDirectionsConfig /*config*/) {
    calls.add("query " + std::to_string(origins.size()) + "x" + std::to_string(destinations.size()));
    if (answer) co_return answer(origins, destinations);
    co_return CVDistanceMatrixResult::decode(
        matrixDocument(origins.size(), destinations.size(), [](std::size_t, std::size_t) { return 10; }));
}

std::pair<FakeOutdoorMatrix::Points, FakeOutdoorMatrix::Points> FakeOutdoorMatrix::pruneMatrixDimensions(
    Points origins, Points destinations) {
    calls.add("prune " + std::to_string(origins.size()) + "x" + std::to_string(destinations.size()));
    if (prune) return prune(std::move(origins), std::move(destinations));
    return {std::move(origins), std::move(destinations)};
}

}  // namespace ambrell::test
