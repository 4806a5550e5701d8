#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "data/CVDataFieldInternal.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// The solution's categories, the "categories" sync document: {"list": [...]}
// or the bare list.
struct CVCategories : JSONModelOf<CVCategories> {
    std::vector<std::shared_ptr<CVDataFieldInternal>> list;

    // An object is imported as it is and a bare array as its "list"; data
    // that is not JSON, or JSON of another kind, gives an empty list without
    // an error. False only when an object or array fails the import.
    bool initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error = nullptr);
};
BOOST_DESCRIBE_STRUCT(CVCategories, (JSONModel), (list))

}  // namespace ambrell
