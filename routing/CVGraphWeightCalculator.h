#pragma once

#include "Ambrell/CVHighway.h"
#include "routing/Graph/CVAccessTokens.h"

#include <cstdint>
#include <optional>
#include <span>

namespace ambrell {

class CVGraphEdge;
class CVGraphNode;

// The weight of an arc: the time to walk it in tenths of a second, with the
// door or lift delay of the node it enters, wait times and avoidance
// penalties. An arc or node the access tokens do not open is impassable.
class CVGraphWeightCalculator {
public:
    // True while the graph's avoid list is not empty: avoided way types get the
    // penalty, wheelchair lifts and ramps lose theirs.
    [[nodiscard]] bool avoiding() const { return avoiding_; }
    void setAvoiding(bool avoiding) { avoiding_ = avoiding; }
    // None until the graph hands tokens over; counts as no tokens.
    [[nodiscard]] const std::optional<CVAccessTokens>& accessTokens() const { return accessTokens_; }
    void setAccessTokens(std::optional<CVAccessTokens> accessTokens) { accessTokens_ = std::move(accessTokens); }

    // The weight of edge from -> to. A missing node or edge is logged as an
    // invalid parameter and weighs as impassable. Times too large for the
    // weight are impassable; a time that is not a number weighs 0.
    [[nodiscard]] std::int64_t getWeightFromNode(const CVGraphNode* from, const CVGraphEdge* edge,
                                                 const CVGraphNode* to, std::span<const CVHighway> avoid) const;

    // Tenths of a second of a time in seconds, truncated toward zero and
    // saturated: NaN gives 0, anything beyond the range impassable.
    [[nodiscard]] static std::int64_t weightForSeconds(double seconds);

private:
    bool avoiding_ = false;
    std::optional<CVAccessTokens> accessTokens_;
};

}  // namespace ambrell
