#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "routing/CVRouteObstacle.h"

namespace ambrell {

namespace platform {
class DispatchQueue;
}

// Where path optimisation finds the obstacles of the rooms a path crosses.
class CVRouteObstacleSource {
public:
    using Obstacles = std::vector<std::shared_ptr<const CVRouteObstacle>>;

    CVRouteObstacleSource() = default;
    CVRouteObstacleSource(const CVRouteObstacleSource&) = delete;
    CVRouteObstacleSource& operator=(const CVRouteObstacleSource&) = delete;
    virtual ~CVRouteObstacleSource() = default;

    // The obstacles whose room list names any of the ids, each once.
    [[nodiscard]] virtual Obstacles obstaclesForLocationsWithIds(const std::vector<std::string>& locationIds) const = 0;
};

// The route layer of the current solution: its obstacles, loaded from the
// memory cache or the data set and refreshed from the web service's
// "routelayer" sync endpoint. Nothing in the library makes one; a host hands
// it to path optimisation as its obstacle source.
//
// synchronizeObstacles() completes on the main queue, exactly once per call:
// with no error as soon as obstacles are at hand (from memory, the data set,
// a download, or the stored file after a 304), else with the error
// kRouteLayerUnavailable (103010, no user info). A refresh after the answer
// still replaces the obstacles. A download replaces the data set's copy only
// once it reads as a layer. Calls cannot be cancelled; once the runtime is
// down, or stops before the call's work is queued, a call is answered with
// the error.
//
// Loads run on the serial queue "com.ambrell.CVRouteLayerService"; a
// download's answer is handled on the HTTP data provider's thread. The
// obstacles are guarded: readers take a snapshot. Safe from any thread.
class CVRouteLayerService final : public CVRouteObstacleSource {
public:
    using ObstaclesPtr = std::shared_ptr<const Obstacles>;
    using Completion = std::function<void(std::optional<platform::NSError>)>;

    CVRouteLayerService();
    ~CVRouteLayerService() override;

    [[nodiscard]] static const platform::DispatchQueue& sharedQueue();
    // The "routelayer" sync URL of the solution in the language.
    [[nodiscard]] static std::string urlForFetchingRouteLayer(std::optional<std::string_view> solutionId,
                                                              std::optional<std::string_view> locale);
    // The obstacles of a route-layer document (a JSON array of obstacle
    // objects), in document order; empty for anything else.
    [[nodiscard]] static Obstacles routeLayerFromData(const std::vector<std::uint8_t>& data);
    // The same, but none for bytes that are not a JSON array (a valid "[]"
    // is an empty layer).
    [[nodiscard]] static std::optional<Obstacles> readRouteLayer(const std::vector<std::uint8_t>& data);
    // The obstacles whose room list names any of the ids, each once, in the
    // order of `obstacles`.
    [[nodiscard]] static Obstacles filterObstacles(const Obstacles& obstacles,
                                                   const std::vector<std::string>& locationIds);

    [[nodiscard]] Obstacles obstaclesForLocationsWithIds(const std::vector<std::string>& locationIds) const override;

    // Null until a synchronisation found obstacles (an empty layer is not null).
    [[nodiscard]] ObstaclesPtr allObstacles() const;
    void setAllObstacles(ObstaclesPtr obstacles);

    // For the bound API key (the solution id) and the current language.
    void synchronizeObstacles(Completion completion);

private:
    struct State {
        mutable std::mutex mutex;
        ObstaclesPtr allObstacles;
    };
    std::shared_ptr<State> state_;
};

}  // namespace ambrell
