// The derived-geometry provider against the sample's loopback web service,
// which serves each venue its own document; the sample's bundle, whose one
// document holds every venue's, is the host app's resources.

#include <gtest/gtest.h>

#include <future>

#include "data/AmbrellLegacy.h"
#include "data/CVDerivedGeometryProvider.h"
#include "data/CVModelCache.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "tests/data/SampleServiceFixture.h"

namespace ambrell::derived_geometry_provider_test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMeridian = "c4c33ed16a328b160781e953";
constexpr std::string_view kHarbour = "fa9667907de4ca4e499511cb";
// The sample's counts: per venue, and in the document of all venues.
constexpr int kMeridianCount = 237;
constexpr int kHarbourCount = 111;
constexpr int kBundledCount = 348;

// The number of geometries answered (-1 for none) or the error's code.
struct Answer {
    int count = -1;
    std::int64_t errorCode = 0;
    bool onMainQueue = false;
    bool delegateFirst = false;

    friend bool operator==(const Answer&, const Answer&) = default;
};

class Delegate : public CVDerivedGeometryProviderDelegate {
public:
    void onDerivedGeometryReady(
        const std::shared_ptr<CVDerivedGeometryProvider::DerivedGeometries>& geometries) override {
        last = static_cast<int>(geometries->size());
    }
    // Touched on the main queue only.
    int last = -1;
};

class DerivedGeometryProvider : public test::SampleServiceFixture {
protected:
    std::string url(std::string_view venueId, std::string_view solutionId = {}) const {
        return CVAXAPI::sharedInstance()->derivedGeometrySyncUrlForSolutionId(
            solutionId.empty() ? service_.solutionId() : solutionId, "en", venueId);
    }
    fs::path dataSetFile(std::string_view venueId, std::string_view solutionId = {}) const {
        return *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(
            url(venueId, solutionId), solutionId.empty() ? service_.solutionId() : solutionId);
    }
    // The route of the venue's URL on the loopback service.
    std::string route(std::string_view venueId, std::string_view solutionId) const {
        return url(venueId, solutionId).substr(service_.baseUrl().size() - 1);
    }

    // Asks a new provider for the venue, with the bound key when no id is given.
    static Answer fetch(std::string_view venueId, std::optional<std::string> solutionId = std::nullopt) {
        const auto provider = std::make_shared<CVDerivedGeometryProvider>(std::string(venueId));
        const auto delegate = std::make_shared<Delegate>();
        provider->setDelegate(delegate);
        auto promise = std::make_shared<std::promise<Answer>>();
        auto done = [promise, delegate](auto geometries, auto error) {
            const int count = geometries ? static_cast<int>(geometries->size()) : -1;
            promise->set_value(Answer{count, error ? error->code : 0, platform::MainQueue::shared().isCurrent(),
                                      geometries && delegate->last == count});
        };
        if (solutionId) {
            provider->getDerivedGeometryAsync(std::move(solutionId), done);
        } else {
            provider->getDerivedGeometryWithCompletion(done);
        }
        auto answer = promise->get_future();
        if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return answer.get();
    }
    static Answer geometries(int count) { return {count, 0, true, true}; }
    static Answer failure() { return {-1, 100920, true, false}; }
};

TEST_F(DerivedGeometryProvider, EachVenueDownloadsItsOwnDocumentIntoTheDataSet) {
    EXPECT_EQ(fetch(kMeridian), geometries(kMeridianCount));
    EXPECT_EQ(fetch(kHarbour, service_.solutionId()), geometries(kHarbourCount));
    for (const auto venue : {kMeridian, kHarbour}) {
        EXPECT_TRUE(fs::exists(dataSetFile(venue))) << venue;
        const auto key = CVModelCache::cacheKeyForUrl(url(venue));
        EXPECT_TRUE(CVModelCache::memoryCache()->objectForKey<CVDerivedGeometryProvider::DerivedGeometries>(key));
    }
    const auto requests = service_.web().requestsTo("/sync/derivedGeometry");
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_TRUE(requests[1].query.ends_with("venueId=" + std::string(kHarbour))) << requests[1].query;
}

