#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Ambrell/CVPoint.h"

namespace ambrell {

// The names of what lies at a point; each absent when nothing is there.
struct CVPlaceNames {
    std::optional<std::string> venue;
    std::optional<std::string> building;
    std::optional<std::string> floor;
};

// Where the step instructions learn which venue, building and floor hold a
// point. By default the venue provider answers from the venue and building
// lists in memory; tests install their own.
class CVPlaceLookup {
public:
    virtual ~CVPlaceLookup() = default;

    [[nodiscard]] virtual CVPlaceNames getDataFromPoint(const CVPoint& point) const = 0;

    // The installed look-up, else the venue provider's. Any thread.
    [[nodiscard]] static std::shared_ptr<const CVPlaceLookup> current();
    // Null restores the venue provider's.
    static void install(std::shared_ptr<const CVPlaceLookup> lookup);
};

}  // namespace ambrell
