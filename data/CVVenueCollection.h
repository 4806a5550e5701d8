#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "Ambrell/CVPoint.h"
#include "data/CVBuildingCollection.h"
#include "data/CVBuildingInternal.h"
#include "data/CVFloorInternal.h"
#include "data/CVVenueInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// What lies at a point: each member null when nothing there.
struct CVVenuePointData {
    std::shared_ptr<CVVenueInternal> venue;
    std::shared_ptr<CVBuildingInternal> building;
    std::shared_ptr<CVFloorInternal> floor;
};

// The "venues" sync document: {"venues": [...]} or the bare list. Venues
// keep the document's order, and every search walks them in it.
struct CVVenueCollection : JSONModelOf<CVVenueCollection> {
    std::vector<std::shared_ptr<CVVenueInternal>> venues;

    // An object is imported as it is and a bare array as its "venues"; false
    // for anything else, also for data that is not JSON (with `error`
    // untouched). A venue that does not read is skipped with an error line,
    // and the collection keeps the others.
    bool initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error = nullptr);
    // The same rules for the text form.
    bool initWithString(std::string_view text, JSONModelErrorOut error = nullptr);
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;

    // The first building with the id, venue by venue in order, among the
    // buildings the venues were given.
    [[nodiscard]] std::shared_ptr<CVBuildingInternal> getBuilding(std::string_view buildingId) const;

    // The venue whose bounding-box centre lies nearest the point, within
    // `radius` metres (a distance equal to the radius counts); the first in
    // document order on a tie; null when none is that near.
    [[nodiscard]] std::shared_ptr<CVVenueInternal> getNearestVenue(const CVPoint& point, std::int32_t radius) const;

    // The first venue whose outline holds the point; and, walking `buildings`
    // in order, the first building whose outline holds it (with its floor at
    // the point's floor index, if any), else the last building with a floor
    // at that index whose shape holds it. Venue and building are found
    // independently.
    [[nodiscard]] static CVVenuePointData dataFromPoint(const CVVenueCollection& venues,
                                                        const CVBuildingCollection& buildings, const CVPoint& point);
};
BOOST_DESCRIBE_STRUCT(CVVenueCollection, (JSONModel), (venues))

}  // namespace ambrell
