// Answers the sync cannot use: answers of 200 that do not read as their URL's
// kind (a proxy's login page, a document of another shape, a tile package
// that does not unpack), error statuses and connections closed unanswered.
// The sync reports each by its URL and keeps the stored copy that the next
// start without network reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>

#include "Ambrell/CVError.h"
#include "Ambrell/CVErrorCodes.h"
#include "data/DataSetManager/CVDataSetStaging.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/http/HttpErrors.h"
#include "tests/data/DataSetManager/DataSetFixture.h"
#include "tests/data/DataSetManager/TilePackage.h"

namespace ambrell::refused_answers_test {
namespace {

namespace fs = std::filesystem;
using test::kDataSetKey;
using Response = test::LoopbackWebService::Response;

constexpr std::string_view kLoginPage = R"(<html><body><form action="/login">Sign in</form></body></html>)";

Response answer(std::string_view body, std::string type, std::optional<std::string> lastModified = {}) {
    Response response{200, std::string(body), {{"Content-Type", std::move(type)}}};
    if (lastModified) response.headers.emplace_back("Last-Modified", *lastModified);
    return response;
}

std::string readBytes(const fs::path& path) { return platform::readTextFile(path).value_or("(none)"); }

// The package with a byte of one entry's data changed: it opens and lists
// its entries, and that entry fails its checksum when it is extracted.
std::string withDamagedEntry(std::string package, std::string_view entryName) {
    // The local header's copy of the name comes first; its extra field's
    // length sits in the header's last two bytes.
    const auto name = package.find(entryName);
    const auto header = name - 30;
    const auto extraLength = static_cast<unsigned char>(package.at(header + 28)) |
                             static_cast<std::size_t>(static_cast<unsigned char>(package.at(header + 29))) << 8;
    package.at(name + entryName.size() + extraLength) ^= 0x20;
    return package;
}

// A file as the next start finds it: its bytes and the date it is asked for as of.
struct StoredCopy {
    std::string bytes;
    std::optional<std::string> date;
    friend bool operator==(const StoredCopy&, const StoredCopy&) = default;
    friend std::ostream& operator<<(std::ostream& out, const StoredCopy& copy) {
        return out << copy.bytes.size() << " bytes dated " << copy.date.value_or("(none)");
    }
};

StoredCopy storedCopy(const fs::path& path) {
    if (!fs::exists(path)) return {"(absent)", std::nullopt};
    return {readBytes(path), xattr_lastModified(path)};
}

// The underlying error of the sync's result that names the URL under the
// failing-URL key, or null.
std::shared_ptr<const platform::NSError> errorFor(const std::optional<platform::NSError>& result,
                                                  const std::string& url) {
    const auto errors = test::underlyingErrors(result);
    const auto named = std::ranges::find_if(
        errors, [&](const auto& error) { return error->stringForKey(platform::NSErrorFailingURLStringKey) == url; });
    return named == errors.end() ? nullptr : *named;
}

class RefusedAnswers : public test::DataSetFixture {
protected:
    RefusedAnswers() { AmbrellLegacy::setApiKey(std::string(kDataSetKey)); }

    [[nodiscard]] std::string packageUrl() const { return service_->url("/tiles/package.zip"); }
    [[nodiscard]] fs::path folder(std::string_view dataSetId) const { return root() / std::string(dataSetId); }

    // The data set's URL served at the route (the description's among them).
    [[nodiscard]] std::string urlServedAt(const CVDataSetCacheInternal& dataSet, std::string_view route) const {
        std::vector<std::string> urls{datasetUrl()};
        for (const auto& group : dataSet.item()->syncResources()) {
            const auto groupUrls = group.urls().value_or(std::vector<std::string>{});
            urls.insert(urls.end(), groupUrls.begin(), groupUrls.end());
        }
        const auto prefix = service_->url(route);
        for (const auto& url : urls) {
            if (url == prefix || url.starts_with(prefix + "?")) return url;
        }
        ADD_FAILURE() << "no URL of the data set is served at " << route;
        return {};
    }

    // A URL of the data set with the copy a sync stored of it.
    struct StoredUrl {
        std::string url;
        fs::path path;
        StoredCopy before;
    };

    // The data set's URL served at the route and its stored copy as it is
    // now; none, with a failure, when no dated copy is stored.
    [[nodiscard]] std::optional<StoredUrl> storedUrlAt(const CVDataSetCacheManagerInternal& manager,
                                                       const CVDataSetCacheInternal& dataSet,
                                                       std::string_view route) const {
        auto url = urlServedAt(dataSet, route);
        const auto path = manager.pathForCachedUrl(url, kDataSetKey);
        if (!path) {
            ADD_FAILURE() << "no copy is stored for " << url;
            return std::nullopt;
        }
        auto before = storedCopy(*path);
        if (!before.date) {
            ADD_FAILURE() << "the copy of " << url << " has no date";
            return std::nullopt;
        }
        return StoredUrl{std::move(url), *path, std::move(before)};
    }