TEST_F(DerivedGeometryProvider, OfflineEachVenueReadsItsDataSetCopyElseTheBundledDocumentOfAllVenues) {
    EXPECT_EQ(fetch(kMeridian), geometries(kMeridianCount));
    EXPECT_EQ(fetch(kHarbour), geometries(kHarbourCount));
    service_.web().clearRequests();
    setOnline(false);
    CVModelCache::memoryCache()->clearCache();
    EXPECT_EQ(fetch(kMeridian), geometries(kMeridianCount));
    EXPECT_EQ(fetch(kHarbour), geometries(kHarbourCount));

    // An empty copy counts as none, like a missing one.
    CVModelCache::memoryCache()->clearCache();
    ASSERT_FALSE(platform::writeFileAtomically(dataSetFile(kMeridian), std::string_view()));
    fs::remove(dataSetFile(kHarbour));
    EXPECT_EQ(fetch(kMeridian), geometries(kBundledCount));
    EXPECT_EQ(fetch(kHarbour), geometries(kBundledCount));
    EXPECT_TRUE(service_.web().requests().empty());

    // Ahead of the bundle, the data set's solution-wide copy. Its geometries
    // name no venue: it is taken whole.
    CVModelCache::memoryCache()->clearCache();
    const auto wide = *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(
        CVAXAPI::sharedInstance()->derivedGeometrySyncUrlForSolutionId(service_.solutionId(), "en"),
        service_.solutionId());
    ASSERT_FALSE(platform::writeFileAtomically(wide, R"([{"geodataId": "a"}, {"geodataId": "b"}])"));
    EXPECT_EQ(fetch(kMeridian), geometries(2));
    EXPECT_EQ(fetch(kHarbour), geometries(2));
}

TEST_F(DerivedGeometryProvider, AnUnusableAnswerIsAFailedDownloadThatTheMemoryEntryAnswers) {
    const std::string other = "other-solution";
    const auto venueRoute = route(kMeridian, other);
    service_.web().respond(venueRoute, {200, service_.syncDocument("derivedGeometry", "en"), {}});
    EXPECT_EQ(fetch(kMeridian, other), geometries(kBundledCount));
    const std::vector<std::string> unusable = {R"({"geodataId": "r-1"})", "[", "\xff\xfe[]"};
    for (const auto& body : unusable) {
        service_.web().respond(venueRoute, {200, body, {}});
        EXPECT_EQ(fetch(kMeridian, other), geometries(kBundledCount)) << body << ": the memory entry";
    }

    // Without a memory entry, neither a 304, a transport error nor an unusable answer has an answer.
    CVModelCache::memoryCache()->clearCache();
    fs::remove(dataSetFile(kMeridian, other));
    service_.web().respond(venueRoute, {304, "", {}});
    EXPECT_EQ(fetch(kMeridian, other), failure());
    service_.web().respond(venueRoute, {503, "", {}});
    EXPECT_EQ(fetch(kMeridian, other), failure());
    service_.web().respond(venueRoute, {200, unusable.front(), {}});
    EXPECT_EQ(fetch(kMeridian, other), failure());
    EXPECT_EQ(fetch(kMeridian, ""), failure()) << "no data set";
}

TEST_F(DerivedGeometryProvider, TheUrlIsMadeWhenTheRequestRuns) {
    const auto provider = std::make_shared<CVDerivedGeometryProvider>();
    EXPECT_EQ(provider->venueId(), std::nullopt);
    provider->setVenueId(std::string(kHarbour));
    EXPECT_EQ(provider->venueId(), std::string(kHarbour));
    // Hold the queue so that the venue changes before the request runs.
    std::promise<void> release;
    CVDerivedGeometryProvider::queue().async([gate = release.get_future().share()] { gate.wait(); });
    auto answer = std::make_shared<std::promise<int>>();
    provider->getDerivedGeometryWithCompletion(
        [answer](auto geometries, auto) { answer->set_value(geometries ? static_cast<int>(geometries->size()) : -1); });
    provider->setVenueId(std::string(kMeridian));
    release.set_value();
    auto count = answer->get_future();
    ASSERT_EQ(count.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(count.get(), kMeridianCount);
}

}  // namespace
}  // namespace ambrell::derived_geometry_provider_test
