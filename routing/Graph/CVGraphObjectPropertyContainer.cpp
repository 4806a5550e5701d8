#include "routing/Graph/CVGraphObjectPropertyContainer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <utility>

namespace ambrell {

namespace {

std::string joined(const std::vector<std::int64_t>& list, std::string_view separator) {
    return fmt::format("{}", fmt::join(list, separator));
}

}  // namespace

std::shared_ptr<CVGraphObjectPropertyContainer> CVGraphObjectPropertyContainer::newWithProperties(
    std::optional<std::vector<std::int64_t>> properties, std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper) {
    if (properties.has_value() != (valueMapper != nullptr)) return nullptr;
    return std::shared_ptr<CVGraphObjectPropertyContainer>(
        new CVGraphObjectPropertyContainer(std::move(properties), std::move(valueMapper)));
}

CVGraphObjectPropertyContainer::CVGraphObjectPropertyContainer(
    std::optional<std::vector<std::int64_t>> properties, std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper)
    : properties_(std::move(properties)), valueMapper_(std::move(valueMapper)) {
    const auto flags = knownNumber(CVKnownGraphProperty::flags);
    flags_ = flags ? static_cast<std::uint64_t>(*flags) : 0;
    highway_ = highwayValueForProperty("highway");
}

std::optional<std::int64_t> CVGraphObjectPropertyContainer::valueIndexAt(std::int64_t position) const {
    if (!valueMapper_ || !properties_) return std::nullopt;
    if (position == CVRouteNetworkValueMapper::kNotFound) return std::nullopt;
    if (static_cast<std::uint64_t>(position) >= properties_->size()) return std::nullopt;
    const auto index = (*properties_)[static_cast<std::size_t>(position)];
    if (index == CVRouteNetworkValueMapper::kNotFound) return std::nullopt;
    return index;
}

std::optional<std::string> CVGraphObjectPropertyContainer::stringValueForProperty(std::string_view name) const {
    if (!valueMapper_) return std::nullopt;
    const auto position = valueMapper_->indexForProperty(name);
    const auto index = valueIndexAt(position);
    if (!index) return std::nullopt;
    return valueMapper_->stringValueAtPosition(static_cast<std::size_t>(position), *index);
}

std::optional<std::int64_t> CVGraphObjectPropertyContainer::numberValueForProperty(std::string_view name) const {
    if (!valueMapper_) return std::nullopt;
    const auto position = valueMapper_->indexForProperty(name);
    const auto index = valueIndexAt(position);
    if (!index) return std::nullopt;
    return valueMapper_->numberValueAtPosition(static_cast<std::size_t>(position), *index);
}

std::optional<std::string> CVGraphObjectPropertyContainer::knownString(CVKnownGraphProperty property) const {
    if (!valueMapper_) return std::nullopt;
    const auto position = valueMapper_->indexForKnownProperty(property);
    const auto index = valueIndexAt(position);
    if (!index) return std::nullopt;
    return valueMapper_->stringValueAtPosition(static_cast<std::size_t>(position), *index);
}

std::optional<std::int64_t> CVGraphObjectPropertyContainer::knownNumber(CVKnownGraphProperty property) const {
    if (!valueMapper_) return std::nullopt;
    const auto position = valueMapper_->indexForKnownProperty(property);
    const auto index = valueIndexAt(position);
    if (!index) return std::nullopt;
    return valueMapper_->numberValueAtPosition(static_cast<std::size_t>(position), *index);
}

bool CVGraphObjectPropertyContainer::boolValueForProperty(std::string_view flagName) const {
    if (flags_ == 0 || !valueMapper_) return false;
    return valueMapper_->boolValueForProperty(flagName, flags_);
}

CVHighway CVGraphObjectPropertyContainer::highwayValueForProperty(std::string_view name) const {
    auto text = stringValueForProperty(name).value_or(std::string());
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return CVHighway::initWithTypeString(text);
}

std::uint64_t CVGraphObjectPropertyContainer::boundary() const {
    return static_cast<std::uint64_t>(knownNumber(CVKnownGraphProperty::boundary).value_or(0));
}

std::optional<std::string> CVGraphObjectPropertyContainer::barrier() const {
    return knownString(CVKnownGraphProperty::barrier);
}

std::optional<std::string> CVGraphObjectPropertyContainer::floorname() const {
    return knownString(CVKnownGraphProperty::floorname);
}

bool CVGraphObjectPropertyContainer::directed() const { return boolValueForProperty("oneway"); }

CVHighway CVGraphObjectPropertyContainer::highway() const { return highway_; }

std::optional<std::string> CVGraphObjectPropertyContainer::context() const {
    return knownString(CVKnownGraphProperty::context);
}

std::uint64_t CVGraphObjectPropertyContainer::distance() const {
    return static_cast<std::uint64_t>(knownNumber(CVKnownGraphProperty::distance).value_or(0));
}

double CVGraphObjectPropertyContainer::speedFactor() const {
    const auto permille = knownNumber(CVKnownGraphProperty::speedFactor).value_or(0);
    return permille == 0 ? 1.0 : static_cast<double>(permille) / 1000.0;
}

double CVGraphObjectPropertyContainer::waittime() const {
    return static_cast<double>(knownNumber(CVKnownGraphProperty::waittime).value_or(0));
}

bool CVGraphObjectPropertyContainer::isEqualToGraphObjectPropertyContainer(
    const CVGraphObjectPropertyContainer* other) const {
    if (other == nullptr) return false;
    if (other == this) return true;
    return properties_ == other->properties_;
}

std::string CVGraphObjectPropertyContainer::debugDescription() const {
    return fmt::format("<CVGraphObjectPropertyContainer {}: [{}]>", static_cast<const void*>(this),
                       properties_ ? joined(*properties_, ",") : std::string());
}

std::shared_ptr<CVGraphObjectPropertyContainerFactory> CVGraphObjectPropertyContainerFactory::newWithValueMapper(
    std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper, bool sharePropertyContainers) {
    if (!valueMapper) return nullptr;
    return std::shared_ptr<CVGraphObjectPropertyContainerFactory>(
        new CVGraphObjectPropertyContainerFactory(std::move(valueMapper), sharePropertyContainers));
}

CVGraphObjectPropertyContainerFactory::CVGraphObjectPropertyContainerFactory(
    std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper, bool share)
    : valueMapper_(std::move(valueMapper)) {
    if (share) cache_.emplace();
}

std::shared_ptr<CVGraphObjectPropertyContainer> CVGraphObjectPropertyContainerFactory::propertyContainerForProperties(
    std::optional<std::vector<std::int64_t>> properties) {
    if (!properties) return nullptr;
    if (!cache_) return CVGraphObjectPropertyContainer::newWithProperties(std::move(properties), valueMapper_);
    auto key = joined(*properties, "_");
    if (const auto found = cache_->find(key); found != cache_->end()) return found->second;
    auto container = CVGraphObjectPropertyContainer::newWithProperties(std::move(properties), valueMapper_);
    if (container) cache_->emplace(std::move(key), container);
    return container;
}

std::size_t CVGraphObjectPropertyContainerFactory::cacheCount() const { return cache_ ? cache_->size() : 0; }

std::string CVGraphObjectPropertyContainerFactory::debugDescription() const {
    std::string cache = "{";
    if (cache_) {
        for (const auto& [key, container] : *cache_) {
            cache += fmt::format("\n    {} = {};", key, container->debugDescription());
        }
    }
    cache += "\n}";
    return fmt::format("<CVGraphObjectPropertyContainerFactory {}:\n{}\n>", static_cast<const void*>(this), cache);
}

}  // namespace ambrell
