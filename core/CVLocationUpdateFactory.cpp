#include "core/CVLocationUpdateFactory.h"

#include "data/CVLocationInternal.h"
#include "data/CVLocationUpdateInternal.h"

namespace ambrell {

CVHostLocationUpdate::CVHostLocationUpdate(std::shared_ptr<const CVLocationUpdateInternal> update)
    : update_(std::move(update)) {}

std::shared_ptr<const CVLocation> CVHostLocationUpdate::prototypeLocation() const {
    return update_->prototypeLocation();
}
const std::optional<std::string>& CVHostLocationUpdate::type() const { return update_->type(); }
const std::optional<std::string>& CVHostLocationUpdate::name() const { return update_->name(); }
CLLocationCoordinate2D CVHostLocationUpdate::position() const { return update_->position(); }
std::int64_t CVHostLocationUpdate::floorIndex() const { return update_->floorIndex(); }
const std::string& CVHostLocationUpdate::locationId() const { return update_->locationId(); }
const std::optional<std::vector<std::string>>& CVHostLocationUpdate::categories() const {
    return update_->categories();
}
const std::optional<std::vector<std::shared_ptr<CVLocationField>>>& CVHostLocationUpdate::properties() const {
    return update_->properties();
}
CLLocationCoordinate2D CVHostLocationUpdate::iconMapAnchor() const { return update_->iconMapAnchor(); }

std::shared_ptr<CVLocation> CVHostLocationUpdate::location() const { return update_->location(); }

CVLocationUpdateBuilder::CVLocationUpdateBuilder(const CVLocationUpdateBuilder& other)
    : update_(std::make_shared<CVLocationUpdateInternal>(*other.update_)) {}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::operator=(const CVLocationUpdateBuilder& other) {
    if (this != &other) update_ = std::make_shared<CVLocationUpdateInternal>(*other.update_);
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::type(std::string type) {
    update_->setType(std::move(type));
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::name(std::string name) {
    update_->setName(std::move(name));
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::position(CLLocationCoordinate2D position) {
    update_->setPosition(position);
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::floorIndex(std::int64_t floorIndex) {
    update_->setFloorIndex(floorIndex);
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::categories(std::vector<std::string> categories) {
    update_->setCategories(std::move(categories));
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::addPropertyWithType(std::string type, std::string value) {
    update_->addPropertyWithType(std::move(type), std::move(value));
    return *this;
}

CVLocationUpdateBuilder& CVLocationUpdateBuilder::iconMapAnchor(CLLocationCoordinate2D anchor) {
    update_->setIconMapAnchor(anchor);
    return *this;
}

std::shared_ptr<CVHostLocationUpdate> CVLocationUpdateBuilder::build() const {
    // A copy: later setters must not change an update already handed out.
    return std::make_shared<CVHostLocationUpdate>(std::make_shared<const CVLocationUpdateInternal>(*update_));
}

CVLocationUpdateBuilder CVLocationUpdateFactory::updateWithId(std::string locationId) const {
    return CVLocationUpdateBuilder(std::make_shared<CVLocationUpdateInternal>(std::move(locationId)));
}

CVLocationUpdateBuilder CVLocationUpdateFactory::updateWithLocation(std::shared_ptr<const CVLocation> location) const {
    return CVLocationUpdateBuilder(std::make_shared<CVLocationUpdateInternal>(std::move(location)));
}

}  // namespace ambrell
