#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVRoute.h"
#include "routemodel/CVRouteBoundsInternal.h"
#include "routemodel/CVRouteLegInternal.h"

namespace ambrell {

// A route: its legs in travel order, the way types it avoided
// ("restrictions") and, carried as the service gave them, its totals,
// bounds, outline and summary.
class CVRouteInternal final : public CVRoute {
public:
    using Leg = std::shared_ptr<CVRouteLegInternal>;

    // An empty route.
    CVRouteInternal() = default;

    // Throws CVRouteCodingError: text that is not JSON, a top level that is
    // no object, or a member of the wrong kind.
    [[nodiscard]] static std::shared_ptr<CVRouteInternal> decode(std::string_view json);
    [[nodiscard]] static std::shared_ptr<CVRouteInternal> decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    [[nodiscard]] std::vector<std::shared_ptr<CVRouteLeg>> legs() const override;
    [[nodiscard]] const std::vector<Leg>& legsInternal() const { return legs_; }
    [[nodiscard]] std::vector<Leg>& legsInternal() { return legs_; }
    void setLegs(std::vector<Leg> legs) {
        legs_ = std::move(legs);
        legsPresent_ = true;
    }
    // Whether "legs" is written: it was read, set, or holds a leg (added
    // through legsInternal()). An empty route writes none.
    [[nodiscard]] bool hasLegs() const { return legsPresent_ || !legs_.empty(); }

    [[nodiscard]] std::vector<std::string> restrictions() const override { return restrictions_; }
    void setRestrictions(std::vector<std::string> restrictions) {
        restrictions_ = std::move(restrictions);
        restrictionsPresent_ = true;
    }
    // Whether "restrictions" is written: it was read or set, or holds a text.
    [[nodiscard]] bool hasRestrictions() const { return restrictionsPresent_ || !restrictions_.empty(); }

    [[nodiscard]] std::optional<std::vector<int>> orderedStopIndexes() const override { return orderedStopIndexes_; }
    void setOrderedStopIndexes(std::optional<std::vector<int>> indexes) { orderedStopIndexes_ = std::move(indexes); }

    [[nodiscard]] std::optional<double> distance() const { return distance_; }
    void setDistance(std::optional<double> distance) { distance_ = distance; }
    [[nodiscard]] std::optional<double> duration() const { return duration_; }
    void setDuration(std::optional<double> duration) { duration_ = duration; }
    [[nodiscard]] const std::optional<CVRouteBoundsInternal>& bounds() const { return bounds_; }
    void setBounds(std::optional<CVRouteBoundsInternal> bounds) { bounds_ = std::move(bounds); }
    [[nodiscard]] const std::optional<CVRoutePolylineInternal>& overview_polyline() const { return overviewPolyline_; }
    void setOverview_polyline(std::optional<CVRoutePolylineInternal> polyline) {
        overviewPolyline_ = std::move(polyline);
    }
    [[nodiscard]] const std::optional<std::string>& summary() const { return summary_; }
    void setSummary(std::optional<std::string> summary) { summary_ = std::move(summary); }

private:
    std::vector<Leg> legs_;
    std::vector<std::string> restrictions_;
    // An absent list and an empty one read the same, yet a document that
    // had the key keeps it when written back.
    bool legsPresent_ = false;
    bool restrictionsPresent_ = false;
    std::optional<std::vector<int>> orderedStopIndexes_;
    std::optional<double> distance_;
    std::optional<double> duration_;
    std::optional<CVRouteBoundsInternal> bounds_;
    std::optional<CVRoutePolylineInternal> overviewPolyline_;
    std::optional<std::string> summary_;
};

}  // namespace ambrell
