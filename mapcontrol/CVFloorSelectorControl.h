#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Ambrell/CVCustomFloorSelector.h"
#include "Ambrell/CVVenue.h"
#include "mapcontrol/AXSDKContentSizeChange.h"
#include "mapcontrol/CVFloorButton.h"
#include "platform/Color.h"
#include "platform/Image.h"
#include "platform/ImageView.h"
#include "platform/Layer.h"
#include "platform/LayoutConstraint.h"
#include "platform/ScrollView.h"
#include "platform/View.h"

namespace ambrell {

// The default floor selector: a narrow column of square floor buttons,
// highest floor at the top, in a scroll view, with an optional icon above it
// and two fading strips hinting at buttons scrolled out of sight. A tap
// reports the floor to the delegate. A view: used on the main thread, except
// the class-level settings, which any thread may read and write.
//
// The platform here has no layout solver: the control keeps its constraints
// as records and places its own subviews as those constraints say; its own
// frame is the host's to set (from heightConstraint() and widthConstraint()).
class CVFloorSelectorControl : public platform::View,
                               public platform::ScrollViewDelegate,
                               public CVCustomFloorSelector,
                               public AXSDKContentSizeChange {
public:
    // A control with its view structure built; floor index 0, four visible
    // buttons.
    [[nodiscard]] static std::shared_ptr<CVFloorSelectorControl> create();
    // Only the bare view: create() builds the rest.
    explicit CVFloorSelectorControl(const platform::CGRect& frame);
    ~CVFloorSelectorControl() override;

    // Class-level settings shared by every control (each read and write
    // under one class lock). Colours start unset; the padding at 1.
    [[nodiscard]] static std::optional<platform::Color> selectedColor();
    static void setSelectedColor(std::optional<platform::Color> color);
    [[nodiscard]] static std::optional<platform::Color> tintColor();
    static void setTintColor(std::optional<platform::Color> color);
    [[nodiscard]] static std::optional<platform::Color> floorButtonTitleColor();
    static void setFloorButtonTitleColor(std::optional<platform::Color> color);
    [[nodiscard]] static std::optional<platform::Color> selectedFloorButtonTitleColor();
    static void setSelectedFloorButtonTitleColor(std::optional<platform::Color> color);
    [[nodiscard]] static std::optional<platform::Color> floorButtonBackgroundColor();
    static void setFloorButtonBackgroundColor(std::optional<platform::Color> color);
    [[nodiscard]] static std::optional<platform::Color> selectedFloorButtonBackgroundColor();
    static void setSelectedFloorButtonBackgroundColor(std::optional<platform::Color> color);
    [[nodiscard]] static std::int64_t floorButtonBorderPadding();
    static void setFloorButtonBorderPadding(std::int64_t padding);
    [[nodiscard]] static std::optional<platform::Color> userFloorColor();
    static void setUserFloorColor(std::optional<platform::Color> color);

    // CVCustomFloorSelector
    void onShow() override { setHidden(false); }
    void onHide() override { setHidden(true); }
    [[nodiscard]] std::shared_ptr<CVBuilding> building() const override { return building_; }
    // Rebuilds the buttons for the building (unless it is the one shown at
    // the selected floor already).
    void setBuilding(const std::shared_ptr<CVBuilding>& building) override;
    [[nodiscard]] std::shared_ptr<CVFloorSelectorDelegate> delegate() const override { return delegate_.lock(); }
    void setDelegate(const std::weak_ptr<CVFloorSelectorDelegate>& delegate) override { delegate_ = delegate; }
    [[nodiscard]] std::optional<double> floorIndex() const override { return floorIndex_; }
    // Takes the index whatever it was before, selects its button alone and
    // tells the delegate; the same index again does nothing.
    void setFloorIndex(std::optional<double> floorIndex) override;
    // Leaves the superview, on the main queue.
    void remove() override;

    // Marks the button of the user's floor.
    void setUserFloorIndex(std::optional<double> floorIndex);
    [[nodiscard]] std::optional<double> userFloor() const { return userFloor_; }
    // The next higher or lower floor; nothing at either end.
    void up();
    void down();

    void updateFloors(const std::shared_ptr<CVBuilding>& building, bool forceUpdate);
    std::shared_ptr<CVFloorButton> setupButtonWithFloor(const std::shared_ptr<CVFloor>& floor,
                                                        std::size_t positionIndex);
    void selectButton(CVFloorButton& button);
    void deselectButton(CVFloorButton& button);
    void highlightUserFloorButton(CVFloorButton& button);
    // The buttons' tap action.
    void notifyFloorSelect(CVFloorButton& button);

    void scrollToCurrentFloor();
    void updateLayout();
    void updateFrame() { updateLayout(); }
    void setupAutoLayout();
    void initScrollIndicators();
    void updateScrollIndicatorPositions();
    void updateScrollIndicatorVisibility();
    // The side of a button: the larger of max(bounds width, 34) − 2·padding
    // and getDynamicWidthBasedOnDynamicFont().
    [[nodiscard]] double getDynamicButtonSize() const;
    // The width of "LLG" in the 12-point system font.
    [[nodiscard]] static float getDynamicWidthBasedOnDynamicFont();

    [[nodiscard]] std::optional<platform::Image> topIcon() const;
    void setTopIcon(std::optional<platform::Image> icon);

    [[nodiscard]] const std::vector<std::shared_ptr<CVFloor>>& floors() const { return floors_; }
    [[nodiscard]] const std::vector<std::shared_ptr<CVFloorButton>>& buttons() const { return buttons_; }
    [[nodiscard]] std::size_t nFloors() const { return nFloors_; }
    [[nodiscard]] std::shared_ptr<CVBuilding> currentBuilding() const { return currentBuilding_.lock(); }

    [[nodiscard]] double maxHeight() const { return maxHeight_; }
    void setMaxHeight(double height) { maxHeight_ = height; }
    [[nodiscard]] bool disableAutomaticLayoutManagement() const { return disableAutomaticLayoutManagement_; }
    void setDisableAutomaticLayoutManagement(bool disable) { disableAutomaticLayoutManagement_ = disable; }
    [[nodiscard]] std::size_t maxVisibleFloorButtons() const { return maxVisibleFloorButtons_; }
    void setMaxVisibleFloorButtons(std::size_t count) { maxVisibleFloorButtons_ = count; }

    [[nodiscard]] const std::shared_ptr<platform::LayoutConstraint>& heightConstraint() const {
        return heightConstraint_;
    }
    [[nodiscard]] const std::shared_ptr<platform::LayoutConstraint>& widthConstraint() const {
        return widthConstraint_;
    }
    [[nodiscard]] const std::shared_ptr<platform::LayoutConstraint>& xPositionConstraint() const {
        return xPositionConstraint_;
    }
    [[nodiscard]] const std::shared_ptr<platform::LayoutConstraint>& yPositionConstraint() const {
        return yPositionConstraint_;
    }
    [[nodiscard]] const std::shared_ptr<platform::LayoutConstraint>& topImageHeightConstraint() const {
        return topImageHeightConstraint_;
    }
    [[nodiscard]] std::shared_ptr<platform::ScrollView> scrollview() const { return scrollview_.lock(); }
    [[nodiscard]] std::shared_ptr<platform::View> container() const { return container_; }
    [[nodiscard]] std::shared_ptr<platform::ImageView> topImageView() const { return topImageView_.lock(); }
    [[nodiscard]] std::shared_ptr<platform::View> topScrollIndicator() const { return topScrollIndicator_.lock(); }
    [[nodiscard]] std::shared_ptr<platform::View> bottomScrollIndicator() const {
        return bottomScrollIndicator_.lock();
    }
    [[nodiscard]] std::shared_ptr<platform::GradientLayer> topScrollIndicatorGradient() const {
        return topScrollIndicatorGradient_.lock();
    }
    [[nodiscard]] std::shared_ptr<platform::GradientLayer> bottomScrollIndicatorGradient() const {
        return bottomScrollIndicatorGradient_.lock();
    }

    // View
    void didMoveToSuperview() override;
    void layoutSubviews() override;
    [[nodiscard]] platform::CGSize intrinsicContentSize() const override;
    // Colours the container too.
    void setBackgroundColor(std::optional<platform::Color> color) override;
    // ScrollViewDelegate
    void scrollViewDidScroll(platform::ScrollView& scrollView) override;

private:
    void buildViewStructure();
    // Gives the subviews the frames their constraints ask for.
    void placeSubviews();
    [[nodiscard]] double topImageHeight() const;

    std::vector<std::shared_ptr<CVFloor>> floors_;
    std::optional<double> floorIndex_;
    std::optional<double> userFloor_;
    std::shared_ptr<CVBuilding> building_;
    std::weak_ptr<CVFloorSelectorDelegate> delegate_;
    std::size_t nFloors_ = 0;
    std::vector<std::shared_ptr<CVFloorButton>> buttons_;
    std::weak_ptr<platform::ImageView> topImageView_;
    double maxHeight_ = 0;
    bool disableAutomaticLayoutManagement_ = false;
    std::shared_ptr<platform::LayoutConstraint> heightConstraint_;
    std::shared_ptr<platform::LayoutConstraint> widthConstraint_;
    std::shared_ptr<platform::LayoutConstraint> xPositionConstraint_;
    std::shared_ptr<platform::LayoutConstraint> yPositionConstraint_;
    std::weak_ptr<platform::ScrollView> scrollview_;
    std::shared_ptr<platform::View> container_;
    std::size_t maxVisibleFloorButtons_ = 0;
    std::weak_ptr<platform::View> topScrollIndicator_;
    std::weak_ptr<platform::View> bottomScrollIndicator_;
    std::weak_ptr<platform::GradientLayer> topScrollIndicatorGradient_;
    std::weak_ptr<platform::GradientLayer> bottomScrollIndicatorGradient_;
    std::shared_ptr<platform::LayoutConstraint> topImageHeightConstraint_;
    std::weak_ptr<CVBuilding> currentBuilding_;
};

}  // namespace ambrell
