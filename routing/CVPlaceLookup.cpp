#include "routing/CVPlaceLookup.h"

#include <mutex>
#include <utility>

#include "data/CVVenueProvider.h"

namespace ambrell {

namespace place_lookup {
namespace {

class VenueProviderLookup final : public CVPlaceLookup {
public:
    [[nodiscard]] CVPlaceNames getDataFromPoint(const CVPoint& point) const override {
        CVPlaceNames names;
        const auto data = CVVenueProvider::getDataFromPoint(point);
        if (!data) return names;
        if (data->venue) names.venue = data->venue->getName();
        if (data->building) names.building = data->building->getName();
        if (data->floor) names.floor = data->floor->getName();
        return names;
    }
};

std::mutex& installedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const CVPlaceLookup>& installed() {
    static std::shared_ptr<const CVPlaceLookup> lookup;
    return lookup;
}

}  // namespace
}  // namespace place_lookup

std::shared_ptr<const CVPlaceLookup> CVPlaceLookup::current() {
    {
        std::lock_guard lock(place_lookup::installedMutex());
        if (place_lookup::installed()) return place_lookup::installed();
    }
    static const auto venueProvider = std::make_shared<const place_lookup::VenueProviderLookup>();
    return venueProvider;
}

void CVPlaceLookup::install(std::shared_ptr<const CVPlaceLookup> lookup) {
    std::shared_ptr<const CVPlaceLookup> previous;
    std::lock_guard lock(place_lookup::installedMutex());
    previous = std::exchange(place_lookup::installed(), std::move(lookup));
}

}  // namespace ambrell
