#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "data/CVBuildingInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// The "buildings" sync document: {"buildings": [...]} or the bare list.
struct CVBuildingCollection : JSONModelOf<CVBuildingCollection> {
    std::vector<std::shared_ptr<CVBuildingInternal>> buildings;

    // An object is imported as it is and a bare array as its "buildings";
    // false for anything else, also for data that is not JSON (that error is
    // not passed on).
    bool initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error = nullptr);
    // A building of the list that does not read is skipped with an error line
    // naming its position and id, and the collection keeps the others.
    bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) override;
};
BOOST_DESCRIBE_STRUCT(CVBuildingCollection, (JSONModel), (buildings))

}  // namespace ambrell
