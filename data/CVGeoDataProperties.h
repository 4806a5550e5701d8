#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVGeometry.h"

namespace ambrell {

// What any content model (location, venue, building, floor) carries beside
// its JSON: its outline as a polygon or a multipolygon, and its geodata
// status, a bit set of "active" (1) and "searchable" (2). A model that never
// had a status set reads 3. Guarded, so that a model shared between the
// providers' queues and the map reads consistent values.
class CVGeoDataProperties {
public:
    static constexpr std::uint32_t kStatusActive = 1;
    static constexpr std::uint32_t kStatusSearchable = 2;
    static constexpr std::uint32_t kStatusUnset = kStatusActive | kStatusSearchable;

    CVGeoDataProperties() = default;
    CVGeoDataProperties(const CVGeoDataProperties& other);
    CVGeoDataProperties& operator=(const CVGeoDataProperties& other);
    ~CVGeoDataProperties() = default;

    [[nodiscard]] std::uint32_t cv_geoDataStatus() const;
    void cv_setGeoDataStatus(std::uint32_t status);
    [[nodiscard]] bool cv_isActive() const;
    // Searchable only while active too.
    [[nodiscard]] bool cv_isSearchable() const;
    // "properties.status", else the top-level "status"; only a whole number
    // that fits the bit set is taken, anything else leaves the status as it was.
    void cv_updateGeoDataStatusFromDict(const boost::json::value& dictionary);

    [[nodiscard]] std::shared_ptr<const CVPolygonGeometry> cv_polygon() const;
    void cv_setPolygon(std::shared_ptr<const CVPolygonGeometry> polygon);
    [[nodiscard]] std::shared_ptr<const CVMultiPolygonGeometry> cv_multiPolygon() const;
    void cv_setMultiPolygon(std::shared_ptr<const CVMultiPolygonGeometry> multiPolygon);
    // The multipolygon when set, else the polygon.
    [[nodiscard]] std::shared_ptr<const CVGeometry> cv_effectiveGeometry() const;
    // The outline whose box bounds the model: the polygon when set, else the
    // multipolygon (the reverse of the effective geometry's order).
    [[nodiscard]] std::shared_ptr<const CVGeometry> cv_boundingGeometry() const;

private:
    mutable std::mutex mutex_;
    std::optional<std::uint32_t> status_;
    std::shared_ptr<const CVPolygonGeometry> polygon_;
    std::shared_ptr<const CVMultiPolygonGeometry> multiPolygon_;
};

}  // namespace ambrell
