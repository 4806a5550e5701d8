#include "mapcontrol/InfoWindowUtils.h"

#include <algorithm>
#include <cmath>

#include "platform/Label.h"
#include "platform/Layer.h"
#include "platform/SystemColors.h"
#include "platform/Text.h"

namespace ambrell {

namespace info_window_utils {
namespace {

constexpr double kFontSize = 14;
constexpr double kCornerRadius = 6;
constexpr double kPointerHalfWidth = 12;

double roundedUp(double value) { return std::isfinite(value) && value > 0 ? std::ceil(value) : 0; }

}  // namespace
}  // namespace info_window_utils

platform::CGSize InfoWindowUtils::boxSize(const std::optional<std::string>& text, double maxWidth, double maxHeight) {
    const auto measured = platform::measureText(text.value_or(std::string()),
                                                platform::Font::systemFont(info_window_utils::kFontSize), maxWidth);
    double width = measured.width;
    double height = measured.height;
    if (std::isfinite(maxWidth) && maxWidth >= 0) width = std::min(width, maxWidth);
    if (std::isfinite(maxHeight) && maxHeight >= 0) height = std::min(height, maxHeight);
    return {info_window_utils::roundedUp(width), info_window_utils::roundedUp(height)};
}

std::shared_ptr<platform::View> InfoWindowUtils::infoWindowView(const std::optional<std::string>& label,
                                                                const platform::Color& color,
                                                                const platform::Color& fontColor,
                                                                std::int64_t boxHeight, std::int64_t boxWidth) {
    const double width = static_cast<double>(std::max<std::int64_t>(boxWidth, 0));
    const double height = std::max(static_cast<double>(std::max<std::int64_t>(boxHeight, 0)), kMinimumBoxHeight);

    auto outer = std::make_shared<platform::View>(platform::CGRect{{0, 0}, {width, height + kPointerHeight}});
    outer->layer()->setShadowOpacity(0.1);
    outer->layer()->setShadowOffset({0, 1});

    auto box = std::make_shared<platform::View>(platform::CGRect{{0, 0}, {width, height}});
    box->setBackgroundColor(color);
    box->layer()->setCornerRadius(info_window_utils::kCornerRadius);
    box->setClipsToBounds(false);
    box->setOpaque(false);
    box->setLayoutMargins({100, 100, 100, 100});

    auto text = std::make_shared<platform::Label>(box->bounds());
    text->setText(label);
    text->setNumberOfLines(0);
    text->setTextAlignment(platform::TextAlignment::Center);
    text->setFont(platform::Font::systemFont(info_window_utils::kFontSize));
    text->setTextColor(fontColor);
    box->addSubview(text);

    auto pointer = std::make_shared<platform::ShapeLayer>();
    pointer->setName("triangle");
    platform::Path path;
    path.moveTo({0, 0});
    path.lineTo({-info_window_utils::kPointerHalfWidth, -info_window_utils::kPointerHalfWidth});
    path.lineTo({info_window_utils::kPointerHalfWidth, -info_window_utils::kPointerHalfWidth});
    path.closePath();
    pointer->setPath(std::move(path));
    pointer->setFillColor(platform::SystemColors::white());
    pointer->setAnchorPoint({0, 0});
    pointer->setPosition({box->bounds().midX(), height + kPointerHeight});
    box->layer()->addSublayer(pointer);

    outer->addSubview(box);
    return outer;
}

}  // namespace ambrell
