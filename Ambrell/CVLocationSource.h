#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Ambrell/CVLocation.h"

namespace ambrell {

// Where a location source stands; the raw values are part of the public face.
enum class CVLocationSourceStatus : int {
    notInitialized = 0,
    initialising = 1,
    unavailable = 2,
    inactive = 3,
    available = 4,
};

class CVLocationSource;

// Told of a source's locations as they change. A source calls its observers
// from its own thread, never on the main queue: an observer that touches
// views hops there itself.
class CVLocationsObserver {
public:
    CVLocationsObserver() = default;
    CVLocationsObserver(const CVLocationsObserver&) = delete;
    CVLocationsObserver& operator=(const CVLocationsObserver&) = delete;
    virtual ~CVLocationsObserver() = default;

    // New or changed locations of `source`.
    virtual void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                                   const std::shared_ptr<CVLocationSource>& source) = 0;
    // Ids of locations `source` no longer has.
    virtual void onLocationsDelete(const std::vector<std::string>& locationIds,
                                   const std::shared_ptr<CVLocationSource>& source) = 0;
    virtual void onStatusChange(CVLocationSourceStatus status, const std::shared_ptr<CVLocationSource>& source) = 0;
};

// A provider of locations: the library's venue sources, or a host's own
// (people, vehicles, ...), registered with the entry object. The library
// holds sources and observers weakly: their owners keep them alive.
class CVLocationSource {
public:
    CVLocationSource() = default;
    CVLocationSource(const CVLocationSource&) = delete;
    CVLocationSource& operator=(const CVLocationSource&) = delete;
    virtual ~CVLocationSource() = default;

    // The current locations; any thread.
    [[nodiscard]] virtual std::vector<std::shared_ptr<CVLocation>> getLocations() const = 0;
    [[nodiscard]] virtual CVLocationSourceStatus getStatus() const = 0;
    // Held weakly; adding an observer twice keeps one registration, so it is
    // told once per change.
    virtual void addLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) = 0;
    virtual void removeLocationsObserver(const std::shared_ptr<CVLocationsObserver>& observer) = 0;
};

}  // namespace ambrell
