#include "foundation/CVAXAPI.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include <climits>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/CVAXAPIConfig.h"
#include "foundation/CVContentContext.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using Variables = std::vector<std::pair<std::string, std::string>>;

std::unique_ptr<CVAXAPI> makeApi(Variables variables = {}) {
    return std::make_unique<CVAXAPI>(CVAXAPI::Environment::fromValues(std::move(variables)));
}

std::vector<std::string> debugLines(const test::ScopedLogCapture& capture) {
    std::vector<std::string> lines;
    for (const auto& entry : capture.sink().messages()) {
        if (entry.level == platform::LogLevel::debug) lines.push_back(entry.message);
    }
    return lines;
}

// Every test gets its own user defaults and content context.
class CVAXAPITest : public test::ContainerFixture {
protected:
    ~CVAXAPITest() override { CVContentContext::resetForTesting(); }

    static void useApiKey(std::optional<std::string> key) {
        CVContentContext::setApiKeyReader([key] { return key; });
    }
    static void useLanguage(std::optional<std::string> language) {
        CVContentContext::setLanguageReader([language] { return language; });
    }
};

// MARK: - Choosing the base URL

struct StartUp {
    std::string_view name;
    Variables variables;
    std::string baseUrl;
    std::optional<std::string> overrideBaseUrl;
    bool fixed;
    bool dev;
    std::string_view source;
};

class CVAXAPIStartUpTest : public ::testing::TestWithParam<StartUp> {};

TEST_P(CVAXAPIStartUpTest, ChoosesTheBaseUrlAndSaysWhy) {
    const auto& expected = GetParam();
    test::ScopedLogCapture capture;
    const auto api = makeApi(expected.variables);
    EXPECT_EQ(api->currentBaseUrl(), expected.baseUrl);
    EXPECT_EQ(api->overrideBaseUrl(), expected.overrideBaseUrl);
    EXPECT_EQ(api->useFixedBackendUrl(), expected.fixed);
    EXPECT_EQ(api->useDevEnvironment(), expected.dev);
    EXPECT_EQ(debugLines(capture), std::vector<std::string>{"Initialized with baseUrl = " + expected.baseUrl + " (" +
                                                            std::string(expected.source) + ")"});
}

const std::string kProd = "https://api.ambrell.com/";
const std::string kDev = "https://api-dev.ambrell.com/";
const std::string kStaging = "https://api-staging.ambrell.com/";

