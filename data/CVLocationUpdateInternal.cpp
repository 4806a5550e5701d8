#include "data/CVLocationUpdateInternal.h"

#include <cmath>

#include "data/CVLocationInternal.h"
#include "data/CVVenueProvider.h"

namespace ambrell {

namespace {

bool isValidCoordinate(CLLocationCoordinate2D coordinate) {
    return std::abs(coordinate.latitude) <= 90 && std::abs(coordinate.longitude) <= 180;
}

// What the public protocol tells of a location of another implementation:
// the prototype copy of an update can hold no more.
std::shared_ptr<CVLocationInternal> copyThroughProtocol(const CVLocation& source) {
    auto copy = std::make_shared<CVLocationInternal>();
    copy->locationId = source.getLocationId();
    copy->name = source.getName();
    copy->type = source.getType();
    copy->setPosition(source.getPosition());
    copy->setFloorIndex(source.getFloorIndex());
    return copy;
}

// The properties of an update, sorted into the location's own members and
// its fields. With `emptyNameIsFree` a "name" property fills an empty name;
// without it the name counts as set, as a copy's always is.
struct PropertySorter {
    CVLocationInternal& location;
    std::vector<std::string>& aliases;
    CVLocationFieldMap& newFields;

    void sort(const std::vector<std::shared_ptr<CVLocationField>>& properties, bool emptyNameIsFree) {
        for (const auto& property : properties) {
            if (!property) continue;
            const std::string& type = property->getType();
            const std::string value = property->getValue().value_or("");
            if (type == "name" && emptyNameIsFree && location.name.empty()) {
                location.name = value;
            } else if (type == "description" && !location.locationDescription) {
                location.locationDescription = value;
            } else if (type == "alias") {
                aliases.push_back(value);
            } else {
                if (type == "imageUrl" && !location.imageURL) location.imageURL = value;
                newFields[type] =
                    std::make_shared<CVLocationFieldInternal>(type, property->getText(), property->getValue());
            }
        }
    }
};

}  // namespace

CVLocationUpdateInternal::CVLocationUpdateInternal(std::shared_ptr<const CVLocation> prototype)
    : prototype_(std::move(prototype)) {
    if (prototype_) locationId_ = prototype_->getLocationId();
}

void CVLocationUpdateInternal::addPropertyWithType(std::string type, std::string value) {
    if (!properties_) properties_.emplace();
    properties_->push_back(std::make_shared<CVLocationFieldInternal>(std::move(type), std::nullopt, std::move(value)));
}

std::shared_ptr<CVLocationInternal> CVLocationUpdateInternal::location() const {
    return CVLocationInternal::initWithLocationUpdate(*this);
}

std::shared_ptr<CVLocationInternal> CVLocationInternal::initWithLocationUpdate(const CVLocationUpdate& update) {
    std::shared_ptr<CVLocationInternal> location;
    const auto updateFloor = static_cast<double>(update.floorIndex());
    if (const auto prototype = update.prototypeLocation()) {
        const auto* ours = dynamic_cast<const CVLocationInternal*>(prototype.get());
        location = ours != nullptr ? ours->copyWithZone() : copyThroughProtocol(*prototype);
        if (update.type()) location->type = *update.type();
        if (auto rule = prototype->getDisplayRule()) location->displayRule = std::move(rule);
        const bool updateHasFloor = update.floorIndex() != CVLocationUpdate::kFloorInvalid;
        if (isValidCoordinate(update.position())) {
            // The invalid-floor marker is no height: an update without a
            // floor keeps the prototype's height (its floor, set below, when
            // it has one).
            const double z = updateHasFloor ? updateFloor : location->getPosition().z();
            location->setPosition(CVPoint(update.position().latitude, update.position().longitude, z));
        }
        location->setFloorIndex(updateHasFloor ? std::optional<double>(updateFloor) : prototype->getFloorIndex());
        if (update.categories()) location->categories = *update.categories();
        if (update.name()) location->name = *update.name();
        if (update.properties()) {
            // The update's properties replace the prototype's aliases and
            // fields rather than adding to them, when it has any of each.
            std::vector<std::string> aliases;
            CVLocationFieldMap newFields;
            // Only a missing name is free here; the copy's name is never missing.
            PropertySorter{*location, aliases, newFields}.sort(*update.properties(), false);
            if (!newFields.empty()) location->fields = std::move(newFields);
            if (!aliases.empty()) location->aliases = std::move(aliases);
        }
    } else {
        location = std::make_shared<CVLocationInternal>();
        // Not the defaults of a new location: only what the update says.
        location->locationId.clear();
        location->floorIndex.reset();
        location->position_.reset();
        location->locationBaseTypeString = "poi";
        location->type = update.type().value_or("");
        location->name = update.name().value_or("");
        location->setPosition(CVPoint(update.position().latitude, update.position().longitude, updateFloor));
        location->setFloorIndex(updateFloor);
        location->locationId = update.locationId();
        location->categories = update.categories().value_or(std::vector<std::string>{});
        location->aliases.clear();
        if (update.properties()) {
            CVLocationFieldMap newFields;
            PropertySorter{*location, location->aliases, newFields}.sort(*update.properties(), true);
            location->fields = std::move(newFields);
        }
    }

    const auto place = CVVenueProvider::getDataFromPoint(location->getPosition());
    const auto administrativeId = [](const auto& model) -> std::string {
        return model && model->administrativeId ? *model->administrativeId : std::string();
    };
    location->venue = place ? administrativeId(place->venue) : std::string();
    location->building = place ? administrativeId(place->building) : std::string();
    location->iconMapAnchorValue = update.iconMapAnchor();
    location->state = 0;
    return location;
}

}  // namespace ambrell