    // Every URL of the small solution answers, a tile package of one tile among them.
    void serveAll() {
        serveSolution();
        service_->serveFile("/tiles/package.zip", package_);
    }

    // The data set at the full scope, synchronised once; null when that failed.
    std::shared_ptr<CVDataSetCacheInternal> synchronisedDataSet(CVDataSetCacheManagerInternal& manager) const {
        auto dataSet = manager.internalDataSetWithId(
            manager.addDataSet(kDataSetKey, rawValue(CVDataSetCachingScope::full))->dataSetId());
        const auto failed = synchronizeOnce(manager, dataSet->item());
        EXPECT_FALSE(failed) << failed->localizedDescription();
        return failed ? nullptr : dataSet;
    }

    // What the sync staged beside the data sets' folders and left there.
    [[nodiscard]] std::vector<fs::path> stagedEntries() const {
        std::vector<fs::path> staged;
        for (const auto& entry : fs::directory_iterator(root())) {
            if (entry.path().filename().string().ends_with(CVDataSetStaging::kSuffix)) staged.push_back(entry.path());
        }
        return staged;
    }

    const test::TempDirectory work_;
    const fs::path package_ = test::writeTilePackage(work_.path(), {"15_1_2.png"});
};

// Every URL kind the sync fetches, each with an answer its reader refuses:
// one of another shape where the reader checks the shape, else a login page.
TEST_F(RefusedAnswers, EachUrlKindKeepsItsStoredCopyAndIsReportedByName) {
    const struct {
        const char* route;
        std::string_view body;
        const char* type;
    } cases[] = {
        {"/sync/solutions", "[]", "application/json"},
        {"/sync/appconfig", "[]", "application/json"},
        {"/sync/appuserroles", R"({"list":[]})", "application/json"},
        {"/sync/categories", R"({"categories":[]})", "application/json"},
        {"/sync/venues", "{}", "application/json"},
        {"/sync/buildings", "{}", "application/json"},
        {"/sync/locations", R"({"locations":[]})", "application/json"},
        {"/sync/derivedGeometry", R"({"list":[]})", "application/json"},
        {"/sync/graph", R"({"networks":[]})", "application/json"},
        {"/sync/routelayer", R"({"layers":[]})", "application/json"},
        {"/sync/dataset", "[]", "application/json"},
        {"/img/icon.png", kLoginPage, "text/html"},
        {"/ext/photo.jpg", kLoginPage, "text/html"},
        {"/tiles/package.zip", kLoginPage, "text/html"},
    };
    serveAll();
    const auto manager = makeManager();
    const auto dataSet = synchronisedDataSet(*manager);
    ASSERT_TRUE(dataSet);
    const auto tile = folder(kDataSetKey) / "tilecache-package" / "15_1_2.png";
    const auto tileBytes = readBytes(tile);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        const auto stored = storedUrlAt(*manager, *dataSet, c.route);
        ASSERT_TRUE(stored);
        const auto& url = stored->url;
        const auto requests = service_->requestsTo(c.route).size();
        service_->respond(c.route, answer(c.body, c.type));

        const auto result = synchronizeOnce(*manager, dataSet->item());
        EXPECT_EQ(service_->requestsTo(c.route).size(), requests + 1);
        EXPECT_EQ(result.value_or(platform::NSError{}).code, AmbrellErrorCode::kDataLoadingFailed);
        EXPECT_TRUE(test::reportsUnreadable(result, url)) << "reported: " << result->localizedDescription();
        EXPECT_TRUE(errorFor(result, url)) << "no underlying error holds " << url << " as its failing URL";
        EXPECT_EQ(storedCopy(stored->path), stored->before);
        EXPECT_EQ(readBytes(tile), tileBytes);
        serveAll();
    }
}

// One failed URL among the many a sync fetches must be found by the host:
// each kind of failure names its URL, with the domain and code it had.
TEST_F(RefusedAnswers, AFailedDownloadIsReportedByItsUrlWithItsOwnDomainAndCode) {
    const auto requestFailed = CVError(CVErrorCase::requestFailed).rawValue();
    const struct {
        const char* route;
        std::optional<int> status;  // none: the connection closes unanswered
        std::string_view domain;
        std::int64_t code;
    } cases[] = {
        {"/img/icon.png", 404, "Ambrell.CVError", requestFailed},
        {"/sync/locations", 500, "Ambrell.CVError", requestFailed},
        {"/tiles/package.zip", 503, "Ambrell.CVError", requestFailed},
        {"/ext/photo.jpg", 403, "Ambrell.CVError", CVError(CVErrorCase::invalidApiKey).rawValue()},
        {"/sync/venues", std::nullopt, platform::NSURLErrorDomain, platform::NSURLErrorNetworkConnectionLost},
    };
    serveAll();
    const auto manager = makeManager();
    const auto dataSet = synchronisedDataSet(*manager);
    ASSERT_TRUE(dataSet);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.route);
        const auto stored = storedUrlAt(*manager, *dataSet, c.route);
        ASSERT_TRUE(stored);
        const auto& url = stored->url;
        if (c.status) {
            service_->respond(c.route, {*c.status, "failed", {{"Content-Type", "text/plain"}}});
        } else {
            service_->dropConnection(c.route);
        }

