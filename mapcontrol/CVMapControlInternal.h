#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Ambrell/CVMapConfig.h"
#include "Ambrell/CVMapControl.h"
#include "Ambrell/CVSubscription.h"
#include "core/CVSubsystemSeams.h"
#include "foundation/TaskQueue.h"
#include "mapcontrol/CVMapControlDrawingSeam.h"
#include "mapcontrol/CVMapControlEntry.h"
#include "mapcontrol/CVPositionController.h"
#include "mapcontrol/MapState.h"
#include "platform/ImageView.h"
#include "platform/LayoutConstraint.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"
#include "routemodel/MapControlInternalExternalServices.h"
#include "viewmodels/CVMapControlSeam.h"
#include "viewmodels/CVMapProvider.h"

namespace ambrell {

class CVInternalLiveDataDelegate;

// One map on screen: keeps the map's state, turns it render by render into
// view models for the adapter (one render running, at most one waiting),
// follows the camera to pick venue, building and floor, and keeps the floor
// selector and the host in step. Made only by create(); every member is safe
// from any thread. Host notifications and the floor selector are handled on
// the main queue, which must be running.
class CVMapControlInternal final : public CVMapControl,
                                   public CVMapControlling,
                                   public CVMapControlSeam,
                                   public MapControlInternalExternalServices,
                                   public CVMapProviderDelegate,
                                   public CVFloorSelectorDelegate,
                                   public CVPositionProviderDelegate,
                                   public std::enable_shared_from_this<CVMapControlInternal> {
public:
    // A monotonic clock; tests replace it.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Dependencies {
        // Null: the process's entry object.
        std::shared_ptr<CVMapControlEntry> entry;
        // Empty: std::chrono::steady_clock.
        Clock clock;
    };

    // Camera changes closer together than this do not each move the map.
    static constexpr std::chrono::duration<double> kCameraThrottle{1.0 / 60.0};

    // A map control on the adapter in the configuration's slot; null, with an
    // error logged, when the slot is empty. It becomes the entry object's
    // active map control, takes the first venue and refreshes.
    [[nodiscard]] static std::shared_ptr<CVMapControlInternal> create(const CVMapConfig& config,
                                                                      Dependencies dependencies = {});
    ~CVMapControlInternal() override;
    CVMapControlInternal(const CVMapControlInternal&) = delete;
    CVMapControlInternal& operator=(const CVMapControlInternal&) = delete;

