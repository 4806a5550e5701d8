#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVLocationBaseType.h"
#include "Ambrell/CVLocationSettings.h"
#include "Ambrell/CVPoint.h"

// The public protocols of the content a host reads: locations, their types
// and fields. Stored values are read through get-accessors, because the
// library's models keep them in members of the same names; computed values
// and operations keep their plain names.

namespace ambrell {

// One named value of a location, a building or a category: {"type": "text",
// "text": "Email", "value": "desk@example.com"}.
class CVLocationField {
public:
    CVLocationField() = default;
    CVLocationField(const CVLocationField&) = default;
    CVLocationField& operator=(const CVLocationField&) = default;
    virtual ~CVLocationField() = default;

    [[nodiscard]] virtual const std::string& getType() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getText() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getValue() const = 0;
};

using CVLocationFields = std::map<std::string, std::shared_ptr<CVLocationField>>;

// One entry of the solution's categories: a key, its text and its fields.
class CVDataField {
public:
    CVDataField() = default;
    CVDataField(const CVDataField&) = default;
    CVDataField& operator=(const CVDataField&) = default;
    virtual ~CVDataField() = default;

    [[nodiscard]] virtual const std::string& getKey() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& getValue() const = 0;
};

// A kind of location the solution defines ("Meeting Room"), with the display
// rule and settings its locations start from.
class CVType {
public:
    CVType() = default;
    CVType(const CVType&) = default;
    CVType& operator=(const CVType&) = default;
    virtual ~CVType() = default;

    [[nodiscard]] virtual const std::string& getName() const = 0;
    [[nodiscard]] virtual const std::string& getTranslatedName() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> getDisplayRule() const = 0;
    [[nodiscard]] virtual const std::optional<CVLocationSettings>& getLocationSettings() const = 0;
};

// One field of a location handed out by name: the name as its type and the
// field as its value.
class CVLocationProperty {
public:
    CVLocationProperty(std::shared_ptr<CVLocationField> value, std::string type)
        : propertyType_(std::move(type)), propertyValue_(std::move(value)) {}

    [[nodiscard]] const std::string& propertyType() const { return propertyType_; }
    [[nodiscard]] const std::shared_ptr<CVLocationField>& propertyValue() const { return propertyValue_; }

private:
    std::string propertyType_;
    std::shared_ptr<CVLocationField> propertyValue_;
};

// The shape of a location: nothing, its anchor point alone, or a polygon or
// multipolygon (whose anchor is then the location's position).
using CVLocationGeometry = std::variant<std::monostate, CVPoint, std::shared_ptr<const CVPolygonGeometry>,
                                        std::shared_ptr<const CVMultiPolygonGeometry>>;

// A place of the solution: a point of interest, an area, a room, or the
// pseudo-location of a floor, building or venue.
class CVLocation {
public:
    CVLocation() = default;
    CVLocation(const CVLocation&) = default;
    CVLocation& operator=(const CVLocation&) = default;
    virtual ~CVLocation() = default;

    [[nodiscard]] virtual const std::string& getLocationId() const = 0;
    [[nodiscard]] virtual const std::string& getName() const = 0;
    [[nodiscard]] virtual const std::string& getType() const = 0;
    [[nodiscard]] virtual CVLocationBaseType baseType() const = 0;
    // The anchor point; a zero point when none is set.
    [[nodiscard]] virtual CVPoint getPosition() const = 0;
    [[nodiscard]] virtual std::optional<double> getFloorIndex() const = 0;
    [[nodiscard]] virtual CVLocationGeometry geometry() const = 0;
    [[nodiscard]] virtual CVGeoBounds coordinateBounds() const = 0;
    [[nodiscard]] virtual double area() const = 0;
    [[nodiscard]] virtual bool isIndoors() const = 0;
    [[nodiscard]] virtual std::optional<std::string> iconUrl() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> getDisplayRule() const = 0;
    [[nodiscard]] virtual const std::optional<CVLocationSettings>& getLocationSettings() const = 0;
    [[nodiscard]] virtual bool isActiveForDate(double secondsSince1970) const = 0;
    // The field stored under exactly this key, or null.
    [[nodiscard]] virtual std::shared_ptr<CVLocationProperty> getProperty(const std::string& key) const = 0;
    // The field under the key, else under the first key equal to it ignoring
    // case; null when none.
    [[nodiscard]] virtual std::shared_ptr<CVLocationField> getPropertyForKey(
        const std::optional<std::string>& key) const = 0;
    [[nodiscard]] virtual std::int32_t axParentId() const = 0;
};

}  // namespace ambrell
