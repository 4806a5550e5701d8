// Route assembly of the directions planner: the legs of every slot joined into
// one route, the outdoor leg's neighbours folded into it, redundant transfer
// walks of transit legs removed, and instruction texts written.

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>

#include "routing/CVDirectionsHelper.h"
#include "routing/CVDirectionsServiceImpl.h"

namespace ambrell {

namespace route_assembly {
namespace {

using Step = std::shared_ptr<CVRouteStepInternal>;

// Sums are made in 32-bit floating point, as the route data's numbers are
// kept; an absent operand counts as 0.
double floatSum(std::optional<double> a, std::optional<double> b) {
    return static_cast<double>(static_cast<float>(a.value_or(0)) + static_cast<float>(b.value_or(0)));
}

template <typename Target, typename Source>
void growBy(Target& target, const Source& source) {
    target.setDistance(floatSum(target.distance(), source.distance()));
    target.setDuration(floatSum(target.duration(), source.duration()));
}

bool isOutdoor(const std::shared_ptr<CVRouteLegInternal>& leg) {
    return leg && leg->routeLegType() == CVRouteLegType::outdoor;
}

std::optional<std::string> arrivalStopName(const CVRouteStepInternal& step) {
    const auto& details = step.transit_details();
    if (!details || !details->arrival_stop) return std::nullopt;
    return details->arrival_stop->name;
}

std::optional<std::string> departureStopName(const CVRouteStepInternal& step) {
    const auto& details = step.transit_details();
    if (!details || !details->departure_stop) return std::nullopt;
    return details->departure_stop->name;
}

void writeInstructions(const std::vector<Step>& steps) {
    if (steps.empty() || !steps.front()) return;
    const CVRouteStepInternal* previous = steps.front().get();
    for (const auto& step : steps) {
        if (!step) continue;
        if (step->html_instructions().value_or("").empty() && !step->maneuver().value_or("").empty()) {
            step->setHtml_instructions(
                CVDirectionsHelper::generateStepInstructions(*step, *previous, step->heading() - previous->heading()));
        }
        if (const auto& subSteps = step->stepsInternal(); subSteps && !subSteps->empty() && subSteps->front()) {
            const CVRouteStepInternal* previousSub = subSteps->front().get();
            for (const auto& subStep : *subSteps) {
                if (!subStep) continue;
                if (subStep->html_instructions().value_or("").empty() && !subStep->maneuver().value_or("").empty()) {
                    subStep->setHtml_instructions(CVDirectionsHelper::generateStepInstructions(
                        *subStep, *previousSub, subStep->heading() - previousSub->heading()));
                }
                previousSub = subStep.get();
            }
        }
        previous = step.get();
    }
}

}  // namespace
}  // namespace route_assembly

CVTravelMode CVDirectionsServiceImpl::travelMode(const std::optional<std::string>& text) {
    if (!text) return CVTravelMode::unknown;
    std::string lower = *text;
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "walking") return CVTravelMode::walking;
    if (lower == "bicycling") return CVTravelMode::bicycling;
    if (lower == "driving") return CVTravelMode::driving;
    if (lower == "transit") return CVTravelMode::transit;
    return CVTravelMode::unknown;
}

platform::Awaitable<CVDirectionsServiceImpl::Route> CVDirectionsServiceImpl::combineRoutes() {
    if (routes.empty() || std::ranges::any_of(routes, [](const Route& route) { return !route; })) co_return nullptr;
    Legs legs;
    for (const auto& route : routes) {
        for (const auto& leg : route->legsInternal()) {
            if (leg) legs.push_back(leg);
        }
    }
    mergeLegs(legs);
    auto result = routes.front();
    result->setLegs(legs);
    removeRedundantTransitWalks(legs);
    generateInstructions(legs);
    co_return result;
}

