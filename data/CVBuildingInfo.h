#pragma once

#include <string>
#include <vector>

#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// A building's name and aliases, as the building info cache keeps them;
// both are required.
struct CVBuildingInfo : JSONModelOf<CVBuildingInfo> {
    std::string name;
    std::vector<std::string> aliases;
};
BOOST_DESCRIBE_STRUCT(CVBuildingInfo, (JSONModel), (name, aliases))

}  // namespace ambrell
