#pragma once

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Ambrell/CVPoint.h"
#include "data/CVEntrySeams.h"
#include "foundation/CVAXAPI.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "routemodel/CVExternalDirectionsService.h"
#include "routemodel/CVExternalDistanceMatrixService.h"
#include "routemodel/MapControlInternalExternalServices.h"
#include "routing/CVPlaceLookup.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/LoopbackWebService.h"

// What the directions tests share: the query items of recorded requests,
// scripted directions and matrix documents, and fakes of the entry object,
// the map control and the map adapter's outdoor services.

namespace ambrell::test {

using QueryItems = std::vector<std::pair<std::string, std::string>>;

// "%7C" to "|"; a "+" stays a "+".
[[nodiscard]] std::string percentDecoded(std::string_view text);
// The items of a query text, names and values decoded, in order.
[[nodiscard]] QueryItems queryItems(std::string_view query);
// The value of the first item of that name.
[[nodiscard]] std::optional<std::string> queryValue(const RecordedRequest& request, std::string_view name);
// The names of the items, in order.
[[nodiscard]] std::vector<std::string> queryNames(const RecordedRequest& request);
// Splits a text at the separator ("" gives no part).
[[nodiscard]] std::vector<std::string> split(std::string_view text, char separator);
// A point of "lat,lng" or "lat,lng,z".
[[nodiscard]] CVPoint pointOf(std::string_view text);

// A directions answer of one route with one leg of one step from `from` to
// `to`, walking, 10 m in 12 s, at the given floor names.
[[nodiscard]] std::string oneStepRouteDocument(const CVPoint& from, const CVPoint& to,
                                               std::string_view travelMode = "walking");
// A matrix answer: every element "OK" with the duration cost(row, column).
[[nodiscard]] std::string matrixDocument(std::size_t rows, std::size_t columns,
                                         const std::function<long long(std::size_t, std::size_t)>& cost,
                                         std::string_view status = "OK");

// The run of one coroutine from the test's thread.
template <typename T>
T run(platform::Awaitable<T> work) {
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
}

// The web service on loopback, with a session token in place.
class LoopbackApi {
public:
    LoopbackApi() {
        ::setenv("AMBRELL_API", web.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
    }
    ~LoopbackApi() {
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }
    LoopbackApi(const LoopbackApi&) = delete;
    LoopbackApi& operator=(const LoopbackApi&) = delete;

    void answer(std::string_view path, std::string body, int status = 200) {
        web.respond(std::string(path), LoopbackWebService::Response{status, std::move(body), {}});
    }
    // The target of the last request to the path; empty when none came.
    [[nodiscard]] std::string lastTarget(std::string_view path) const {
        const auto last = web.lastRequest(path);
        return last ? last->target : std::string();
    }

    LoopbackWebService web;
};

// The adapter's outdoor directions: a route of one outdoor leg of one step
// in the configuration's mode, or none when told; every call recorded.
class FakeOutdoorDirections final : public CVExternalDirectionsService {
public:
    platform::Awaitable<std::shared_ptr<CVRouteInternal>> query(CLLocationCoordinate2D origin,
                                                                CLLocationCoordinate2D destination,
                                                                CVDirectionsConfig config) override;

    // Calls as "from lat,lng to lat,lng mode".
    EventRecorder calls;
    std::vector<CVDirectionsConfig> configs() const {
        std::lock_guard lock(mutex_);
        return configs_;
    }
    bool answerNone = false;

private:
    mutable std::mutex mutex_;
    std::vector<CVDirectionsConfig> configs_;
};

// The adapter's outdoor matrix: scripted; the prune may drop and reorder.
class FakeOutdoorMatrix final : public CVExternalDistanceMatrixService {
public:
    using Answer = std::function<std::optional<CVDistanceMatrixResult>(const Coordinates&, const Coordinates&)>;
    using Prune = std::function<std::pair<Points, Points>(Points, Points)>;

    platform::Awaitable<std::optional<CVDistanceMatrixResult>> query(Coordinates origins, Coordinates destinations,
                                                                     CVDirectionsConfig config) override;
    std::pair<Points, Points> pruneMatrixDimensions(Points origins, Points destinations) override;

    // Calls as "query 2x3" and "prune 2x3".
    EventRecorder calls;
    // Every element "OK" with the duration cost(row, column), by default 10.
    Answer answer;
    Prune prune;
};

// A map control that offers the adapter's services (each may be null).
class FakeMapControl final : public CVActiveMapControl, public MapControlInternalExternalServices {
public:
    [[nodiscard]] std::shared_ptr<CVExternalDirectionsService> externalDirectionService() const override {
        return directions;
    }
    [[nodiscard]] std::shared_ptr<CVExternalDistanceMatrixService> externalMatrixService() const override {
        return matrix;
    }

    std::shared_ptr<FakeOutdoorDirections> directions;
    std::shared_ptr<FakeOutdoorMatrix> matrix;
};

// No venue, building or floor anywhere.
class NowherePlaces final : public CVPlaceLookup {
public:
    [[nodiscard]] CVPlaceNames getDataFromPoint(const CVPoint& /*point*/) const override { return {}; }
};

// The entry object as the directions code reads it.
class FakeEntry final : public CVEntryObjectSeam {
public:
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const override {
        return nullptr;
    }
    [[nodiscard]] std::optional<std::string> apiKey() const override { return key; }
    [[nodiscard]] std::string language() const override { return "en"; }
    [[nodiscard]] std::vector<CVUserRole> userRoles() const override { return roles; }
    [[nodiscard]] std::shared_ptr<CVActiveMapControl> activeMapControl() const override { return mapControl; }

    std::optional<std::string> key;
    std::vector<CVUserRole> roles;
    std::shared_ptr<CVActiveMapControl> mapControl;
};

}  // namespace ambrell::test
