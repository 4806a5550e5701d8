#pragma once

#include <string>

#include "Ambrell/CVMapStyle.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// One map style a venue lists: {"folder": "default", "displayName": "Default"};
// both keys are required.
struct CVMapStyleInternal : JSONModelOf<CVMapStyleInternal>, CVMapStyle {
    std::string folder;
    std::string displayName;

    [[nodiscard]] std::string getFolder() const override { return folder; }
    [[nodiscard]] std::string getDisplayName() const override { return displayName; }
};
BOOST_DESCRIBE_STRUCT(CVMapStyleInternal, (JSONModel), (folder, displayName))

}  // namespace ambrell
