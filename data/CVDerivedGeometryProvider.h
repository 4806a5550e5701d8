#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/CVDerivedGeometry.h"
#include "platform/Error.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

class CVDerivedGeometryProviderDelegate {
public:
    virtual ~CVDerivedGeometryProviderDelegate() = default;
    // On the main queue, before the request's completion.
    virtual void onDerivedGeometryReady(
        const std::shared_ptr<std::vector<std::shared_ptr<CVDerivedGeometry>>>& derivedGeometries) = 0;
};

// Loads the derived geometries of one venue (the "derivedGeometry" sync
// document filtered by the venue) through the content provider chain
// (CVContentProviderChain). Made with std::make_shared: a request keeps its
// provider alive until it has answered. Thread-safe.
//
// Every get... operation:
//   Completes: on the main queue (the delegate first). There is no check of
//     the solution id: an absent one stands for the bound API key.
//   Errors: 100920 when there is no derived geometry to answer: the
//     download failed or is not an array of derived geometries, and nothing
//     is held.
//   Cancelling: not possible.
class CVDerivedGeometryProvider : public std::enable_shared_from_this<CVDerivedGeometryProvider> {
public:
    using DerivedGeometries = std::vector<std::shared_ptr<CVDerivedGeometry>>;
    using Completion = std::function<void(std::shared_ptr<DerivedGeometries>, std::optional<platform::NSError>)>;

    // Without a venue the request is for the whole solution.
    CVDerivedGeometryProvider() = default;
    explicit CVDerivedGeometryProvider(std::optional<std::string> venueId);

    [[nodiscard]] std::optional<std::string> venueId() const;
    void setVenueId(std::optional<std::string> venueId);
    void setDelegate(std::weak_ptr<CVDerivedGeometryProviderDelegate> delegate);
    [[nodiscard]] std::shared_ptr<CVDerivedGeometryProviderDelegate> delegate() const;

    // The URL is made when the request runs on the queue, with the venue id
    // and the content language of that moment.
    void getDerivedGeometryAsync(std::optional<std::string> solutionId, Completion completion);
    // For the bound API key.
    void getDerivedGeometryWithCompletion(Completion completion);

    // The geometries of a JSON array; none, without an error, for anything else.
    [[nodiscard]] static std::shared_ptr<DerivedGeometries> derivedGeometriesFromData(
        const std::vector<std::uint8_t>& data);

    // "com.ambrell.CVDerivedGeometryProvider", shared by every instance.
    [[nodiscard]] static const platform::DispatchQueue& queue();

private:
    mutable std::mutex mutex_;
    std::optional<std::string> venueId_;
    std::weak_ptr<CVDerivedGeometryProviderDelegate> delegate_;
};

}  // namespace ambrell
