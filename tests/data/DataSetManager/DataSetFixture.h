#pragma once

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "data/AmbrellLegacy.h"
#include "data/DataSetManager/CVDataSetCacheInternal.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVFileCache.h"
#include "platform/Image.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/EncodedImages.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

inline constexpr std::string_view kDataSetKey = "ds-key";

// The sync endpoints a solution's synchronisation fetches.
inline const std::vector<std::string>& syncEndpoints() {
    static const std::vector<std::string> endpoints{"graph",     "venues",         "buildings",    "solutions",
                                                    "appconfig", "categories",     "appuserroles", "routelayer",
                                                    "locations", "derivedGeometry"};
    return endpoints;
}

// A document of the sync endpoint that reads as its provider reads it: the
// lists empty, the solution and the app configuration with what they need.
inline std::string syncDocument(std::string_view endpoint) {
    if (endpoint == "solutions") {
        return R"({"id":"real-fixture","name":"Fixture Solution","defaultLanguage":"da",)"
               R"("availableLanguages":["da"],"modules":[]})";
    }
    if (endpoint == "appconfig") return R"({"menuInfo":{}})";
    return "[]";
}

// One transparent pixel.
inline std::string pngImage() {
    const auto png = platform::Image::create(1, 1)->pngData();
    return {reinterpret_cast<const char*>(png->data()), png->size()};
}

// The "dataset" description of a small solution whose resources the loopback
// service serves: an image, an external image and a tile package.
inline std::string datasetDocument(const LoopbackWebService& service) {
    boost::json::value document = {
        {"id", "real-fixture"},
        {"name", "Fixture Solution"},
        {"totalEstimatedSize", 1111},
        {"resources",
         {{{"type", "json"}, {"urls", boost::json::array{}}, {"estimatedSize", 1000}},
          {{"type", "images"}, {"urls", {service.url("/img/icon.png")}}, {"estimatedSize", 100}},
          {{"type", "externalimages"}, {"urls", {service.url("/ext/photo.jpg")}}, {"estimatedSize", 10}},
          {{"type", "tiles"}, {"urls", {service.url("/tiles/package.zip")}}, {"estimatedSize", 1}}}}};
    return boost::json::serialize(document);
}

// The errors a sync's result gathers; none without a result.
inline std::vector<std::shared_ptr<const platform::NSError>> underlyingErrors(
    const std::optional<platform::NSError>& result) {
    if (!result) return {};
    const auto found = result->userInfo.find("syncContent::underlyingError");
    if (found == result->userInfo.end()) return {};
    const auto* errors = std::get_if<std::vector<std::shared_ptr<const platform::NSError>>>(&found->second);
    return errors ? *errors : std::vector<std::shared_ptr<const platform::NSError>>{};
}

// Whether the sync's result reports the URL's answer as one that did not read,
// named as the sync names it.
inline bool reportsUnreadable(const std::optional<platform::NSError>& result, const std::string& url) {
    return std::ranges::any_of(underlyingErrors(result), [&](const auto& error) {
        return error->localizedDescription() == "Unreadable answer for " + url;
    });
}

// The shared settings point at a loopback web service, a session token is
// there (downloads wait for one), the main queue runs, and the container is a
// temp folder.
class DataSetFixture : public ContainerFixture {
protected:
    DataSetFixture() {
        ::setenv("AMBRELL_API", service_->baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        AmbrellLegacy::resetForTesting();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
    }

    ~DataSetFixture() override {
        platform::MainQueue::shared().drain();
        AmbrellLegacy::resetForTesting();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    [[nodiscard]] std::filesystem::path root() const { return containerRoot() / "datasets"; }

    [[nodiscard]] std::shared_ptr<CVDataSetCacheManagerInternal> makeManager(
        CVDataSetCacheManagerInternal::Clock now = {}) const {
        return std::make_shared<CVDataSetCacheManagerInternal>(
            CVDataSetCacheManagerInternal::Options{root(), nullptr, std::move(now)});
    }

    [[nodiscard]] static std::string datasetUrl() {
        return CVAXAPI::sharedInstance()->dataSetSyncUrlForSolutionId(kDataSetKey, std::nullopt);
    }

    // One synchronisation of the item: its result, once the run has ended.
    static std::optional<platform::NSError> synchronizeOnce(CVDataSetCacheManagerInternal& manager,
                                                            const std::shared_ptr<CVDataSetCacheItem>& item) {
        std::atomic<bool> done{false};
        std::mutex mutex;
        std::optional<platform::NSError> result;
        manager.synchronizeCacheItems({item}, nullptr, [&](const auto&, auto error) {
            std::lock_guard lock(mutex);
            result = std::move(error);
            done = true;
        });
        EXPECT_TRUE(waitFor([&] { return done.load(); }));
        platform::MainQueue::shared().drain();
        std::lock_guard lock(mutex);
        return result;
    }

    // Every URL of the small solution answers.
    void serveSolution() {
        service_->serveBody("/sync/dataset", datasetDocument(*service_));
        service_->addResponseHeader("/sync/dataset", "Content-Language", "da");
        for (const auto& endpoint : syncEndpoints()) service_->serveBody("/sync/" + endpoint, syncDocument(endpoint));
        service_->serveBody("/img/icon.png", pngImage(), "image/png");
        service_->serveBody("/ext/photo.jpg", jpegFile(16, 16, 0xFF3A7BC8), "image/jpeg");
    }

    std::optional<LoopbackWebService> service_{std::in_place};
    platform::MainQueueThread mainThread_;
};

}  // namespace ambrell::test