        const auto result = synchronizeOnce(*manager, dataSet->item());
        ASSERT_TRUE(result);
        EXPECT_EQ(result->code, AmbrellErrorCode::kDataLoadingFailed);
        EXPECT_EQ(storedCopy(stored->path), stored->before);
        const auto error = errorFor(result, url);
        EXPECT_TRUE(error) << "no underlying error names " << url;
        if (error) {
            EXPECT_EQ(error->domain, c.domain);
            EXPECT_EQ(error->code, c.code);
            EXPECT_NE(error->localizedDescription().find(url), std::string::npos) << error->localizedDescription();
        }
        serveAll();
    }
}

// The tile package is the stored copy whose loss shows most: without it the
// floor plans are blank offline. A bad answer keeps it and its tiles, and must
// not leave a copy that the next sync is answered 304 for.
TEST_F(RefusedAnswers, ATilePackageThatDoesNotUnpackKeepsTheStoredOneAndTheNextGoodSyncCompletesIt) {
    const auto published = std::chrono::system_clock::from_time_t(784111777);
    const auto republished = published + std::chrono::hours(24);
    const auto older = test::writeTilePackage(work_.path() / "older", {"15_1_2.png", "15_1_3.png"});
    const auto newer = test::writeTilePackage(work_.path() / "newer", {"15_1_2.png", "15_1_3.png", "15_1_4.png"});
    std::ifstream in(newer, std::ios::binary);
    const std::string newerBytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(newerBytes.size(), 100u);
    const struct {
        const char* name;
        bool storedFirst;
        Response bad;
    } cases[] = {
        {"a login page", true, answer(kLoginPage, "text/html")},
        {"a package cut in half, answered with its date", true,
         answer(newerBytes.substr(0, newerBytes.size() / 2), "application/zip", test::httpDate(republished))},
        {"a package whose last tile does not extract", true,
         answer(withDamagedEntry(newerBytes, "15_1_4.png"), "application/zip", test::httpDate(republished))},
        {"an empty body on a new data set", false, answer("", "application/zip")},
    };
    serveSolution();
    const auto manager = makeManager();
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto id = "tiles-" + std::to_string(index++);
        const auto dataSet = manager->addDataSet(id, rawValue(CVDataSetCachingScope::full));
        const auto package = CVFileCache::pathForCachingItem(packageUrl(), folder(id));
        ASSERT_TRUE(package);
        const auto tiles = folder(id) / "tilecache-package";
        if (c.storedFirst) {
            service_->serveFile("/tiles/package.zip", older, published);
            ASSERT_FALSE(synchronizeOnce(*manager, dataSet->cacheItem()));
            ASSERT_TRUE(fs::is_regular_file(tiles / "15_1_3.png"));
        }
        const auto before = storedCopy(*package);
        const auto tilesBefore = readBytes(tiles / "15_1_3.png");

        service_->respond("/tiles/package.zip", c.bad);
        const auto result = synchronizeOnce(*manager, dataSet->cacheItem());
        EXPECT_TRUE(test::reportsUnreadable(result, packageUrl()))
            << "reported: " << (result ? result->localizedDescription() : "success");
        EXPECT_EQ(storedCopy(*package), before);
        EXPECT_EQ(readBytes(tiles / "15_1_3.png"), tilesBefore);
        EXPECT_EQ(stagedEntries(), std::vector<fs::path>{});

        service_->serveFile("/tiles/package.zip", newer, republished);
        const auto healed = synchronizeOnce(*manager, dataSet->cacheItem());
        EXPECT_FALSE(healed) << healed->localizedDescription();
        for (const auto* name : {"15_1_2.png", "15_1_3.png", "15_1_4.png"}) {
            EXPECT_TRUE(fs::is_regular_file(tiles / name)) << name;
        }
    }
}

}  // namespace
}  // namespace ambrell::refused_answers_test
