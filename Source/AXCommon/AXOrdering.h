#pragma once

namespace ambrell {

// How the location service orders the ids it answers.
enum class AXOrdering {
    // Best text match first, then nearest to the query's point, then store order.
    relevance,
    // Nearest to the query's point first, then store order.
    distance,
};

}  // namespace ambrell
