#include "foundation/CVAXAPI.h"

#include <boost/url/parse.hpp>
#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "foundation/CVContentContext.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using Variables = std::vector<std::pair<std::string, std::string>>;
using Strings = std::vector<std::string>;

const std::string kProd = "https://api.ambrell.com/";
const std::string kDev = "https://api-dev.ambrell.com/";
const std::string kStaging = "https://api-staging.ambrell.com/";
const std::vector<CVUserRole> kRoles{{"r1", "One"}, {"r2", "Two"}, {"r1", "One again"}};

std::unique_ptr<CVAXAPI> makeApi(Variables variables = {}) {
    return std::make_unique<CVAXAPI>(CVAXAPI::Environment::fromValues(std::move(variables)));
}

Strings debugLines(const test::ScopedLogCapture& capture) {
    Strings lines;
    for (const auto& entry : capture.sink().messages()) {
        if (entry.level == platform::LogLevel::debug) lines.push_back(entry.message);
    }
    return lines;
}

// The base URL, its override, and whether it is fixed and the development one.
auto baseUrlState(const CVAXAPI& api) {
    return std::tuple(api.currentBaseUrl(), api.overrideBaseUrl(), api.useFixedBackendUrl(), api.useDevEnvironment());
}

// Every test gets its own user defaults and content context.
class CVAXAPITest : public test::ContainerFixture {
protected:
    ~CVAXAPITest() override { CVContentContext::resetForTesting(); }
    static void useApiKey(std::optional<std::string> key) {
        CVContentContext::setApiKeyReader([key] { return key; });
    }
    static void useLanguage(std::optional<std::string> lr) {
        CVContentContext::setLanguageReader([lr] { return lr; });
    }
};

// MARK: - Choosing and changing the base URL

