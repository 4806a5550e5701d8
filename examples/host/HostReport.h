#pragma once

#include <chrono>
#include <future>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>

namespace ambrell {
class AmbrellShared;
}

namespace ambrell::host {

// How long the host waits for any one answer of the SDK before it gives up.
constexpr auto kAnswerBound = std::chrono::minutes(2);

// Starts an operation of the SDK with a completion handler and waits for the
// handler's one call. The SDK calls handlers from its own tasks, never on
// the main queue, so this may block any thread but the main one.
template <typename Result, typename Start>
Result answerOf(const char* what, Start&& start) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto answer = promise->get_future();
    start([promise](Result result) { promise->set_value(std::move(result)); });
    if (answer.wait_for(kAnswerBound) != std::future_status::ready) {
        throw std::runtime_error(std::string(what) + " did not answer");
    }
    return answer.get();
}

// The loaded solution: its venues with their buildings and floors, and how
// many locations there are of each kind and on each floor.
void printSummary(AmbrellShared& sdk, std::ostream& out);

// A few text searches and filtered queries, each with its results.
void printSearches(AmbrellShared& sdk, std::ostream& out);

// How the map would draw a few location types: each type's display rule as
// resolved through the solution's main and default rules.
void printDisplayRules(AmbrellShared& sdk, std::ostream& out);

}  // namespace ambrell::host
