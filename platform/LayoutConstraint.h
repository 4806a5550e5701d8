#pragma once

#include <memory>

namespace ambrell::platform {

class View;

enum class LayoutAttribute { NotAnAttribute, Left, Right, Top, Bottom, Width, Height, CenterX, CenterY };

enum class LayoutRelation { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };

// The rectangle of the second item its attribute is measured on: the bounds,
// the safe area or the layout margins.
enum class LayoutGuide { Bounds, SafeArea, Margins };

// The priorities the platform names; any value from 1 to 1000 is valid.
struct LayoutPriority {
    static constexpr float required = 1000;
    static constexpr float defaultHigh = 750;
    static constexpr float defaultLow = 250;
};

// One layout relation, firstItem.firstAttribute relation
// secondItem.secondAttribute × multiplier + constant, kept as a record: views
// hold the constraints added to them, and code that places views reads them
// (there is no solver). The items are held weakly, as the views hold their
// constraints.
struct LayoutConstraint {
    std::weak_ptr<View> firstItem;
    LayoutAttribute firstAttribute = LayoutAttribute::NotAnAttribute;
    LayoutRelation relation = LayoutRelation::Equal;
    std::weak_ptr<View> secondItem;
    LayoutAttribute secondAttribute = LayoutAttribute::NotAnAttribute;
    LayoutGuide secondGuide = LayoutGuide::Bounds;
    double multiplier = 1;
    double constant = 0;
    float priority = LayoutPriority::required;

    // item.attribute = other.otherAttribute + constant.
    [[nodiscard]] static std::shared_ptr<LayoutConstraint> equal(const std::shared_ptr<View>& item,
                                                                 LayoutAttribute attribute,
                                                                 const std::shared_ptr<View>& other,
                                                                 LayoutAttribute otherAttribute, double constant = 0);
    // item.attribute = constant (a width or a height).
    [[nodiscard]] static std::shared_ptr<LayoutConstraint> equalToConstant(const std::shared_ptr<View>& item,
                                                                           LayoutAttribute attribute, double constant);
};

}  // namespace ambrell::platform