TEST(CVAXAPIEnvironment, ChoosesTheBaseUrlAndSaysWhy) {
    const std::string local = "http://127.0.0.1:8080/";
    // Variables, base URL, override, fixed, dev, and the source named in the log line.
    const std::tuple<Variables, std::string, std::optional<std::string>, bool, bool, std::string> cases[] = {
        {{}, kProd, std::nullopt, false, false, "Default base URL"},
        // Presence counts, not the value.
        {{{"AMBRELL_USE_DEV_API", "0"}}, kDev, kDev, true, true, "AMBRELL_USE_DEV_API"},
        {{{"AMBRELL_USE_STAGING_API", ""}}, kStaging, kStaging, true, false, "AMBRELL_USE_STAGING_API"},
        {{{"AMBRELL_USE_PROD_API", "1"}}, kProd, kProd, true, false, "AMBRELL_USE_PROD_API"},
        {{{"AMBRELL_API", local}}, local, local, true, false, "AMBRELL_API"},
        {{{"AMBRELL_API", "http://h"}}, "http://h", "http://h", true, false, "AMBRELL_API"},  // taken unchanged
        {{{"AMBRELL_API", ""}}, kProd, "", true, false, "Default base URL"},
        {{{"AMBRELL_USE_PROD_API", "1"}, {"AMBRELL_USE_DEV_API", "1"}},
         kProd,
         kProd,
         true,
         true,
         "AMBRELL_USE_PROD_API"},
        {{{"AMBRELL_USE_PROD_API", "1"}, {"AMBRELL_USE_STAGING_API", "1"}},
         kProd,
         kProd,
         true,
         false,
         "AMBRELL_USE_PROD_API"},
        {{{"AMBRELL_API", "http://x/"},
          {"AMBRELL_USE_PROD_API", "1"},
          {"AMBRELL_USE_STAGING_API", "1"},
          {"AMBRELL_USE_DEV_API", "1"}},
         "http://x/",
         "http://x/",
         true,
         true,
         "AMBRELL_API"},
    };
    for (const auto& [variables, baseUrl, overrideBaseUrl, fixed, dev, source] : cases) {
        SCOPED_TRACE(source + " " + baseUrl);
        test::ScopedLogCapture capture;
        const auto api = makeApi(variables);
        EXPECT_EQ(baseUrlState(*api), std::tuple(baseUrl, overrideBaseUrl, fixed, dev));
        EXPECT_EQ(debugLines(capture), Strings{"Initialized with baseUrl = " + baseUrl + " (" + source + ")"});
    }
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

TEST(CVAXAPIBaseUrl, ChangesOnlyAFreeBaseUrl) {
    const std::string other = "https://other.example/";
    const std::tuple<Variables, std::string, std::string, Strings> cases[] = {
        {{}, other, other, {"Changing base URL: https://api.ambrell.com/ => https://other.example/"}},
        {{},
         "http://127.0.0.1:9/v",
         "http://127.0.0.1:9/v/",
         {"Changing base URL: https://api.ambrell.com/ => http://127.0.0.1:9/v/"}},
        {{}, "https://api.ambrell.com", kProd, {}},  // the same but for the slash
        {{{"AMBRELL_API", "http://localhost:1234/"}},
         other,
         "http://localhost:1234/",
         {"Ignoring base URL change: http://localhost:1234/ => https://other.example/"}},
        {{{"AMBRELL_API", ""}},
         other,
         kProd,
         {"Ignoring base URL change: https://api.ambrell.com/ => https://other.example/"}},
        {{{"AMBRELL_USE_DEV_API", ""}},
         "https://other.example",
         kDev,
         {"Ignoring base URL change: https://api-dev.ambrell.com/ => https://other.example/"}},
    };
    for (const auto& [variables, requested, expected, messages] : cases) {
        SCOPED_TRACE(requested + " to " + expected);
        const auto api = makeApi(variables);
        test::ScopedLogCapture capture;
        api->setCurrentBaseUrl(requested);
        EXPECT_EQ(api->currentBaseUrl(), expected);
        EXPECT_EQ(debugLines(capture), messages);
    }
}

TEST(CVAXAPIBaseUrl, DevSwitchOnFixesTheDevelopmentUrlAndOffFreesProduction) {
    const auto api = makeApi();
    api->setUseDevEnvironment(true);
    EXPECT_EQ(baseUrlState(*api), std::tuple(kDev, std::optional(kDev), true, true));
    EXPECT_EQ(api->liveUpdateUrl(), "live-dev.ambrell.com");

    api->setUseDevEnvironment(false);
    EXPECT_EQ(baseUrlState(*api), std::tuple(kProd, std::optional<std::string>(), false, false));
    test::ScopedLogCapture capture;
    api->setCurrentBaseUrl("https://other.example/");
    EXPECT_EQ(api->currentBaseUrl(), "https://other.example/");
}

// MARK: - URLs

TEST_F(CVAXAPITest, EveryUrlHasItsExactForm) {
    useApiKey("KEY");
    useLanguage("da");
    const auto a = makeApi();
    // Each endpoint from the content context (the key "KEY", the language "da") and for a given solution.
    const std::string sync = "https://api.ambrell.com/sync/";
    const std::tuple<std::string, std::string, std::string> endpoints[] = {
        {a->datasetSizeSyncUrl(), a->getDatasetSizeSyncUrlForSolutionId("s", "en"), "dataset"},
        {a->graphSyncUrl(), a->graphSyncUrlForSolutionId("s", "en"), "graph"},
        {a->locationSyncUrl(), a->locationSyncUrlForSolutionId("s", "en"), "locations"},
        {a->venueSyncUrl(), a->venueSyncUrlForSolutionId("s", "en"), "venues"},
        {a->buildingSyncUrl(), a->buildingSyncUrlForSolutionId("s", "en"), "buildings"},
        {a->solutionSyncUrl(), a->solutionSyncUrlForSolutionId("s", "en"), "solutions"},
        {a->appDataSyncUrl(), a->appDataSyncUrlForSolutionId("s", "en"), "appconfig"},
        {a->categorySyncUrl(), a->categorySyncUrlForSolutionId("s", "en"), "categories"},
        {a->tileSyncUrl(), a->tileSyncUrlForSolutionId("s", "en"), "tiles"},
        {a->userRolesSyncUrl(), a->userRolesSyncUrlForSolutionId("s", "en"), "appuserroles"},
    };
    for (const auto& [fromContext, forSolution, endpoint] : endpoints) {
        EXPECT_EQ(fromContext, sync + endpoint + "?solutionId=KEY&lr=da&v=6");
        EXPECT_EQ(forSolution, sync + endpoint + "?solutionId=s&lr=en&v=6");
    }
    const std::pair<std::string, std::string> cases[] = {
        {a->urlStringForSyncEndpoint("x", "s", "de"), sync + "x?solutionId=s&lr=de&v=6"},
        // Nothing is escaped.
        {a->urlStringForSyncEndpoint("a b", "s&t=1", "ä ö"), sync + "a b?solutionId=s&t=1&lr=ä ö&v=6"},
        {a->dataSetSyncUrlForSolutionId("s", std::nullopt), sync + "dataset?solutionId=s&lr=da&v=6"},
        {a->graphSyncUrlForSolutionId(std::nullopt, "en"), sync + "graph?solutionId=KEY&lr=en&v=6"},
        {a->graphSyncUrlForSolutionId("s", "en", "v1"), sync + "graph?solutionId=s&lr=en&v=6&venueId=v1"},
        {a->locationSyncUrlForSolutionId("s", "en", {}), sync + "locations?solutionId=s&lr=en&v=6"},
        // Each role once.
        {a->locationSyncUrlForSolutionId("s", "en", kRoles),
         sync + "locations?solutionId=s&lr=en&v=6&appUserRoleIds=r1,r2"},
        {a->locationSyncUrlForSolutionId("s", "en", kRoles, "v1"),
         sync + "locations?solutionId=s&lr=en&v=6&appUserRoleIds=r1,r2&venueId=v1"},
        {a->locationSyncUrlForSolutionId("s", "en", {}, "v1"), sync + "locations?solutionId=s&lr=en&v=6&venueId=v1"},
        {a->buildingSyncUrlForSolutionId("s", "en", "v1"), sync + "buildings?solutionId=s&lr=en&v=6&venueId=v1"},
        {a->routeLayerSyncUrlForSolutionId("s", "en"), sync + "routelayer?solutionId=s&lr=en&v=6"},
        {a->derivedGeometrySyncUrlForSolutionId("s", "en"), sync + "derivedGeometry?solutionId=s&lr=en&v=6"},
        {a->derivedGeometrySyncUrlForSolutionId("s", "en", "v1"),
         sync + "derivedGeometry?solutionId=s&lr=en&v=6&venueId=v1"},
        {a->gatewayUrl(), "https://api.ambrell.com/KEY/api"},
        {a->loggingUrl("K1"), "https://api.ambrell.com/K1/api/logpackage"},
        // The key is one path component: encoded, never climbing, never a dot segment.
        {a->loggingUrl("a b?"), "https://api.ambrell.com/a%20b%3F/api/logpackage"},
        {a->loggingUrl("../../x"), "https://api.ambrell.com/..%2F..%2Fx/api/logpackage"},
        {a->loggingUrl(".."), "https://api.ambrell.com/%2E%2E/api/logpackage"},
        {a->loggingUrl(""), ""},
        {a->loggingUrl(std::nullopt), ""},
        {a->liveDataUrl("positions", std::nullopt), "https://liveapi.ambrell.com/api/positions"},
        {a->liveDataUrl("positions", "K1"), "https://liveapi.ambrell.com/api/positions/K1"},
        {a->liveDataStateUrl("a/b+c"), "https://liveapi.ambrell.com/api/state?topic=a/b+c"},
        {a->liveUpdateUrl(), "live.ambrell.com"},
        {a->urlForBookingServiceEndpoint("x", "s"), "https://booking.ambrell.com/s/api/booking/x"},
        {a->urlForFetchingBookableLocations("s"), "https://booking.ambrell.com/s/api/booking/available"},
        {a->urlForFetchingLocationsConfiguredForBooking("s"), "https://booking.ambrell.com/s/api/booking/bookable"},
        {a->urlForFetchingLocationBookings("s"), "https://booking.ambrell.com/s/api/booking/locationbookings"},
        {a->urlForFetchingUserBookings("s"), "https://booking.ambrell.com/s/api/booking/userbookings"},
        {a->urlForBooking("s"), "https://booking.ambrell.com/s/api/booking"},
        {a->urlForBooking(std::nullopt), "https://booking.ambrell.com/KEY/api/booking"},
    };
    for (const auto& [url, expected] : cases) EXPECT_EQ(url, expected);
}

TEST_F(CVAXAPITest, UrlsWithoutContextAndFollowingTheBaseUrl) {
    auto api = makeApi();
    // No context: the key is empty and the language English.
    EXPECT_EQ(api->venueSyncUrlForSolutionId("sol", std::nullopt),
              "https://api.ambrell.com/sync/venues?solutionId=sol&lr=en&v=6");
    EXPECT_EQ(api->gatewayUrl(), "https://api.ambrell.com/api");
    useApiKey("");
    EXPECT_EQ(api->gatewayUrl(), "https://api.ambrell.com/api");

    useApiKey("KEY");
    api = makeApi({{"AMBRELL_API", "http://127.0.0.1:8080/svc"}});
    EXPECT_EQ(api->gatewayUrl(), "http://127.0.0.1:8080/svcKEY/api");
    // The logging URL joins path components, so a missing slash is supplied.
    EXPECT_EQ(api->loggingUrl("KEY"), "http://127.0.0.1:8080/svc/KEY/api/logpackage");
}

// A key or solution id that holds "/" or is a dot segment must not move a
// request onto another path of the service.
TEST_F(CVAXAPITest, KeysAndSolutionIdsStayOnePathSegment) {
    useApiKey("a/../b");
    const auto a = makeApi();
    const std::pair<std::string, std::string> cases[] = {
        {a->gatewayUrl(), "https://api.ambrell.com/a%2F..%2Fb/api"},
        {a->apiKeyValidationUrl("k #1?x"), "https://api.ambrell.com/k%20%231%3Fx/api/validateapikey"},
        {a->apiKeyValidationUrl(".."), "https://api.ambrell.com/%2E%2E/api/validateapikey"},
        {a->urlForBooking(std::nullopt), "https://booking.ambrell.com/a%2F..%2Fb/api/booking"},
        {a->urlForBooking("s/../t"), "https://booking.ambrell.com/s%2F..%2Ft/api/booking"},
        {a->urlForBooking(".."), "https://booking.ambrell.com/%2E%2E/api/booking"},
        {a->urlForFetchingUserBookings("x y?"), "https://booking.ambrell.com/x%20y%3F/api/booking/userbookings"},
        {a->liveDataUrl("positions", "a/../b"), "https://liveapi.ambrell.com/api/positions/a%2F..%2Fb"},
        {a->liveDataUrl("positions", ".."), "https://liveapi.ambrell.com/api/positions/%2E%2E"},
    };
    for (const auto& [url, expected] : cases) {
        EXPECT_EQ(url, expected);
        const auto parsed = boost::urls::parse_uri(url);
        ASSERT_TRUE(parsed) << url;
        for (const auto segment : parsed->encoded_segments()) {
            EXPECT_NE(segment, "..") << url;
            EXPECT_NE(segment, ".") << url;
        }
    }
    // The gateway URL holds exactly the key segment and "api".
    const auto gateway = boost::urls::parse_uri(a->gatewayUrl());
    ASSERT_TRUE(gateway);
    EXPECT_EQ(gateway->segments().size(), 2U);
    EXPECT_EQ(gateway->segments().front(), "a/../b");

    useApiKey(".");
    EXPECT_EQ(makeApi()->gatewayUrl(), "https://api.ambrell.com/%2E/api");
}

TEST_F(CVAXAPITest, AllEndpointUrlsInFetchOrderWithTheAppliedRoles) {
    CVContentContext::setUserRolesReader([] { return kRoles; });
    const std::string q = "?solutionId=s&lr=fr&v=6";
    const std::string base = kProd + "sync/";
    EXPECT_EQ(makeApi()->allEndpointUrlsForSyncingSolutionId("s", "fr"),
              (Strings{base + "graph" + q, base + "venues" + q, base + "buildings" + q, base + "solutions" + q,
                       base + "appconfig" + q, base + "categories" + q, base + "appuserroles" + q,
                       base + "routelayer" + q, base + "locations" + q + "&appUserRoleIds=r1,r2"}));
}

// MARK: - Backend URLs

TEST(CVAXAPIBackendUrl, RecognisesNormalisesAndCompares) {
    // A loopback base URL, as a test host would set; its URLs count whatever their host.
    const auto api = makeApi({{"AMBRELL_API", "http://127.0.0.1:8080/"}});
    const std::pair<std::string_view, std::string_view> backend[] = {
        {"https://api.ambrell.com/sync/venues?x=1", "https://api.ambrell.com/sync/venues?x=1"},
        {"https://api-dev.ambrell.com/sync/venues?x=1", "https://api.ambrell.com/sync/venues?x=1"},
        {"http://api-staging.ambrell.com:8443/a/b?q=%20#f", "http://api.ambrell.com:8443/a/b?q=%20#f"},
        {"http://127.0.0.1:8080/sync/x?y", "http://api.ambrell.com:8080/sync/x?y"},
    };
    for (const auto& [url, normalised] : backend) {
        EXPECT_TRUE(api->isAmbrellBackendUrl(url)) << url;
        EXPECT_EQ(api->urlByNormalizingAmbrellBackendUrls(url), normalised);
    }
    // Any other URL is kept as it is.
    const std::string_view others[] = {
        "ftp://api.ambrell.com/x",
        "wss://api.ambrell.com/x",
        "https://cdn.ambrell.com/x",
        "https://api.notambrell.com/x",
        "https://api.ambrell.com.example.org/x",
        "http://127.0.0.1:9090/x",
        "https://api.ambrell.com/a b",
        "http://[::1/x",
        "",
    };
    for (const auto url : others) {
        EXPECT_FALSE(api->isAmbrellBackendUrl(url)) << url;
        EXPECT_EQ(api->urlByNormalizingAmbrellBackendUrls(url), url);
    }
    EXPECT_FALSE(api->isAmbrellBackendUrl(std::nullopt));

    EXPECT_TRUE(api->isEqualAmbrellBackendUrl("https://api-dev.ambrell.com/a?b", "https://api.ambrell.com/a?b"));
    EXPECT_FALSE(api->isEqualAmbrellBackendUrl("https://api-dev.ambrell.com/a", "https://api.ambrell.com/b"));
    EXPECT_FALSE(api->isEqualAmbrellBackendUrl("http://api-dev.ambrell.com/a", "https://api.ambrell.com/a"));
    EXPECT_TRUE(api->isEqualAmbrellBackendUrl("not a url", "not a url"));
}

// MARK: - API-key validity

TEST_F(CVAXAPITest, OnlyARejectedKeyLeavesAnEntryKeptPerKey) {
    const auto api = makeApi();
    const auto& defaults = platform::UserDefaults::standard();
    // Without a key nothing is stored.
    for (const auto& key : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        useApiKey(key);
        api->setApiKeyValid(false);
        EXPECT_TRUE(api->apiKeyValid());
        EXPECT_TRUE(defaults.allKeys().empty());
    }
    useApiKey("KEY");
    EXPECT_TRUE(api->apiKeyValid());
    api->setApiKeyValid(false);
    EXPECT_FALSE(api->apiKeyValid());
    // On disk, not only in memory.
    EXPECT_EQ(platform::UserDefaults(defaults.filePath()).boolForKey("ax-apikeyvalid-KEY"), false);

    useApiKey("B");
    EXPECT_TRUE(api->apiKeyValid());
    useApiKey("KEY");
    EXPECT_FALSE(api->apiKeyValid());

    api->setApiKeyValid(true);
    EXPECT_TRUE(api->apiKeyValid());
    EXPECT_FALSE(defaults.hasKey("ax-apikeyvalid-KEY"));
    EXPECT_FALSE(platform::UserDefaults(defaults.filePath()).hasKey("ax-apikeyvalid-KEY"));
}

// MARK: - Proxy

TEST(CVAXAPIProxy, ReadsHostAndLeadingPortNumber) {
    const auto proxy = [](std::string port) -> Variables {
        return {{"AMBRELL_PROXY_HOST", "p"}, {"AMBRELL_PROXY_PORT", std::move(port)}};
    };
    const std::pair<Variables, std::optional<CVProxySettings>> cases[] = {
        {{{"AMBRELL_PROXY_PORT", "8080"}}, std::nullopt},
        {{{"AMBRELL_PROXY_HOST", "proxy.local"}}, CVProxySettings{"proxy.local", 1, std::nullopt}},
        {proxy("8080"), CVProxySettings{"p", 1, 8080}},
        {proxy("80abc"), CVProxySettings{"p", 1, 80}},
        {proxy("abc"), CVProxySettings{"p", 1, 0}},
        {proxy(""), CVProxySettings{"p", 1, 0}},
        {proxy(" +42"), CVProxySettings{"p", 1, 42}},
        {proxy("99999999999999999999"), CVProxySettings{"p", 1, INT32_MAX}},
        {proxy("-99999999999"), CVProxySettings{"p", 1, INT32_MIN}},
    };
    for (const auto& [variables, expected] : cases) {
        EXPECT_EQ(makeApi(variables)->proxySettings(), expected) << variables.back().second;
    }
}

TEST(CVAXAPIProxy, IsReadOnceAndKept) {
    std::string host = "first";
    CVAXAPI api(CVAXAPI::Environment([&host](std::string_view name) -> std::optional<std::string> {
        return name == "AMBRELL_PROXY_HOST" ? std::optional(host) : std::nullopt;
    }));
    EXPECT_EQ(api.proxySettings()->host, "first");
    host = "second";
    EXPECT_EQ(api.proxySettings()->host, "first");
}

// MARK: - Threads

TEST(CVAXAPIThreads, ReadersAlwaysSeeAWholeValue) {
    const auto api = makeApi();
    test::ScopedLogCapture capture;
    const Strings values{"http://a.test/", "http://b.test/"};
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i) {
            api->setSessionToken(values[i % 2]);
            api->setCurrentBaseUrl(values[i % 2]);
        }
    });
    for (int i = 0; i < 1000; ++i) {
        const auto token = api->sessionToken();
        EXPECT_TRUE(!token || token == values[0] || token == values[1]);
        const auto url = api->graphSyncUrl();
        EXPECT_TRUE(url.starts_with(kProd) || url.starts_with(values[0]) || url.starts_with(values[1]));
    }
    writer.join();
    EXPECT_EQ(api->currentBaseUrl(), values[1]);
}

}  // namespace
}  // namespace ambrell