INSTANTIATE_TEST_SUITE_P(
    Environments, CVAXAPIStartUpTest,
    ::testing::Values(
        StartUp{"none", {}, kProd, std::nullopt, false, false, "Default base URL"},
        // Presence counts, not the value.
        StartUp{"dev", {{"AMBRELL_USE_DEV_API", "0"}}, kDev, kDev, true, true, "AMBRELL_USE_DEV_API"},
        StartUp{"staging", {{"AMBRELL_USE_STAGING_API", ""}}, kStaging, kStaging, true, false,
                "AMBRELL_USE_STAGING_API"},
        StartUp{"prod", {{"AMBRELL_USE_PROD_API", "1"}}, kProd, kProd, true, false, "AMBRELL_USE_PROD_API"},
        StartUp{"api", {{"AMBRELL_API", "http://127.0.0.1:8080/"}}, "http://127.0.0.1:8080/",
                "http://127.0.0.1:8080/", true, false, "AMBRELL_API"},
        StartUp{"apiTakenUnchanged", {{"AMBRELL_API", "http://h"}}, "http://h", "http://h", true, false,
                "AMBRELL_API"},
        StartUp{"apiEmpty", {{"AMBRELL_API", ""}}, kProd, "", true, false, "Default base URL"},
        StartUp{"devThenProd", {{"AMBRELL_USE_PROD_API", "1"}, {"AMBRELL_USE_DEV_API", "1"}}, kProd, kProd, true,
                true, "AMBRELL_USE_PROD_API"},
        StartUp{"stagingThenProd", {{"AMBRELL_USE_PROD_API", "1"}, {"AMBRELL_USE_STAGING_API", "1"}}, kProd, kProd,
                true, false, "AMBRELL_USE_PROD_API"},
        StartUp{"all",
                {{"AMBRELL_API", "http://x/"},
                 {"AMBRELL_USE_PROD_API", "1"},
                 {"AMBRELL_USE_STAGING_API", "1"},
                 {"AMBRELL_USE_DEV_API", "1"}},
                "http://x/", "http://x/", true, true, "AMBRELL_API"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CVAXAPIConfig, BaseUrlsEndWithASlash) {
    EXPECT_EQ(CVAXAPIConfig::baseURL(), kProd);
    EXPECT_EQ(CVAXAPIConfig::baseDevURL(), kDev);
    EXPECT_EQ(CVAXAPIConfig::baseStagingURL(), kStaging);
    EXPECT_EQ(CVAXAPIConfig::apiVersion(), "6");
}

TEST(CVAXAPIEnvironment, DevAndProdTogetherKeepTheDevelopmentHostsOfLiveDataAndBookings) {
    const auto api = makeApi({{"AMBRELL_USE_DEV_API", "1"}, {"AMBRELL_USE_PROD_API", "1"}});
    EXPECT_EQ(api->gatewayUrl(), "https://api.ambrell.com/api");
    EXPECT_EQ(api->liveUpdateUrl(), "live-dev.ambrell.com");
    EXPECT_EQ(api->liveDataUrl("state", std::nullopt), "https://liveapi-dev.ambrell.com/api/state");
    EXPECT_EQ(api->urlForBooking("s"), "https://booking-dev.ambrell.com/s/api/booking");
}

TEST(CVAXAPIShared, OneInstanceUntilReset) {
    const auto first = CVAXAPI::sharedInstance();
    EXPECT_EQ(CVAXAPI::sharedInstance(), first);
    EXPECT_EQ(CVAXAPI::baseUrl(), first->currentBaseUrl());
    CVAXAPI::resetSharedForTesting();
    EXPECT_NE(CVAXAPI::sharedInstance(), first);
}

// MARK: - Changing the base URL

struct BaseUrlChange {
    std::string_view name;
    Variables variables;
    std::string_view requested;
    std::string expectedBaseUrl;
    std::vector<std::string> messages;
};

class CVAXAPIBaseUrlChangeTest : public ::testing::TestWithParam<BaseUrlChange> {};

TEST_P(CVAXAPIBaseUrlChangeTest, ChangesOnlyAFreeBaseUrl) {
    const auto& change = GetParam();
    const auto api = makeApi(change.variables);
    test::ScopedLogCapture capture;
    api->setCurrentBaseUrl(change.requested);
    EXPECT_EQ(api->currentBaseUrl(), change.expectedBaseUrl);
    EXPECT_EQ(debugLines(capture), change.messages);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CVAXAPIBaseUrlChangeTest,
    ::testing::Values(
        BaseUrlChange{"free", {}, "https://other.example/", "https://other.example/",
                      {"Changing base URL: https://api.ambrell.com/ => https://other.example/"}},
        BaseUrlChange{"slashAdded", {}, "http://127.0.0.1:9/v", "http://127.0.0.1:9/v/",
                      {"Changing base URL: https://api.ambrell.com/ => http://127.0.0.1:9/v/"}},
        BaseUrlChange{"sameButSlash", {}, "https://api.ambrell.com", kProd, {}},
        BaseUrlChange{"fixedByApi", {{"AMBRELL_API", "http://localhost:1234/"}}, "https://other.example/",
                      "http://localhost:1234/",
                      {"Ignoring base URL change: http://localhost:1234/ => https://other.example/"}},
        BaseUrlChange{"fixedByEmptyApi", {{"AMBRELL_API", ""}}, "https://other.example/", kProd,
                      {"Ignoring base URL change: https://api.ambrell.com/ => https://other.example/"}},
        BaseUrlChange{"fixedByDev", {{"AMBRELL_USE_DEV_API", ""}}, "https://other.example", kDev,
                      {"Ignoring base URL change: https://api-dev.ambrell.com/ => https://other.example/"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CVAXAPIDevSwitch, OnFixesTheDevelopmentUrlAndOffFreesProduction) {
    const auto api = makeApi();
    api->setUseDevEnvironment(true);
    EXPECT_EQ(api->currentBaseUrl(), kDev);
    EXPECT_EQ(api->overrideBaseUrl(), kDev);
    EXPECT_TRUE(api->useFixedBackendUrl());
    EXPECT_EQ(api->liveUpdateUrl(), "live-dev.ambrell.com");

    api->setUseDevEnvironment(false);
    EXPECT_EQ(api->currentBaseUrl(), kProd);
    EXPECT_EQ(api->overrideBaseUrl(), std::nullopt);
    EXPECT_FALSE(api->useFixedBackendUrl());
    EXPECT_FALSE(api->useDevEnvironment());
    test::ScopedLogCapture capture;
    api->setCurrentBaseUrl("https://other.example/");
    EXPECT_EQ(api->currentBaseUrl(), "https://other.example/");
}

// MARK: - URLs

struct UrlCase {
    std::string_view name;
    std::function<std::string(const CVAXAPI&)> make;
    std::string_view expected;
};

class CVAXAPIUrlTest : public CVAXAPITest, public ::testing::WithParamInterface<UrlCase> {};

// The content context holds the key "KEY" and the language "da".
TEST_P(CVAXAPIUrlTest, HasItsExactForm) {
    useApiKey("KEY");
    useLanguage("da");
    const auto api = makeApi();
    EXPECT_EQ(GetParam().make(*api), GetParam().expected);
}

const std::vector<CVUserRole> kRoles{{"r1", "One"}, {"r2", "Two"}, {"r1", "One again"}};

#define URL_CASE(name, expression, expected) \
    UrlCase { name, [](const CVAXAPI& api) { return api.expression; }, expected }

INSTANTIATE_TEST_SUITE_P(
    Sync, CVAXAPIUrlTest,
    ::testing::Values(
        URL_CASE("general", urlStringForSyncEndpoint("x", "s", "de"),
                 "https://api.ambrell.com/sync/x?solutionId=s&lr=de&v=6"),
        URL_CASE("nothingEscaped", urlStringForSyncEndpoint("a b", "s&t=1", "ä ö"),
                 "https://api.ambrell.com/sync/a b?solutionId=s&t=1&lr=ä ö&v=6"),
        URL_CASE("datasetSize", datasetSizeSyncUrl(), "https://api.ambrell.com/sync/dataset?solutionId=KEY&lr=da&v=6"),
        URL_CASE("graph", graphSyncUrl(), "https://api.ambrell.com/sync/graph?solutionId=KEY&lr=da&v=6"),
        URL_CASE("locations", locationSyncUrl(), "https://api.ambrell.com/sync/locations?solutionId=KEY&lr=da&v=6"),
        URL_CASE("venues", venueSyncUrl(), "https://api.ambrell.com/sync/venues?solutionId=KEY&lr=da&v=6"),
        URL_CASE("buildings", buildingSyncUrl(), "https://api.ambrell.com/sync/buildings?solutionId=KEY&lr=da&v=6"),
        URL_CASE("solutions", solutionSyncUrl(), "https://api.ambrell.com/sync/solutions?solutionId=KEY&lr=da&v=6"),
        URL_CASE("appData", appDataSyncUrl(), "https://api.ambrell.com/sync/appconfig?solutionId=KEY&lr=da&v=6"),
        URL_CASE("categories", categorySyncUrl(),
                 "https://api.ambrell.com/sync/categories?solutionId=KEY&lr=da&v=6"),
        URL_CASE("tiles", tileSyncUrl(), "https://api.ambrell.com/sync/tiles?solutionId=KEY&lr=da&v=6"),
        URL_CASE("userRoles", userRolesSyncUrl(),
                 "https://api.ambrell.com/sync/appuserroles?solutionId=KEY&lr=da&v=6"),
        URL_CASE("getDatasetSize", getDatasetSizeSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/dataset?solutionId=s&lr=en&v=6"),
        URL_CASE("dataSet", dataSetSyncUrlForSolutionId("s", std::nullopt),
                 "https://api.ambrell.com/sync/dataset?solutionId=s&lr=da&v=6"),
        URL_CASE("graphFor", graphSyncUrlForSolutionId(std::nullopt, "en"),
                 "https://api.ambrell.com/sync/graph?solutionId=KEY&lr=en&v=6"),
        URL_CASE("graphVenue", graphSyncUrlForSolutionId("s", "en", "v1"),
                 "https://api.ambrell.com/sync/graph?solutionId=s&lr=en&v=6&venueId=v1"),
        URL_CASE("locationsFor", locationSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/locations?solutionId=s&lr=en&v=6"),
        URL_CASE("locationsNoRoles", locationSyncUrlForSolutionId("s", "en", {}),
                 "https://api.ambrell.com/sync/locations?solutionId=s&lr=en&v=6"),
        URL_CASE("locationsRolesOnce", locationSyncUrlForSolutionId("s", "en", kRoles),
                 "https://api.ambrell.com/sync/locations?solutionId=s&lr=en&v=6&appUserRoleIds=r1,r2"),
        URL_CASE("locationsVenue", locationSyncUrlForSolutionId("s", "en", kRoles, "v1"),
                 "https://api.ambrell.com/sync/locations?solutionId=s&lr=en&v=6&appUserRoleIds=r1,r2&venueId=v1"),
        URL_CASE("locationsVenueNoRoles", locationSyncUrlForSolutionId("s", "en", {}, "v1"),
                 "https://api.ambrell.com/sync/locations?solutionId=s&lr=en&v=6&venueId=v1"),
        URL_CASE("venuesFor", venueSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/venues?solutionId=s&lr=en&v=6"),
        URL_CASE("buildingsFor", buildingSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/buildings?solutionId=s&lr=en&v=6"),
        URL_CASE("buildingsVenue", buildingSyncUrlForSolutionId("s", "en", "v1"),
                 "https://api.ambrell.com/sync/buildings?solutionId=s&lr=en&v=6&venueId=v1"),
        URL_CASE("solutionsFor", solutionSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/solutions?solutionId=s&lr=en&v=6"),
        URL_CASE("appDataFor", appDataSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/appconfig?solutionId=s&lr=en&v=6"),
        URL_CASE("categoriesFor", categorySyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/categories?solutionId=s&lr=en&v=6"),
        URL_CASE("tilesFor", tileSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/tiles?solutionId=s&lr=en&v=6"),
        URL_CASE("userRolesFor", userRolesSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/appuserroles?solutionId=s&lr=en&v=6"),
        URL_CASE("routeLayer", routeLayerSyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/routelayer?solutionId=s&lr=en&v=6"),
        URL_CASE("derivedGeometry", derivedGeometrySyncUrlForSolutionId("s", "en"),
                 "https://api.ambrell.com/sync/derivedGeometry?solutionId=s&lr=en&v=6"),
        URL_CASE("derivedGeometryVenue", derivedGeometrySyncUrlForSolutionId("s", "en", "v1"),
                 "https://api.ambrell.com/sync/derivedGeometry?solutionId=s&lr=en&v=6&venueId=v1")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Services, CVAXAPIUrlTest,
    ::testing::Values(
        URL_CASE("gateway", gatewayUrl(), "https://api.ambrell.com/KEY/api"),
        URL_CASE("logging", loggingUrl("K1"), "https://api.ambrell.com/K1/api/logpackage"),
        URL_CASE("loggingKeyEncodedAsOnePathComponent", loggingUrl("a b?"),
                 "https://api.ambrell.com/a%20b%3F/api/logpackage"),
        URL_CASE("loggingKeyCannotClimb", loggingUrl("../../x"),
                 "https://api.ambrell.com/..%2F..%2Fx/api/logpackage"),
        URL_CASE("loggingKeyIsNoDotSegment", loggingUrl(".."), "https://api.ambrell.com/%2E%2E/api/logpackage"),
        URL_CASE("loggingEmptyKey", loggingUrl(""), ""),
        URL_CASE("loggingNoKey", loggingUrl(std::nullopt), ""),
        URL_CASE("liveData", liveDataUrl("positions", std::nullopt), "https://liveapi.ambrell.com/api/positions"),
        URL_CASE("liveDataKey", liveDataUrl("positions", "K1"), "https://liveapi.ambrell.com/api/positions/K1"),
        URL_CASE("liveDataState", liveDataStateUrl("a/b+c"), "https://liveapi.ambrell.com/api/state?topic=a/b+c"),
        URL_CASE("liveUpdate", liveUpdateUrl(), "live.ambrell.com"),
        URL_CASE("bookingEndpoint", urlForBookingServiceEndpoint("x", "s"),
                 "https://booking.ambrell.com/s/api/booking/x"),
        URL_CASE("bookable", urlForFetchingBookableLocations("s"),
                 "https://booking.ambrell.com/s/api/booking/available"),
        URL_CASE("configured", urlForFetchingLocationsConfiguredForBooking("s"),
                 "https://booking.ambrell.com/s/api/booking/bookable"),
        URL_CASE("locationBookings", urlForFetchingLocationBookings("s"),
                 "https://booking.ambrell.com/s/api/booking/locationbookings"),
        URL_CASE("userBookings", urlForFetchingUserBookings("s"),
                 "https://booking.ambrell.com/s/api/booking/userbookings"),
        URL_CASE("booking", urlForBooking("s"), "https://booking.ambrell.com/s/api/booking"),
        URL_CASE("bookingWithoutSolution", urlForBooking(std::nullopt), "https://booking.ambrell.com/KEY/api/booking")),
    [](const auto& info) { return std::string(info.param.name); });

#undef URL_CASE

TEST_F(CVAXAPITest, WithoutContextTheKeyIsEmptyAndTheLanguageEnglish) {
    const auto api = makeApi();
    EXPECT_EQ(api->venueSyncUrlForSolutionId("sol", std::nullopt),
              "https://api.ambrell.com/sync/venues?solutionId=sol&lr=en&v=6");
    EXPECT_EQ(api->gatewayUrl(), "https://api.ambrell.com/api");
    useApiKey("");
    EXPECT_EQ(api->gatewayUrl(), "https://api.ambrell.com/api");
}

TEST_F(CVAXAPITest, UrlsFollowTheBaseUrl) {
    useApiKey("KEY");
    const auto api = makeApi({{"AMBRELL_API", "http://127.0.0.1:8080/svc"}});
    EXPECT_EQ(api->gatewayUrl(), "http://127.0.0.1:8080/svcKEY/api");
    // The logging URL joins path components, so a missing slash is supplied.
    EXPECT_EQ(api->loggingUrl("KEY"), "http://127.0.0.1:8080/svc/KEY/api/logpackage");
}

TEST_F(CVAXAPITest, AllEndpointUrlsInFetchOrderWithTheAppliedRoles) {
    CVContentContext::setUserRolesReader([] { return kRoles; });
    const auto api = makeApi();
    const std::string q = "?solutionId=s&lr=fr&v=6";
    const std::string base = kProd + "sync/";
    EXPECT_EQ(api->allEndpointUrlsForSyncingSolutionId("s", "fr"),
              (std::vector<std::string>{base + "graph" + q, base + "venues" + q, base + "buildings" + q,
                                        base + "solutions" + q, base + "appconfig" + q, base + "categories" + q,
                                        base + "appuserroles" + q, base + "routelayer" + q,
                                        base + "locations" + q + "&appUserRoleIds=r1,r2"}));
}

// MARK: - Backend URLs

struct BackendUrl {
    std::string_view url;
    bool recognised;
    std::string_view normalised;
};

class CVAXAPIBackendUrlTest : public ::testing::TestWithParam<BackendUrl> {};

TEST_P(CVAXAPIBackendUrlTest, RecognisesAndNormalises) {
    // A loopback base URL, as a test host would set; its URLs count whatever their host.
    const auto api = makeApi({{"AMBRELL_API", "http://127.0.0.1:8080/"}});
    EXPECT_EQ(api->isAmbrellBackendUrl(GetParam().url), GetParam().recognised);
    EXPECT_EQ(api->urlByNormalizingAmbrellBackendUrls(GetParam().url), GetParam().normalised);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, CVAXAPIBackendUrlTest,
    ::testing::Values(
        BackendUrl{"https://api.ambrell.com/sync/venues?x=1", true, "https://api.ambrell.com/sync/venues?x=1"},
        BackendUrl{"https://api-dev.ambrell.com/sync/venues?x=1", true, "https://api.ambrell.com/sync/venues?x=1"},
        BackendUrl{"http://api-staging.ambrell.com:8443/a/b?q=%20#f", true, "http://api.ambrell.com:8443/a/b?q=%20#f"},
        BackendUrl{"http://127.0.0.1:8080/sync/x?y", true, "http://api.ambrell.com:8080/sync/x?y"},
        BackendUrl{"ftp://api.ambrell.com/x", false, "ftp://api.ambrell.com/x"},
        BackendUrl{"wss://api.ambrell.com/x", false, "wss://api.ambrell.com/x"},
        BackendUrl{"https://cdn.ambrell.com/x", false, "https://cdn.ambrell.com/x"},
        BackendUrl{"https://api.notambrell.com/x", false, "https://api.notambrell.com/x"},
        BackendUrl{"https://api.ambrell.com.example.org/x", false, "https://api.ambrell.com.example.org/x"},
        BackendUrl{"http://127.0.0.1:9090/x", false, "http://127.0.0.1:9090/x"},
        BackendUrl{"https://api.ambrell.com/a b", false, "https://api.ambrell.com/a b"},
        BackendUrl{"http://[::1/x", false, "http://[::1/x"},
        BackendUrl{"", false, ""}));

TEST(CVAXAPIBackendUrl, NothingIsNoBackendUrl) { EXPECT_FALSE(makeApi()->isAmbrellBackendUrl(std::nullopt)); }

TEST(CVAXAPIBackendUrl, EqualityComparesNormalisedForms) {
    const auto api = makeApi();
    EXPECT_TRUE(api->isEqualAmbrellBackendUrl("https://api-dev.ambrell.com/a?b", "https://api.ambrell.com/a?b"));
    EXPECT_FALSE(api->isEqualAmbrellBackendUrl("https://api-dev.ambrell.com/a", "https://api.ambrell.com/b"));
    EXPECT_FALSE(api->isEqualAmbrellBackendUrl("http://api-dev.ambrell.com/a", "https://api.ambrell.com/a"));
    EXPECT_TRUE(api->isEqualAmbrellBackendUrl("not a url", "not a url"));
}

// MARK: - API-key validity

TEST_F(CVAXAPITest, OnlyARejectedKeyLeavesAnEntry) {
    useApiKey("KEY");
    const auto api = makeApi();
    auto& defaults = platform::UserDefaults::standard();
    EXPECT_TRUE(api->apiKeyValid());

    api->setApiKeyValid(false);
    EXPECT_FALSE(api->apiKeyValid());
    // On disk, not only in memory.
    EXPECT_EQ(platform::UserDefaults(defaults.filePath()).boolForKey("ax-apikeyvalid-KEY"), false);

    api->setApiKeyValid(true);
    EXPECT_TRUE(api->apiKeyValid());
    EXPECT_FALSE(defaults.hasKey("ax-apikeyvalid-KEY"));
    EXPECT_FALSE(platform::UserDefaults(defaults.filePath()).hasKey("ax-apikeyvalid-KEY"));
}

TEST_F(CVAXAPITest, ValidityIsKeptPerKey) {
    const auto api = makeApi();
    useApiKey("A");
    api->setApiKeyValid(false);
    useApiKey("B");
    EXPECT_TRUE(api->apiKeyValid());
    useApiKey("A");
    EXPECT_FALSE(api->apiKeyValid());
}

TEST_F(CVAXAPITest, WithoutAKeyNothingIsStored) {
    const auto api = makeApi();
    for (const auto& key : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        useApiKey(key);
        api->setApiKeyValid(false);
        EXPECT_TRUE(api->apiKeyValid());
        EXPECT_TRUE(platform::UserDefaults::standard().allKeys().empty());
    }
}

// MARK: - Proxy

struct Proxy {
    std::string_view name;
    Variables variables;
    std::optional<CVProxySettings> expected;
};

class CVAXAPIProxyTest : public ::testing::TestWithParam<Proxy> {};

TEST_P(CVAXAPIProxyTest, ReadsHostAndLeadingPortNumber) {
    EXPECT_EQ(makeApi(GetParam().variables)->proxySettings(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CVAXAPIProxyTest,
    ::testing::Values(
        Proxy{"none", {{"AMBRELL_PROXY_PORT", "8080"}}, std::nullopt},
        Proxy{"hostOnly", {{"AMBRELL_PROXY_HOST", "proxy.local"}}, CVProxySettings{"proxy.local", 1, std::nullopt}},
        Proxy{"port", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", "8080"}}, CVProxySettings{"p", 1, 8080}},
        Proxy{"trailingText", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", "80abc"}},
              CVProxySettings{"p", 1, 80}},
        Proxy{"noNumber", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", "abc"}}, CVProxySettings{"p", 1, 0}},
        Proxy{"emptyPort", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", ""}}, CVProxySettings{"p", 1, 0}},
        Proxy{"spacesAndSign", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", " +42"}},
              CVProxySettings{"p", 1, 42}},
        Proxy{"clampedHigh", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", "99999999999999999999"}},
              CVProxySettings{"p", 1, INT32_MAX}},
        Proxy{"clampedLow", {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", "-99999999999"}},
              CVProxySettings{"p", 1, INT32_MIN}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CVAXAPIProxy, IsReadOnceAndKept) {
    auto values = std::make_shared<std::map<std::string, std::string, std::less<>>>();
    (*values)["AMBRELL_PROXY_HOST"] = "first";
    CVAXAPI api(CVAXAPI::Environment([values](std::string_view name) -> std::optional<std::string> {
        const auto found = values->find(name);
        if (found == values->end()) return std::nullopt;
        return found->second;
    }));
    EXPECT_EQ(api.proxySettings()->host, "first");
    (*values)["AMBRELL_PROXY_HOST"] = "second";
    EXPECT_EQ(api.proxySettings()->host, "first");
}

// MARK: - Threads

TEST(CVAXAPIThreads, ReadersAlwaysSeeAWholeValue) {
    const auto api = makeApi();
    test::ScopedLogCapture capture;
    const std::vector<std::string> tokens{"token-a", "token-b"};
    const std::vector<std::string> bases{"http://a.test/", "http://b.test/"};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (t % 2 == 0) {
                    api->setSessionToken(tokens[i % 2]);
                    api->setCurrentBaseUrl(bases[i % 2]);
                } else {
                    const auto token = api->sessionToken();
                    EXPECT_TRUE(!token || token == tokens[0] || token == tokens[1]);
                    const auto url = api->graphSyncUrl();
                    EXPECT_TRUE(url.starts_with(kProd) || url.starts_with(bases[0]) || url.starts_with(bases[1]));
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(api->currentBaseUrl() == bases[0] || api->currentBaseUrl() == bases[1]);
}

}  // namespace
}  // namespace ambrell
