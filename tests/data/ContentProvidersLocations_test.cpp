// A locations URL restricted to many user roles through the content provider
// chain: its file in the data set is named by a hashed key, and it is served
// again from that file once the service is gone.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <future>

#include "data/AmbrellLegacy.h"
#include "data/CVContentProviderChain.h"
#include "data/CVModelCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVFileCache.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/runtime/MainQueue.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;

// The locations document as it came: enough to compare two answers.
struct LocationsDocument {
    std::string text;
    std::size_t count = 0;
};
using Chain = CVContentProviderChain<LocationsDocument>;

std::shared_ptr<const Chain::Departures> departures() {
    const Chain::Parser parse = [](const detail::ContentBytes& bytes, std::optional<platform::NSError>& /*error*/) {
        std::string text(bytes.begin(), bytes.end());
        boost::system::error_code failed;
        const auto value = boost::json::parse(text, failed);
        if (failed || !value.is_array()) return std::shared_ptr<LocationsDocument>();
        return std::make_shared<LocationsDocument>(LocationsDocument{std::move(text), value.get_array().size()});
    };
    return std::make_shared<const Chain::Departures>(Chain::Departures{
        .errorCode = 1,
        .emptyCopyIsMissing = true,
        .parseLocal = parse,
        .parseDownload = parse,
        .beforeStoringDownload = {},
        .parseFileOn304WithoutMemory = false,
        .unusableErrorCode = 0,
        .answerLocalAtOnce = false,
    });
}

std::shared_ptr<LocationsDocument> fetch(const std::string& url, const std::string& solutionId) {
    auto promise = std::make_shared<std::promise<std::shared_ptr<LocationsDocument>>>();
    auto answered = promise->get_future();
    static const platform::DispatchQueue queue("com.ambrell.LocationsTest");
    Chain::run(queue, departures(),
               Chain::Request{solutionId,
                              url,
                              "locations",
                              {},
                              [promise](std::shared_ptr<LocationsDocument> document,
                                        const std::optional<platform::NSError>& /*error*/) {
                                  promise->set_value(std::move(document));
                              }});
    if (answered.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "no answer";
        return nullptr;
    }
    return answered.get();
}

class ContentProvidersLocations : protected test::CapturedLog, public test::SampleServiceFixture {
protected:
    // No resources: an offline answer can only come from the data set.
    ContentProvidersLocations() { platform::Paths::setResourcesFolder(resources_.path()); }

    test::TempDirectory resources_;
};

TEST_F(ContentProvidersLocations, ASevenRoleLocationsUrlIsCachedFoundAgainAndServedOfflineFromTheCache) {
    const auto& id = service_.solutionId();
    std::vector<CVUserRole> roles;
    for (int index = 1; index <= 7; ++index) {
        roles.push_back({fmt::format("{:024x}", 0xa11ce000 + index), fmt::format("Role {}", index)});
    }
    const auto url = CVAXAPI::sharedInstance()->locationSyncUrlForSolutionId(id, "en", roles);
    ASSERT_NE(url.find("appUserRoleIds="), std::string::npos) << url;

    const auto online = fetch(url, id);
    ASSERT_TRUE(online);
    EXPECT_EQ(online->text, service_.syncDocument("locations", "en"));
    EXPECT_GT(online->count, 0U);
    ASSERT_EQ(service_.web().requestsTo("/sync/locations").size(), 1U);
    EXPECT_EQ(service_.web().requestsTo("/sync/locations")[0].target, url.substr(service_.baseUrl().size() - 1));

    // The key is too long for a file name: the file is named by its head and a hash.
    const auto file = AmbrellLegacy::dataSetCacheManager()->pathForCachedUrl(url, id);
    ASSERT_TRUE(file);
    const auto name = file->filename().string();
    EXPECT_LE(name.size(), 255U);
    EXPECT_EQ(name.size(), 128U + 1 + 64) << name;
    EXPECT_EQ(name[128], '~') << name;
    EXPECT_EQ(name, CVFileCache::cacheKeyForCachingItem(url));
    EXPECT_EQ(platform::readFile(*file), (std::vector<std::uint8_t>(online->text.begin(), online->text.end())));
    EXPECT_EQ(xattr_downloadUrl(*file), url);
    EXPECT_TRUE(xattr_lastModified(*file));

    service_.stop();
    setOnline(false);
    CVModelCache::memoryCache()->clearCache();
    const auto offline = fetch(url, id);
    ASSERT_TRUE(offline);
    EXPECT_EQ(offline->text, online->text);
    EXPECT_EQ(offline->count, online->count);
}

}  // namespace
}  // namespace ambrell
