#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/View.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/CVProjection.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVPositionPresenter;
class CVRouteRenderer;

// The adapter's camera, as far as the view models need it.
class CVCameraOperator {
public:
    virtual ~CVCameraOperator() = default;

    // The projection of the current camera, or null while the map cannot
    // project (not laid out yet, say).
    [[nodiscard]] virtual platform::Awaitable<std::shared_ptr<CVProjection>> projection() = 0;
};

// The map-provider adapter: the host's bridge to an outdoor map engine, which
// draws what the library hands it. The map control declares the rest of what
// it asks of the adapter beside these members.
class CVMapProvider {
public:
    virtual ~CVMapProvider() = default;

    // The adapter's map view, where the map's own controls go; null while it
    // has none. Read from any thread.
    [[nodiscard]] virtual std::shared_ptr<platform::View> view() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVCameraOperator> cameraOperator() const = 0;
    // The largest side, in pixels, of a realised 2D-model image.
    [[nodiscard]] virtual std::int64_t model2DResolutionLimit() const = 0;
    // Null when the adapter draws no routes.
    [[nodiscard]] virtual std::shared_ptr<CVRouteRenderer> routeRenderer() const = 0;
    // Null when the adapter draws no user position.
    [[nodiscard]] virtual std::shared_ptr<CVPositionPresenter> positionPresenter() const = 0;
    // Replaces what the adapter draws with the view models of one render;
    // `forceClear` drops the adapter's own caches of earlier models first.
    virtual void setViewModels(std::vector<ViewModel> models, bool forceClear) = 0;
};

}  // namespace ambrell