void CVDirectionsServiceImpl::mergeLegs(Legs& legs) const {
    // A missing leg has nothing to fold and nothing to keep.
    std::erase(legs, nullptr);
    const auto outdoor = std::ranges::find_if(legs, route_assembly::isOutdoor);
    if (outdoor == legs.end()) return;
    auto position = static_cast<std::size_t>(outdoor - legs.begin());
    const auto folded = *outdoor;
    auto& steps = folded->stepsInternal();
    const bool transit = travelMode(travelModeText) == CVTravelMode::transit;

    // The leg before: its steps go ahead of the outdoor leg's.
    if (position >= 1) {
        const auto previous = legs[position - 1];
        const auto& previousSteps = previous->stepsInternal();
        bool fold = true;
        if (!previousSteps.empty()) {
            if (!transit) {
                std::vector<route_assembly::Step> moved;
                for (const auto& step : previousSteps) {
                    if (!step) continue;
                    step->setTravel_mode(travelModeText);
                    route_assembly::growBy(*folded, *step);
                    moved.push_back(step);
                }
                steps.insert(steps.begin(), moved.begin(), moved.end());
                if (previousSteps.front()) folded->setStart_location(previousSteps.front()->start_locationInternal());
            } else if (steps.empty() || !steps.front()) {
                // Nothing to fold into: the leg before stays as it is.
                fold = false;
            } else if (travelMode(steps.front()->travel_mode()) == CVTravelMode::transit) {
                if (const auto whole = stepFromLeg(*previous)) {
                    steps.insert(steps.begin(), whole);
                    route_assembly::growBy(*folded, *previous);
                    folded->setStart_location(whole->start_locationInternal());
                } else {
                    fold = false;
                }
            } else {
                const auto& first = steps.front();
                std::vector<route_assembly::Step> nested;
                std::vector<CVRouteStepInternal::Coordinate> starts;
                for (const auto& step : previousSteps) {
                    if (!step) continue;
                    nested.push_back(step);
                    starts.push_back(step->start_locationInternal());
                    route_assembly::growBy(*first, *step);
                    route_assembly::growBy(*folded, *step);
                }
                if (auto& subSteps = first->stepsInternal())
                    subSteps->insert(subSteps->begin(), nested.begin(), nested.end());
                if (auto& geometry = first->geometryInternal())
                    geometry->insert(geometry->begin(), starts.begin(), starts.end());
                if (previousSteps.front()) {
                    first->setStart_location(previousSteps.front()->start_locationInternal());
                    folded->setStart_location(previousSteps.front()->start_locationInternal());
                }
            }
        }
        if (fold) {
            legs.erase(legs.begin() + static_cast<std::ptrdiff_t>(position - 1));
            --position;
        }
    }

    // The leg after: folded in when it goes on in the same mode.
    if (position + 1 >= legs.size()) return;
    const auto next = legs[position + 1];
    const auto& nextSteps = next->stepsInternal();
    const auto nextFirst = nextSteps.empty() ? nullptr : nextSteps.front();
    const auto ownLast = steps.empty() ? nullptr : steps.back();
    if (!nextFirst && !ownLast) {
        legs.erase(legs.begin() + static_cast<std::ptrdiff_t>(position + 1));
        return;
    }
    if (!nextFirst || !ownLast) return;
    if (travelMode(nextFirst->travel_mode()) != travelMode(ownLast->travel_mode())) return;

    if (!transit) {
        for (const auto& step : std::vector<route_assembly::Step>(nextSteps)) {
            if (!step) continue;
            step->setTravel_mode(travelModeText);
            steps.push_back(step);
            route_assembly::growBy(*folded, *step);
            folded->setEnd_location(step->end_locationInternal());
        }
    } else if (travelMode(ownLast->travel_mode()) == CVTravelMode::transit) {
        const auto whole = stepFromLeg(*next);
        steps.push_back(whole);
        route_assembly::growBy(*folded, *next);
        folded->setEnd_location(whole->end_locationInternal());
    } else {
        for (const auto& step : nextSteps) {
            if (!step) continue;
            if (auto& subSteps = ownLast->stepsInternal()) subSteps->push_back(step);
            if (auto& geometry = ownLast->geometryInternal()) geometry->push_back(step->end_locationInternal());
            route_assembly::growBy(*ownLast, *step);
            ownLast->setEnd_location(step->end_locationInternal());
            route_assembly::growBy(*folded, *step);
            folded->setEnd_location(step->end_locationInternal());
        }
    }
    legs.erase(legs.begin() + static_cast<std::ptrdiff_t>(position + 1));
}

std::shared_ptr<CVRouteStepInternal> CVDirectionsServiceImpl::stepFromLeg(const CVRouteLegInternal& leg) {
    const auto& steps = leg.stepsInternal();
    if (steps.empty() || !steps.front()) return nullptr;
    const auto whole = steps.front();
    std::vector<CVRouteStepInternal::Coordinate> geometry;
    for (const auto& step : steps) {
        if (step && step->geometryInternal()) {
            geometry.insert(geometry.end(), step->geometryInternal()->begin(), step->geometryInternal()->end());
        }
    }
    whole->setStart_location(leg.start_locationInternal());
    whole->setEnd_location(leg.end_locationInternal());
    whole->setDuration(leg.duration());
    whole->setDistance(leg.distance());
    whole->setGeometry(std::move(geometry));
    return whole;
}

void CVDirectionsServiceImpl::removeRedundantTransitWalks(const Legs& legs) {
    for (const auto& leg : legs) {
        if (!route_assembly::isOutdoor(leg) || leg->stepsInternal().size() <= 2) continue;
        const auto steps = leg->stepsInternal();
        std::vector<std::size_t> marked;
        for (std::size_t a = 0; a + 2 < steps.size(); ++a) {
            const auto& first = steps[a];
            const auto& walk = steps[a + 1];
            const auto& last = steps[a + 2];
            if (!first || !walk || !last) continue;
            if (travelMode(first->travel_mode()) != CVTravelMode::transit ||
                travelMode(walk->travel_mode()) != CVTravelMode::walking ||
                travelMode(last->travel_mode()) != CVTravelMode::transit) {
                continue;
            }
            if (walk->distance() != std::optional<double>(0.0)) continue;
            if (route_assembly::arrivalStopName(*first) != route_assembly::departureStopName(*last)) continue;
            marked.push_back(a + 1);
        }
        auto& kept = leg->stepsInternal();
        for (auto index = marked.rbegin(); index != marked.rend(); ++index) {
            kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(*index));
        }
    }
}

void CVDirectionsServiceImpl::generateInstructions(const Legs& legs) {
    for (const auto& leg : legs) {
        if (leg) route_assembly::writeInstructions(leg->stepsInternal());
    }
}

void CVDirectionsServiceImpl::labelRouteStart(const Route& route,
                                              const std::shared_ptr<CVRouteNetworkEntryPoint>& entryPoint) {
    if (!route || route->legsInternal().empty() || !route->legsInternal().front()) return;
    const auto label = entryPoint ? entryPoint->label() : std::optional<std::string>(std::string());
    const auto& leg = route->legsInternal().front();
    if (leg->start_locationInternal()) leg->start_locationInternal()->setLabel(label);
    if (!leg->stepsInternal().empty() && leg->stepsInternal().front() &&
        leg->stepsInternal().front()->start_locationInternal()) {
        leg->stepsInternal().front()->start_locationInternal()->setLabel(label);
    }
}

}  // namespace ambrell