    // CVMapControl
    [[nodiscard]] CVSelectionMode floorSelectionMode() const override;
    void setFloorSelectionMode(CVSelectionMode mode) override;
    [[nodiscard]] CVSelectionMode buildingSelectionMode() const override;
    void setBuildingSelectionMode(CVSelectionMode mode) override;
    [[nodiscard]] std::shared_ptr<CVCustomClusterIcon> customClusterIcon() const override;
    void setCustomClusterIcon(std::shared_ptr<CVCustomClusterIcon> icon) override;
    [[nodiscard]] std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const override;
    void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) override;
    [[nodiscard]] std::shared_ptr<CVMapControlDelegate> delegate() const override;
    void setDelegate(std::shared_ptr<CVMapControlDelegate> delegate) override;
    [[nodiscard]] std::vector<std::int64_t> hiddenFeatures() const override;
    void setHiddenFeatures(std::vector<std::int64_t> features) override;
    [[nodiscard]] platform::EdgeInsets mapPadding() const override { return map_->padding(); }
    // Moves the logo with the padding's bottom.
    void setMapPadding(platform::EdgeInsets padding) override;
    [[nodiscard]] CVCameraPosition cameraPosition() const override;
    [[nodiscard]] float ambrellZoom() const override;
    void setMapLabelFont(const platform::Font& font, double textSize, std::optional<platform::Color> color,
                         std::optional<platform::Color> haloColor, double haloWidth, double haloBlur) override;
    void setHighlight(std::vector<std::shared_ptr<CVLocation>> locations, CVHighlightBehavior behavior) override;
    void setHighlight(CVFilter filter, CVHighlightBehavior behavior) override;
    void clearHighlight() override;
    void setFilter(const std::vector<std::shared_ptr<CVLocation>>& locations, CVFilterBehavior behavior) override;
    void setFilter(std::shared_ptr<CVFilter> filter, CVFilterBehavior behavior) override;
    void clearFilter() override;
    [[nodiscard]] std::shared_ptr<CVVenue> currentVenue() const override;
    void setCurrentVenue(std::shared_ptr<CVVenue> venue) override;
    [[nodiscard]] std::shared_ptr<CVBuilding> currentBuilding() const override;
    void setCurrentBuilding(std::shared_ptr<CVBuilding> building) override;
    [[nodiscard]] std::int64_t currentFloorIndex() const override;
    void setCurrentFloorIndex(std::int64_t floorIndex) override;
    void selectWithFloorIndex(std::int64_t floorIndex) override { setCurrentFloorIndex(floorIndex); }
    [[nodiscard]] std::shared_ptr<CVMapStyle> mapStyle() const override;
    void setMapStyle(std::shared_ptr<CVMapStyle> style) override;
    [[nodiscard]] std::shared_ptr<CVCustomFloorSelector> floorSelector() const override;
    void setFloorSelector(std::shared_ptr<CVCustomFloorSelector> selector) override;
    [[nodiscard]] bool hideFloorSelector() const override;
    void setHideFloorSelector(bool hide) override;
    void refresh() override;
    void enableLiveDataWithDomain(const std::string& domainType, CVLiveUpdateListener listener) override;
    void disableLiveDataWithDomain(const std::string& domainType) override;

    // CVMapControlling
    void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onLocationsDelete(const std::vector<std::string>& locationIds,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onStatusChange(CVLocationSourceStatus status, const std::shared_ptr<CVLocationSource>& source) override;

    // CVMapControlSeam
    [[nodiscard]] std::shared_ptr<CVMapProvider> map() const override { return map_; }
    [[nodiscard]] bool showInfoWindowOnClickedLocation() const override;
    [[nodiscard]] bool selectionBehaviorShowsInfoWindow() const override;
    [[nodiscard]] std::optional<FontStyle> internalFontStyle() const override;
    [[nodiscard]] std::optional<std::string> currentBuildingId() const override;
    [[nodiscard]] double cameraZoom() const override;
    [[nodiscard]] double cameraBearing() const override;

    // MapControlInternalExternalServices: the services of the adapter the
    // map control was made with.
    [[nodiscard]] std::shared_ptr<CVExternalDirectionsService> externalDirectionService() const override;
    [[nodiscard]] std::shared_ptr<CVExternalDistanceMatrixService> externalMatrixService() const override;

    // CVMapProviderDelegate
    void cameraWillMove() override;
    void cameraChangedPosition() override;
    void cameraIdle() override;
    void didTap(platform::CLLocationCoordinate2D coordinate) override;
    bool didTap(const std::string& locationId, CVRenderedFeatureType type) override;
    bool didTapInfoWindowOf(const std::string& locationId) override;

    // CVFloorSelectorDelegate: a floor index that is no whole number in
    // range is ignored.
    void onFloorIndexChanged(double floorIndex) override;

    // Asks for a render; returns at once. Dropped when one already waits.
    void requestRender(bool forceClear);
    // Starts the camera-driven choice of venue, building and floor; returns
    // at once.
    void detectVenueAndBuilding();

    [[nodiscard]] std::shared_ptr<TaskQueue> renderQueue() const { return renderQueue_; }
    // Tasks of this map control started and not yet ended: renders waiting
    // for their turn, detections, look-ups.
    [[nodiscard]] int tasksInFlight() const { return tasksInFlight_.load(); }
    [[nodiscard]] MapState mapStateSnapshot() const;
    [[nodiscard]] bool isFloorSelectorVisible() const;

    // Live data on the map.
    using LiveTopicSet = std::unordered_set<std::shared_ptr<const CVLiveTopic>, CVLiveTopicHash, CVLiveTopicEqual>;
    // Plans the live-data topics for what the map shows; returns at once.
    void updateLiveDataSubscriptions();
    // Null when the domain has no listener.
    [[nodiscard]] CVLiveUpdateListener liveDataListener(const std::string& domainType) const;
    // The topics the last finished plan asked for.
    [[nodiscard]] LiveTopicSet subscribedTopics() const;
    [[nodiscard]] std::vector<std::string> enabledLiveDataDomains() const;
    [[nodiscard]] std::shared_ptr<CVInternalLiveDataDelegate> liveDataDelegate() const;
    [[nodiscard]] std::shared_ptr<TaskQueue> liveDataSubscriptionPipelineTaskQueue() const {
        return liveDataSubscriptionPipelineTaskQueue_;
    }
    // Selection (CVMapControl); the taps above end here too.
    [[nodiscard]] std::shared_ptr<CVLocation> selectedLocation() const override;
    void setSelectedLocation(std::shared_ptr<CVLocation> location) override;
    void selectWithLocation(std::shared_ptr<CVLocation> location, CVSelectionBehavior behavior) override;
    void selectWithBuilding(std::shared_ptr<CVBuilding> building, CVSelectionBehavior behavior) override;
    void selectWithVenue(std::shared_ptr<CVVenue> venue, CVSelectionBehavior behavior) override;
    void goToEntity(const CVVenue& venue) override;
    void goToEntity(const CVBuilding& building) override;
    void goToEntity(const CVFloor& floor) override;
    void goToEntity(const CVLocation& location) override;
    void setShowInfoWindowOnClickedLocation(bool show) override;
    // The user position, the directions renderers and the views put on the
    // adapter's view.
    [[nodiscard]] std::shared_ptr<CVPositionProvider> positionProvider() const override;
    void setPositionProvider(std::shared_ptr<CVPositionProvider> provider) override;
    [[nodiscard]] bool showUserPosition() const override;
    void setShowUserPosition(bool show) override;
    [[nodiscard]] std::shared_ptr<CVDirectionsRenderer> newDirectionsRenderer() override;
    // CVPositionProviderDelegate: draws the fix, marks the user's floor in
    // the default floor selector and tells the host.
    void onPositionUpdate(const CVPositionResult& position) override;
    [[nodiscard]] std::shared_ptr<CVPositionController> positionController() const { return positionController_; }
    // What the directions renderer and the position drawing see of this map
    // control; it shares the map control's ownership.
    [[nodiscard]] std::shared_ptr<CVMapControlDrawingSeam> drawingSeam();
    // The on-map logo and its bottom constraint, once on the adapter's view
    // (main thread).
    [[nodiscard]] std::shared_ptr<platform::ImageView> logoView() const;
    [[nodiscard]] std::shared_ptr<platform::LayoutConstraint> logoConstraint() const;

private:
    struct Private {};

public:
    CVMapControlInternal(Private, std::shared_ptr<CVMapProvider> map, const CVMapConfig& config,
                         Dependencies dependencies);

private:
    [[nodiscard]] static platform::Awaitable<void> start(std::shared_ptr<CVMapControlInternal> self);
    [[nodiscard]] static platform::Awaitable<void> renderOperation(std::shared_ptr<CVMapControlInternal> self,
                                                                   bool forceClear);
    [[nodiscard]] static platform::Awaitable<std::shared_ptr<CVFilter>> visibleAreaFilter(
        std::shared_ptr<CVMapControlInternal> self);
    [[nodiscard]] static platform::Awaitable<void> render(std::shared_ptr<CVMapControlInternal> self,
                                                          std::shared_ptr<CVFilter> filter, bool forceClear);
    [[nodiscard]] static platform::Awaitable<void> detection(std::shared_ptr<CVMapControlInternal> self,
                                                             std::uint64_t number);
    [[nodiscard]] platform::Awaitable<CVMapControlEntry::Locations> lookUp(CVFilter filter) const;
    // Unless a later detection was applied already: claims the detection
    // and assigns what it found in the same step (so no newer one can land
    // in between), runs the change and returns true.
    [[nodiscard]] bool applyDetectedVenue(std::uint64_t number, const std::shared_ptr<CVVenue>& venue);
    [[nodiscard]] bool applyDetectedBuilding(std::uint64_t number, const std::shared_ptr<CVBuilding>& building);
    // What follows an assignment of the venue or the building.
    void venueChanged(const std::shared_ptr<CVVenue>& previous, const std::shared_ptr<CVVenue>& venue);
    void buildingChanged(const std::shared_ptr<CVBuilding>& previous, const std::shared_ptr<CVBuilding>& building);
    // Main thread: shows the map's floor as it is now on the selector. The
    // selector's report of that floor is its echo, not a choice.
    void showFloorOn(const std::shared_ptr<CVCustomFloorSelector>& selector);
    [[nodiscard]] bool isSelectorEcho(std::int64_t floorIndex) const;
    void floorFit(const std::shared_ptr<CVBuilding>& building);
    void floorSelectorVisibilityStep();
    void updateTileProvider();
    void moveCameraThenRender(std::shared_ptr<CVFilter> filter);
    [[nodiscard]] bool delegateResponds(CVMapControlDelegateMember member,
                                        std::shared_ptr<CVMapControlDelegate>& delegate) const;
    void onMain(std::function<void()> work) const;
    template <typename Work>
    void startTracked(Work work) {
        ++tasksInFlight_;
        platform::Task::start(std::move(work), [self = shared_from_this()](const platform::TaskResult<void>&) {
            --self->tasksInFlight_;
        });
    }

    const std::shared_ptr<CVMapProvider> map_;
    const std::shared_ptr<CVMapControlEntry> entry_;
    const Clock clock_;
    const std::shared_ptr<TaskQueue> renderQueue_ = std::make_shared<TaskQueue>();

    std::atomic<int> tasksInFlight_{0};
    mutable std::mutex mutex_;
    MapState mapState_;
    std::vector<std::int64_t> hiddenFeatures_;
    std::shared_ptr<CVPositionProvider> positionProvider_;
    std::shared_ptr<CVVenue> currentVenue_;
    std::shared_ptr<CVBuilding> currentBuilding_;
    std::int64_t currentFloorIndex_ = 0;
    std::shared_ptr<CVCustomFloorSelector> floorSelector_;
    bool hideFloorSelector_ = false;
    bool showInfoWindowOnClickedLocation_ = true;
    bool isFloorSelectorVisible_ = false;
    // A camera change the throttle dropped since the last accepted one: the
    // idle camera then catches up.
    bool cameraChangeDropped_ = false;
    std::uint64_t detectionsStarted_ = 0;
    std::uint64_t lastAppliedDetection_ = 0;

    // Live data on the map (guarded by mutex_, but for the queue).
    [[nodiscard]] static platform::Awaitable<void> planLiveDataSubscriptions(
        std::shared_ptr<CVMapControlInternal> self);
    const std::shared_ptr<TaskQueue> liveDataSubscriptionPipelineTaskQueue_ = std::make_shared<TaskQueue>();
    std::shared_ptr<CVInternalLiveDataDelegate> liveDataDelegate_;
    std::map<std::string, CVLiveUpdateListener> liveDataDomainListeners_;
    // In the order of their latest enabling.
    std::vector<std::string> enabledLiveDataDomains_;
    bool liveDataDefaultRenderingEnabled_ = true;
    LiveTopicSet subscribedTopics_;
    // Selection and taps.
    // Fits the camera to the bounds (when known), then shows the position's
    // floor (when known).
    void fitCamera(const std::optional<CVGeoBounds>& bounds, const std::optional<CVPoint>& position);
    void selectionCameraMove(const std::optional<CVGeoBounds>& bounds, const std::optional<CVPoint>& position,
                             const CVSelectionBehavior& behavior);
    void zoomToCluster(const std::string& clusterId) const;
    std::shared_ptr<CVLocation> selectedLocation_;
    // The user position, the directions renderers and the views on the
    // adapter's view.
    class Drawing final : public CVMapControlDrawingSeam {
    public:
        explicit Drawing(CVMapControlInternal& owner) : owner_(owner) {}
        [[nodiscard]] int currentFloorIndex() const override;
        void selectWithFloorIndex(int floorIndex) override;
        [[nodiscard]] std::shared_ptr<CVMapProvider> mapProvider() const override { return owner_.map_; }
        void setCurrentDirectionsRenderer(std::weak_ptr<CVDirectionsRendererInternal> renderer) override;

    private:
        CVMapControlInternal& owner_;
    };
    void makePositionController();
    // Redraws the last known position, above what a render just drew.
    void redrawPosition();
    // The current directions renderer follows the floor, on the main thread:
    // at once there, queued from any other.
    void directionsFloorHook();
    void installLogo();
    [[nodiscard]] static platform::Awaitable<void> installDefaultFloorSelector(
        std::shared_ptr<CVMapControlInternal> self);
    // The floor-selector change, on the main thread.
    void floorSelectorChanged(const std::shared_ptr<CVCustomFloorSelector>& previous);
    void removeViews();
    Drawing drawing_{*this};
    // Made at creation, before the map control is shared; never replaced.
    std::shared_ptr<CVPositionController> positionController_;
    bool showUserPosition_ = false;
    std::weak_ptr<CVDirectionsRendererInternal> currentDirectionsRenderer_;
    // Set on the main thread once the logo is on the view.
    std::shared_ptr<platform::ImageView> logoView_;
    std::shared_ptr<platform::LayoutConstraint> logoConstraint_;
};

}  // namespace ambrell
