#include "data/CVDerivedGeometryProvider.h"

#include <string_view>

#include "Ambrell/CVErrorCodes.h"
#include "data/AmbrellLegacy.h"
#include "data/CVContentProviderChain.h"
#include "data/CVModelCache.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "platform/TextEncoding.h"

namespace ambrell {

namespace {

using GeometryChain = CVContentProviderChain<CVDerivedGeometryProvider::DerivedGeometries>;

constexpr std::string_view kGeometryOperation =
    "-[CVDerivedGeometryProvider getDerivedGeometryAsync:completionHandler:]";

// A failed parse is not logged: the error code says all there is to say.
std::shared_ptr<CVDerivedGeometryProvider::DerivedGeometries> parseDerivedGeometries(
    const detail::ContentBytes& bytes, std::optional<platform::NSError>& /*error*/) {
    return CVDerivedGeometryProvider::derivedGeometriesFromData(bytes);
}

std::shared_ptr<const GeometryChain::Departures> geometryDepartures() {
    static const auto instance = std::make_shared<const GeometryChain::Departures>(GeometryChain::Departures{
        .errorCode = AmbrellErrorCode::kDerivedGeometryUnavailable,
        .emptyCopyIsMissing = true,
        .parseLocal = parseDerivedGeometries,
        .parseDownload = parseDerivedGeometries,
        .beforeStoringDownload = {},
        .parseFileOn304WithoutMemory = false,
    });
    return instance;
}

// With no copy of the venue's own in the data set, the data set's copy of the
// solution-wide document (downloaded by a provider without a venue) stands in
// for it ahead of the host app's resource. The geometries name only their
// location, not its venue, so the document is taken whole, as the resource
// is. The memory entry makes the chain answer it when the download fails or
// does not read; a download that reads replaces it.
void holdDataSetWideCopy(const std::string& url, const std::string& wideUrl, const std::string& dataSetId) {
    const auto cache = CVModelCache::memoryCache();
    const auto key = CVModelCache::cacheKeyForUrl(url);
    if (url == wideUrl || cache->objectForKey<CVDerivedGeometryProvider::DerivedGeometries>(key)) return;
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    if (const auto own = manager->dataForCachedUrl(url, dataSetId); own && !own->empty()) return;
    const auto wide = manager->dataForCachedUrl(wideUrl, dataSetId);
    if (!wide || wide->empty()) return;
    if (auto geometries = CVDerivedGeometryProvider::derivedGeometriesFromData(*wide)) {
        cache->setObject(geometries, key);
    }
}

}  // namespace

CVDerivedGeometryProvider::CVDerivedGeometryProvider(std::optional<std::string> venueId)
    : venueId_(std::move(venueId)) {}

const platform::DispatchQueue& CVDerivedGeometryProvider::queue() {
    // Never destroyed: requests may still be queued while the process exits.
    static const auto* const instance = new platform::DispatchQueue("com.ambrell.CVDerivedGeometryProvider");
    return *instance;
}

std::optional<std::string> CVDerivedGeometryProvider::venueId() const {
    std::lock_guard lock(mutex_);
    return venueId_;
}

void CVDerivedGeometryProvider::setVenueId(std::optional<std::string> venueId) {
    std::lock_guard lock(mutex_);
    venueId_ = std::move(venueId);
}

void CVDerivedGeometryProvider::setDelegate(std::weak_ptr<CVDerivedGeometryProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVDerivedGeometryProviderDelegate> CVDerivedGeometryProvider::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

std::shared_ptr<CVDerivedGeometryProvider::DerivedGeometries> CVDerivedGeometryProvider::derivedGeometriesFromData(
    const std::vector<std::uint8_t>& data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (!platform::isValidUTF8(text)) return nullptr;
    auto geometries = CVDerivedGeometry::arrayOfModelsFromString(text);
    if (!geometries) return nullptr;
    return std::make_shared<DerivedGeometries>(std::move(*geometries));
}

void CVDerivedGeometryProvider::getDerivedGeometryAsync(std::optional<std::string> solutionId, Completion completion) {
    GeometryChain::ReadyCallback ready =
        [self = weak_from_this().lock()](const std::shared_ptr<DerivedGeometries>& geometries) {
            if (!self) return;
            if (auto delegate = self->delegate()) delegate->onDerivedGeometryReady(geometries);
        };
    // A provider that is not shared has its venue read now.
    auto request = [self = weak_from_this().lock(), venueNow = venueId(), solutionId = std::move(solutionId),
                    ready = std::move(ready), completion = std::move(completion)]() mutable {
        const auto venue = self ? self->venueId() : venueNow;
        const auto language = AmbrellLegacy::getLanguage();
        const auto api = CVAXAPI::sharedInstance();
        auto url = venue ? api->derivedGeometrySyncUrlForSolutionId(solutionId, language, *venue)
                         : api->derivedGeometrySyncUrlForSolutionId(solutionId, language);
        const auto wideUrl = api->derivedGeometrySyncUrlForSolutionId(solutionId, language);
        // The URL stands for the bound key when there is no id; so does the data set.
        auto dataSetId = solutionId ? std::move(*solutionId) : AmbrellLegacy::getAmbrellAPIKey().value_or("");
        if (venue) holdDataSetWideCopy(url, wideUrl, dataSetId);
        GeometryChain::run(queue(), geometryDepartures(),
                           GeometryChain::Request{std::move(dataSetId), std::move(url), std::string(kGeometryOperation),
                                                  std::move(ready), std::move(completion)});
    };
    // Once the runtime is down the queue refuses blocks; the chain still answers once.
    if (detail::runtimeStopped()) {
        request();
        return;
    }
    queue().async(std::move(request));
}

void CVDerivedGeometryProvider::getDerivedGeometryWithCompletion(Completion completion) {
    getDerivedGeometryAsync(AmbrellLegacy::getAmbrellAPIKey(), std::move(completion));
}

}  // namespace ambrell
