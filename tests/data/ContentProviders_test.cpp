// The content providers against the sample solution's loopback web service,
// with the sample's bundle as the host app's resources and a data set in a
// temporary container.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "Ambrell/CVError.h"
#include "data/AmbrellLegacy.h"
#include "data/CVAppDataProvider.h"
#include "data/CVBuildingProvider.h"
#include "data/CVCategories.h"
#include "data/CVCategoriesProvider.h"
#include "data/CVContentProviderChain.h"
#include "data/CVDerivedGeometryProvider.h"
#include "data/CVLanguageSupport.h"
#include "data/CVModelCache.h"
#include "data/CVSolutionProvider.h"
#include "data/CVUserRoleProvider.h"
#include "data/CVVenueProvider.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/NSErrorException.h"
#include "platform/runtime/MainQueue.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/WaitFor.h"

namespace ambrell::content_providers_test {
namespace {

namespace fs = std::filesystem;
using platform::NSError;

constexpr auto kBound = std::chrono::seconds(20);
constexpr std::string_view kOtherId = "other-solution";

// What a provider answered: a short description of the model (empty for none).
struct Outcome {
    std::string content;
    std::optional<NSError> error;
    bool onMainQueue = false;
};
using Done = std::function<void(Outcome)>;

std::string describe(const CVSolutionInternal& solution) { return solution.name; }
std::string describe(const CVAppData& appData) { return appData.colorPrimary.value_or(""); }
std::string describe(const CVUserRoleProvider::UserRoles& roles) {
    std::string names;
    for (const auto& role : roles) names += role.name + ";";
    return names;
}

template <typename Model>
auto reporter(Done done) {
    return [done = std::move(done)](std::shared_ptr<Model> model, std::optional<NSError> error) {
        done(Outcome{model ? describe(*model) : "", std::move(error), platform::MainQueue::shared().isCurrent()});
    };
}

template <typename Model>
std::string describeDocument(const std::string& document) {
    std::optional<NSError> ignored;
    if constexpr (std::is_same_v<Model, CVUserRoleProvider::UserRoles>) {
        return describe(*CVUserRoleProvider::userRolesFromData({document.begin(), document.end()}));
    } else {
        return describe(*Model::fromString(document));
    }
}

struct ProviderCase {
    std::string name;
    std::string endpoint;
    std::int64_t errorCode;
    // A text of the sample's document that the description shows.
    std::string token;
    std::function<void(std::optional<std::string>, Done)> fetch;
    std::function<std::string(const std::string&)> describeDocument;
};

const std::vector<ProviderCase>& providers() {
    static const std::vector<ProviderCase> cases = {
        {"solution", "solutions", 100410, "Ambrell Sample Campuses",
         [](auto id, Done done) {
             std::make_shared<CVSolutionProvider>()->getSolutionAsync(id, reporter<CVSolutionInternal>(done));
         },
         describeDocument<CVSolutionInternal>},
        {"app data", "appconfig", 100810, "#1F3A5F",
         [](auto id, Done done) {
             std::make_shared<CVAppDataProvider>()->getAppDataAsync(id, std::nullopt, reporter<CVAppData>(done));
         },
         describeDocument<CVAppData>},
        {"user roles", "appuserroles", 100910, "Staff",
         [](auto id, Done done) {
             std::make_shared<CVUserRoleProvider>()->getUserRolesAsync(id, std::nullopt,
                                                                       reporter<CVUserRoleProvider::UserRoles>(done));
         },
         describeDocument<CVUserRoleProvider::UserRoles>},
    };
    return cases;
}

class ContentProviders : protected test::CapturedLog, public test::SampleServiceFixture {
protected:
    static void writeDataSetFile(const std::string& endpoint, std::string_view solutionId, std::string_view text) {
        ASSERT_FALSE(platform::writeFileAtomically(dataSetFile(endpoint, solutionId), text));
    }
    // The sample's document with its token marked, to tell copies apart.
    std::string marked(const ProviderCase& provider, const std::string& mark) const {
        auto document = service_.syncDocument(provider.endpoint, "en");
        document.replace(document.find(provider.token), provider.token.size(), provider.token + " " + mark);
        return document;
    }
    std::string served(const ProviderCase& provider) const {
        return provider.describeDocument(service_.syncDocument(provider.endpoint, "en"));
    }

    static Outcome fetch(const ProviderCase& provider, std::optional<std::string> solutionId) {
        auto promise = std::make_shared<std::promise<Outcome>>();
        auto answered = promise->get_future();
        provider.fetch(std::move(solutionId), [promise](Outcome outcome) { promise->set_value(std::move(outcome)); });
        if (answered.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << provider.name << ": no answer";
            return {};
        }
        auto outcome = answered.get();
        EXPECT_TRUE(outcome.onMainQueue) << provider.name;
        return outcome;
    }
    Outcome fetch(const ProviderCase& provider) { return fetch(provider, id()); }

    static void expectError(const Outcome& outcome, std::int64_t code, const std::string& name) {
        EXPECT_EQ(outcome.content, "") << name;
        ASSERT_TRUE(outcome.error) << name;
        EXPECT_EQ(*outcome.error, (NSError{"com.corvay.Ambrell", code, {}})) << name;
    }
};

TEST_F(ContentProviders, OfflineAnswersTheDataSetCopyBeforeTheResourceWithoutAskingTheService) {
    setOnline(false);
    for (const auto& provider : providers()) {
        CVModelCache::memoryCache()->clearCache();
        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name << ": the bundled resource";
        CVModelCache::memoryCache()->clearCache();
        const auto copy = marked(provider, "(data set)");
        writeDataSetFile(provider.endpoint, id(), copy);
        EXPECT_EQ(fetch(provider).content, provider.describeDocument(copy)) << provider.name;
        // Now from memory, although the file says otherwise.
        writeDataSetFile(provider.endpoint, id(), marked(provider, "(changed)"));
        EXPECT_EQ(fetch(provider).content, provider.describeDocument(copy)) << provider.name;
    }
    EXPECT_TRUE(service_.web().requests().empty());
}

TEST_F(ContentProviders, OnlineDownloadsThenRevalidatesTheMemoryEntryWith304) {
    for (const auto& provider : providers()) {
        // The bundled copy is parsed on the way, but online the fresher download is answered.
        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
        EXPECT_TRUE(xattr_lastModified(dataSetFile(provider.endpoint, id()))) << provider.name;
        // A 304 answers the memory entry; the file on disk is not read.
        writeDataSetFile(provider.endpoint, id(), "not read");
        xattr_setLastModified(dataSetFile(provider.endpoint, id()), test::httpDate(service_.lastModified()));
        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
        const auto last = service_.web().lastRequest("/sync/" + provider.endpoint);
        ASSERT_TRUE(last);
        EXPECT_TRUE(last->header("If-Modified-Since")) << provider.name;
        EXPECT_EQ(requestsTo(provider.endpoint), 2U) << provider.name;
    }
}

TEST_F(ContentProviders, A304WithNothingHeldIsAnErrorExceptForTheSolution) {
    for (const auto& provider : providers()) {
        // The handler plays the copy's arrival after the local start looked for it.
        const auto document = service_.syncDocument(provider.endpoint, "en");
        service_.web().handle(route(provider.endpoint, kOtherId), [&, document](const test::RecordedRequest&) {
            EXPECT_FALSE(platform::writeFileAtomically(dataSetFile(provider.endpoint, kOtherId), document));
            return test::LoopbackWebService::Response{304, "", {}};
        });
        const auto outcome = fetch(provider, std::string(kOtherId));
        if (provider.endpoint == "solutions") {
            EXPECT_EQ(outcome.content, served(provider));
            EXPECT_FALSE(outcome.error);
        } else {
            expectError(outcome, provider.errorCode, provider.name);
        }
    }
}

TEST_F(ContentProviders, TheCopyReadByTheRequestStandsInForAnEvictedMemoryEntry) {
    for (const int status : {304, 503}) {
        for (const auto& provider : providers()) {
            CVModelCache::memoryCache()->clearCache();
            const auto copy = marked(provider, "(data set)");
            writeDataSetFile(provider.endpoint, id(), copy);
            // The platform empties the cache while the request waits for the service.
            service_.web().handle(route(provider.endpoint, id()), [status](const test::RecordedRequest&) {
                CVModelCache::memoryCache()->clearCache();
                return test::LoopbackWebService::Response{status, "", {}};
            });
            EXPECT_EQ(fetch(provider).content, provider.describeDocument(copy)) << provider.name << " " << status;
        }
    }
}

TEST_F(ContentProviders, TransportErrorsAreHiddenByTheMemoryEntryOnly) {
    for (const auto& provider : providers()) {
        service_.web().respond(route(provider.endpoint, kOtherId), {500, "", {}});
        expectError(fetch(provider, std::string(kOtherId)), provider.errorCode, provider.name);
        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
    }
    service_.stop();
    for (const auto& provider : providers()) EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
    // Offline the download fails at once, and the memory entry is answered all the same.
    setOnline(false);
    for (const auto& provider : providers()) {
        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
        expectError(fetch(provider, std::string(kOtherId)), provider.errorCode, provider.name);
    }
}

TEST_F(ContentProviders, OverlappingRequestsFromManyThreadsEachAnswerOnce) {
    constexpr std::size_t kRequests = 30;
    // Shared with the completions, which outlive the test when one is late.
    auto calls = std::make_shared<std::vector<std::atomic<int>>>(kRequests);
    auto wrong = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> callers;
    for (std::size_t index = 0; index < kRequests; ++index) {
        callers.emplace_back([&, index] {
            const auto& provider = providers()[index % providers().size()];
            provider.fetch(id(), [calls, wrong, index, expected = served(provider)](const Outcome& outcome) {
                if (outcome.content != expected || !outcome.onMainQueue) ++*wrong;
                ++(*calls)[index];
            });
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_TRUE(test::eachCalledOnce(*calls));
    EXPECT_EQ(wrong->load(), 0);
}

TEST_F(ContentProviders, AnInvalidSolutionIdIsAnsweredAtOnceOnTheCallersThread) {
    const std::pair<std::optional<std::string>, std::string> ids[] = {{std::nullopt, "solutionId"},
                                                                      {"", "solutionId.length"}};
    const std::pair<std::string, std::string> operations[] = {
        {"solution", "-[CVSolutionProvider getSolutionAsync:completionHandler:] (CVSolutionProvider.cpp:"},
        {"app data", "-[CVAppDataProvider getAppDataAsync:language:completionHandler:] (CVAppDataProvider.cpp:"},
        {"user roles", "-[CVUserRoleProvider getUserRolesAsync:locale:completionHandler:] (CVUserRoleProvider.cpp:"}};
    for (const auto& [solutionId, condition] : ids) {
        for (std::size_t index = 0; index < providers().size(); ++index) {
            std::optional<Outcome> outcome;
            providers()[index].fetch(solutionId, [&](Outcome answered) { outcome = std::move(answered); });
            ASSERT_TRUE(outcome);
            EXPECT_FALSE(outcome->onMainQueue);
            ASSERT_TRUE(outcome->error);
            EXPECT_EQ(outcome->error->code, 101200);
            const auto text = outcome->error->stringForKey("msg").value_or("");
            EXPECT_EQ(
                text.rfind("Invalid parameter not satisfying: " + condition + " in " + operations[index].second, 0), 0U)
                << text;
            EXPECT_TRUE(text.ends_with(").")) << text;
            EXPECT_TRUE(logs_.sink().contains(text));
        }
    }
    EXPECT_TRUE(service_.web().requests().empty());
}

class Recorder : public CVSolutionProviderDelegate, public CVAppDataProviderDelegate, public test::EventRecorder {
public:
    void onSolutionsReady(const std::shared_ptr<CVSolutionInternal>& solution) override {
        record("delegate " + solution->name);
    }
    void onAppDataReady(const std::shared_ptr<CVAppData>& appData) override {
        record("delegate " + appData->colorPrimary.value_or(""));
    }
};

TEST_F(ContentProviders, TheDelegateHearsBeforeTheCompletionBothOnTheMainQueue) {
    const auto recorder = std::make_shared<Recorder>();
    const auto solutions = std::make_shared<CVSolutionProvider>();
    const auto appData = std::make_shared<CVAppDataProvider>();
    solutions->setDelegate(recorder);
    appData->setDelegate(recorder);
    const auto answered = [&](std::size_t count) {
        return test::waitFor([&] { return recorder->events().size() == count; }, kBound);
    };
    solutions->getSolutionWithCompletion(
        [&](auto solution, auto) { recorder->record("completion " + solution->name); });
    ASSERT_TRUE(answered(2));
    appData->getAppDataWithCompletion([&](auto data, auto) { recorder->record("completion " + *data->colorPrimary); });
    ASSERT_TRUE(answered(4));
    // Without a completion only the delegate hears.
    solutions->getSolution();
    ASSERT_TRUE(answered(5));
    appData->getAppData();
    ASSERT_TRUE(answered(6));
    // An error reaches the completion only.
    AmbrellLegacy::setApiKey(std::string(kOtherId));
    std::atomic<int> failures{0};
    appData->getAppDataWithCompletion([&](auto, auto error) { failures += error ? 1 : 0; });
    ASSERT_TRUE(test::waitFor([&] { return failures == 1; }, kBound));
    platform::MainQueue::shared().drain();

    const std::string solution = "Ambrell Sample Campuses";
    const std::string colour = "#1F3A5F";
    EXPECT_EQ(recorder->events(),
              (std::vector<std::string>{"delegate " + solution, "completion " + solution, "delegate " + colour,
                                        "completion " + colour, "delegate " + solution, "delegate " + colour}));
}

TEST_F(ContentProviders, OfflineAvailabilityLooksInMemoryTheDataSetAndTheResources) {
    using Check = std::function<bool(std::string_view)>;
    const std::tuple<std::string, std::string, Check> checks[] = {
        {"solutions", "+[CVSolutionProvider isOfflineDataAvailableForSolutionId:] CVSolutionProvider",
         [](auto solutionId) { return CVSolutionProvider::isOfflineDataAvailableForSolutionId(solutionId); }},
        {"appconfig", "+[CVAppDataProvider isOfflineDataAvailableForSolutionId:language:] CVAppDataProvider",
         [](auto solutionId) { return CVAppDataProvider::isOfflineDataAvailableForSolutionId(solutionId, "en"); }},
        {"appuserroles", "+[CVUserRoleProvider isOfflineDataAvailableForSolutionId:language:] CVUserRoleProvider",
         [](auto solutionId) { return CVUserRoleProvider::isOfflineDataAvailableForSolutionId(solutionId, "en"); }},
    };
    for (const auto& [endpoint, line, check] : checks) {
        EXPECT_TRUE(check(id())) << endpoint << ": the bundled resource";
        EXPECT_TRUE(logs_.sink().contains(line + ".isOfflineDataAvailable = YES"));
        EXPECT_FALSE(check(kOtherId)) << endpoint;
        EXPECT_TRUE(logs_.sink().contains(line + ".isOfflineDataAvailable = NO"));
        writeDataSetFile(endpoint, kOtherId, "{}");
        EXPECT_TRUE(check(kOtherId)) << endpoint << ": the data-set file";
    }
    // From memory only.
    const auto& appData = providers()[1];
    service_.web().respond(route("appconfig", "memory-only"), {200, service_.syncDocument("appconfig", "en"), {}});
    EXPECT_EQ(fetch(appData, "memory-only").content, "#1F3A5F");
    fs::remove(dataSetFile("appconfig", "memory-only"));
    EXPECT_TRUE(CVAppDataProvider::isOfflineDataAvailableForSolutionId("memory-only", "en"));
}

TEST_F(ContentProviders, UnusableDownloadsAreHiddenByWhatIsHeldOnly) {
    const std::string broken = R"({"not": "what the provider reads")";
    for (const auto& provider : providers()) {
        // Held in memory first; an unusable download then answers the entry and leaves it in place.
        service_.web().respond(route(provider.endpoint, kOtherId),
                               {200, service_.syncDocument(provider.endpoint, "en"), {}});
        EXPECT_EQ(fetch(provider, std::string(kOtherId)).content, served(provider)) << provider.name;
        service_.web().respond(route(provider.endpoint, kOtherId),
                               {200, broken, {{"Last-Modified", test::httpDate(service_.lastModified())}}});
        EXPECT_EQ(fetch(provider, std::string(kOtherId)).content, served(provider)) << provider.name;
        // The good copy and its date stay in the data set: without the memory
        // entry, it is read again and answers the download that fails once more.
        EXPECT_EQ(platform::readTextFile(dataSetFile(provider.endpoint, kOtherId)),
                  service_.syncDocument(provider.endpoint, "en"))
            << provider.name;
        EXPECT_TRUE(xattr_lastModified(dataSetFile(provider.endpoint, kOtherId))) << provider.name;
        CVModelCache::memoryCache()->clearCache();
        EXPECT_EQ(fetch(provider, std::string(kOtherId)).content, served(provider)) << provider.name;
        // With nothing held, the provider's error.
        CVModelCache::memoryCache()->clearCache();
        fs::remove(dataSetFile(provider.endpoint, kOtherId));
        expectError(fetch(provider, std::string(kOtherId)), provider.errorCode, provider.name);
    }
}

// Every provider whose content goes through the chain, its answer described
// by names (or the error's code).
struct StoredCopyCase {
    std::string name;
    std::function<std::string(const std::string& solutionId)> url;
    // A name in the document that the description shows; the stored copy
    // marks it, to tell that copy's answer from the bundle's. None where the
    // answer tells them apart already.
    std::string token;
    std::function<void(const std::string& solutionId, std::function<void(std::string)>)> fetch;
};

template <typename List>
std::string namesOf(const List& list) {
    std::string names;
    for (const auto& element : list) names += element->name + ";";
    return names;
}

template <typename Describe>
auto describing(std::function<void(std::string)> done, Describe describe) {
    return [done = std::move(done), describe](const auto& answer, const std::optional<NSError>& error) {
        done(error ? "error " + std::to_string(error->code) : describe(answer));
    };
}

const std::vector<StoredCopyCase>& storedCopyCases() {
    static constexpr std::string_view kMeridian = "c4c33ed16a328b160781e953";
    const auto sync = [](std::string endpoint) {
        return [endpoint](const std::string& solutionId) {
            return CVAXAPI::sharedInstance()->urlStringForSyncEndpoint(endpoint, solutionId, "en");
        };
    };
    static const std::vector<StoredCopyCase> cases = {
        {"solution", sync("solutions"), "Ambrell Sample Campuses",
         [](const std::string& id, auto done) {
             std::make_shared<CVSolutionProvider>()->getSolutionAsync(
                 id, describing(done, [](const auto& solution) { return solution->name; }));
         }},
        {"app data", sync("appconfig"), "#1F3A5F",
         [](const std::string& id, auto done) {
             std::make_shared<CVAppDataProvider>()->getAppDataAsync(
                 id, std::nullopt,
                 describing(done, [](const auto& appData) { return appData->colorPrimary.value_or(""); }));
         }},
        {"user roles", sync("appuserroles"), "Staff",
         [](const std::string& id, auto done) {
             std::make_shared<CVUserRoleProvider>()->getUserRolesAsync(
                 id, std::nullopt, describing(done, [](const auto& roles) { return describe(*roles); }));
         }},
        {"derived geometry",
         [](const std::string& id) {
             return CVAXAPI::sharedInstance()->derivedGeometrySyncUrlForSolutionId(id, "en", kMeridian);
         },
         "",
         [](const std::string& id, auto done) {
             std::make_shared<CVDerivedGeometryProvider>(std::string(kMeridian))
                 ->getDerivedGeometryAsync(id, describing(done, [](const auto& geometries) {
                                               return std::to_string(geometries->size()) + " geometries";
                                           }));
         }},
        {"venues", sync("venues"), "Meridian Campus",
         [](const std::string& id, auto done) {
             std::make_shared<CVVenueProvider>()->getVenuesAsync(
                 id, "en", describing(done, [](const auto& venues) { return namesOf(venues); }));
         }},
        {"buildings of all venues", sync("buildings"), "Meridian Hall",
         [](const std::string& id, auto done) {
             std::make_shared<CVVenueProvider>()->getBuildingsAsync(
                 "all", id, "en", describing(done, [](const auto& buildings) { return namesOf(buildings); }));
         }},
        {"buildings of one venue",
         [](const std::string& id) {
             return CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(id, "en", kMeridian);
         },
         "Meridian Hall",
         [](const std::string& id, auto done) {
             CVBuildingProvider::initWithVenueId(std::string(kMeridian))
                 ->getBuildingsAsync(std::string(kMeridian), id, "en",
                                     describing(done, [](const auto& buildings) { return namesOf(buildings); }));
         }},
    };
    return cases;
}

std::string answerOf(const StoredCopyCase& provider, const std::string& solutionId) {
    auto promise = std::make_shared<std::promise<std::string>>();
    auto answered = promise->get_future();
    provider.fetch(solutionId, [promise](std::string text) { promise->set_value(std::move(text)); });
    return answered.wait_for(kBound) == std::future_status::ready ? answered.get() : "no answer";
}

TEST_F(ContentProviders, AnAnswerThatDoesNotReadLeavesTheStoredCopyWhichAnswersItAndTheNextStart) {
    const auto linesAbout = [this](const std::string& url) {
        const auto messages = logs_.sink().messages();
        return std::ranges::count_if(messages, [&](const auto& entry) {
            return entry.message.find("The answer to " + url + " ") != std::string::npos;
        });
    };
    for (const auto& provider : storedCopyCases()) {
        const auto url = provider.url(id());
        const auto file = *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, id());
        // A good copy, downloaded, then marked as the data set's own.
        CVModelCache::memoryCache()->clearCache();
        ASSERT_NE(answerOf(provider, id()).rfind("error", 0), 0U) << provider.name;
        // The venue list answers before its download ends.
        ASSERT_TRUE(test::waitFor([&] { return xattr_lastModified(file).has_value(); }, kBound)) << provider.name;
        const auto date = xattr_lastModified(file);
        auto stored = platform::readTextFile(file).value_or("");
        if (!provider.token.empty()) {
            const auto at = stored.find(provider.token);
            ASSERT_NE(at, std::string::npos) << provider.name;
            stored.insert(at + provider.token.size(), " (stored)");
        }
        ASSERT_FALSE(platform::writeFileAtomically(file, stored));
        xattr_setLastModified(file, date);
        setOnline(false);
        CVModelCache::memoryCache()->clearCache();
        const auto storedAnswer = answerOf(provider, id());
        ASSERT_NE(storedAnswer.rfind("error", 0), 0U) << provider.name;
        setOnline(true);

        const std::string loginPage = "<!DOCTYPE html><html><body><form action=\"/login\">Sign in</form></body></html>";
        for (const auto& body : {loginPage, stored.substr(0, stored.size() / 2)}) {
            SCOPED_TRACE(provider.name + (body == loginPage ? ": a login page" : ": a body cut short"));
            const auto before = linesAbout(url);
            service_.web().respond(url.substr(service_.baseUrl().size() - 1), {200, body, {}});
            CVModelCache::memoryCache()->clearCache();
            // A failed download for the caller too: the stored copy answers it.
            EXPECT_EQ(answerOf(provider, id()), storedAnswer);
            ASSERT_TRUE(test::waitFor([&] { return linesAbout(url) > before; }, kBound));
            EXPECT_TRUE(platform::readTextFile(file) == stored) << "the stored copy changed";
            EXPECT_EQ(xattr_lastModified(file), date);

            setOnline(false);
            CVModelCache::memoryCache()->clearCache();
            EXPECT_EQ(answerOf(provider, id()), storedAnswer);
            setOnline(true);
        }
    }
}

TEST_F(ContentProviders, UserRolesSkipElementsThatAreNotObjects) {
    const std::string document = R"([{"id": "a", "name": "Staff"}, 7, "x", {"name": "no id"}, {"id": "b"}])";
    EXPECT_EQ(describe(*CVUserRoleProvider::userRolesFromData({document.begin(), document.end()})), "Staff;;");
    for (const std::string unusable : {R"({"id": "a"})", "[", ""}) {
        EXPECT_EQ(CVUserRoleProvider::userRolesFromData({unusable.begin(), unusable.end()}), nullptr) << unusable;
    }
    const auto provider = std::make_shared<CVSolutionProvider>();
    auto roles = std::make_shared<std::promise<std::string>>();
    provider->getUserRolesWithCompletion([roles](auto answered, auto) { roles->set_value(describe(*answered)); });
    auto answer = roles->get_future();
    ASSERT_EQ(answer.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(answer.get(), "Staff;Visitor;Facility manager;");
}

TEST_F(ContentProviders, ACorruptCachedCopyHealsWithAnUnconditionalDownload) {
    for (const auto& provider : providers()) {
        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
        writeDataSetFile(provider.endpoint, id(), "{corrupt");
        xattr_setLastModified(dataSetFile(provider.endpoint, id()), test::httpDate(service_.lastModified()));
        CVModelCache::memoryCache()->clearCache();
        service_.web().clearRequests();

        EXPECT_EQ(fetch(provider).content, served(provider)) << provider.name;
        const auto last = service_.web().lastRequest("/sync/" + provider.endpoint);
        ASSERT_TRUE(last);
        EXPECT_FALSE(last->header("If-Modified-Since")) << provider.name;
        EXPECT_EQ(platform::readTextFile(dataSetFile(provider.endpoint, id())),
                  service_.syncDocument(provider.endpoint, "en"));
    }

    // The building list of one venue reads its copy only once a 304 says it
    // is current: the copy must lose its date then, or it would come back as
    // 304 for good.
    const auto& oneVenue = storedCopyCases().back();
    const auto url = oneVenue.url(id());
    const auto file = *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, id());
    const auto names = answerOf(oneVenue, id());
    ASSERT_EQ(names.rfind("error", 0), std::string::npos);
    const auto document = platform::readTextFile(file);
    ASSERT_TRUE(document);
    ASSERT_FALSE(platform::writeFileAtomically(file, "{corrupt"));
    xattr_setLastModified(file, test::httpDate(service_.lastModified()));
    CVModelCache::memoryCache()->clearCache();
    service_.web().clearRequests();

    (void)answerOf(oneVenue, id());
    EXPECT_EQ(answerOf(oneVenue, id()), names);
    const auto last = service_.web().lastRequest("/sync/buildings");
    ASSERT_TRUE(last);
    EXPECT_FALSE(last->header("If-Modified-Since"));
    EXPECT_EQ(platform::readTextFile(file), document);
}

TEST_F(ContentProviders, ASolutionInALanguageItDoesNotOfferSwitchesToItsDefaultOnce) {
    CVLanguageSupport::ax_setLanguage("fr");
    platform::MainQueue::shared().drain();
    service_.web().respond(route("solutions", id(), "fr"), {200, service_.syncDocument("solutions", "en"), {}});
    std::atomic<int> changes{0};
    auto observer = platform::NotificationCenter::defaultCenter().addObserver(kNotificationAmbrellLanguageChanged(),
                                                                              [&](const auto&) { ++changes; });
    const auto recorder = std::make_shared<Recorder>();
    const auto provider = std::make_shared<CVSolutionProvider>();
    provider->setDelegate(recorder);
    provider->getSolution();
    // The first answer, then the refetch in the default language.
    ASSERT_TRUE(test::waitFor([&] { return recorder->events().size() == 2; }, kBound));
    EXPECT_EQ(changes.load(), 1);
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "en");
    EXPECT_EQ(CVLanguageSupport::ax_getDefaultLanguage(), "en");
    EXPECT_EQ(CVLanguageSupport::ax_getAvailableLanguages(), (std::vector<std::string>{"en", "da"}));
    const auto requests = service_.web().requestsTo("/sync/solutions");
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_NE(requests[0].query.find("lr=fr"), std::string::npos);
    EXPECT_NE(requests[1].query.find("lr=en"), std::string::npos);
    EXPECT_TRUE(logs_.sink().contains(
        "[W] Current Ambrell language 'fr' not supported by solution data, reverting to solution default language "
        "'en'"));
}

TEST_F(ContentProviders, ASolutionReadOfflineIsNotCheckedForItsLanguage) {
    CVLanguageSupport::ax_setLanguage("da");
    CVLanguageSupport::ax_setAvailableLanguages(std::vector<std::string>{"fr"});
    platform::MainQueue::shared().drain();
    setOnline(false);
    EXPECT_EQ(fetch(providers()[0]).content, "Ambrell Sample Campuses");
    EXPECT_EQ(CVLanguageSupport::ax_getAvailableLanguages(), (std::vector<std::string>{"fr"}));
    EXPECT_EQ(CVLanguageSupport::ax_getDefaultLanguage(), std::nullopt);
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "da");
}

// The categories provider: one asynchronous operation, same order of sources.
class CategoriesProvider : public ContentProviders {
protected:
    // The keys of the answered list, or the thrown error's text.
    static std::string categories() {
        auto answer = std::make_shared<std::promise<std::string>>();
        CVCategoriesProvider().categoriesWithCompletionHandler([answer](auto list, auto error) {
            std::string keys;
            if (list) {
                for (const auto& field : *list) keys += field->getKey() + ";";
            }
            answer->set_value(error ? error->domain + " " + std::to_string(error->code) : keys);
        });
        auto answered = answer->get_future();
        if (answered.wait_for(kBound) != std::future_status::ready) return "no answer";
        return answered.get();
    }
    const std::string sample_ = "meeting;facilities;food;accessibility;transport;";
};

TEST_F(CategoriesProvider, FollowsTheChainsOrderOfSources) {
    setOnline(false);
    EXPECT_EQ(categories(), sample_) << "the bundled resource";
    CVModelCache::memoryCache()->clearCache();
    writeDataSetFile("categories", id(), R"([{"key": "cached", "value": "Cached"}])");
    EXPECT_EQ(categories(), "cached;");
    EXPECT_TRUE(CVCategoriesProvider::isOfflineDataAvailableForSolutionId(id(), "en"));
    EXPECT_FALSE(CVCategoriesProvider::isOfflineDataAvailableForSolutionId(kOtherId, "en"));
    EXPECT_TRUE(service_.web().requests().empty());

    setOnline(true);
    EXPECT_EQ(categories(), sample_);
    EXPECT_EQ(categories(), sample_) << "the memory entry after a 304";
    EXPECT_EQ(requestsTo("categories"), 2U);
    service_.stop();
    EXPECT_EQ(categories(), sample_) << "the memory entry after a transport error";
    CVModelCache::memoryCache()->clearCache();
    fs::remove(dataSetFile("categories", id()));
    EXPECT_EQ(categories(), sample_) << "the bundled copy, read by this very call";
}

TEST_F(CategoriesProvider, ReportsItsErrors) {
    AmbrellLegacy::setApiKey(std::nullopt);
    EXPECT_EQ(categories(), "Ambrell.CVError 0");
    AmbrellLegacy::setApiKey(std::string(kOtherId));
    EXPECT_EQ(categories(), "Ambrell.CVError 8");

    // A corrupt cached copy (one the model refuses, one cut short): thrown
    // offline, fetched afresh and unconditionally online.
    AmbrellLegacy::setApiKey(id());
    for (const std::string corrupt : {R"({"list": 7})", R"([{"key": "cut)"}) {
        CVModelCache::memoryCache()->clearCache();
        writeDataSetFile("categories", id(), corrupt);
        xattr_setLastModified(dataSetFile("categories", id()), test::httpDate(service_.lastModified()));
        setOnline(false);
        EXPECT_EQ(categories().rfind("JSONModelErrorDomain", 0), 0U) << corrupt;
        setOnline(true);
        EXPECT_EQ(categories(), sample_) << corrupt;
        EXPECT_FALSE(service_.web().lastRequest("/sync/categories")->header("If-Modified-Since")) << corrupt;
    }
}

TEST_F(CategoriesProvider, AnUnusableDownloadFallsBackToTheMemoryEntry) {
    AmbrellLegacy::setApiKey(std::string(kOtherId));
    service_.web().respond(route("categories", kOtherId), {200, R"({"list": 7})", {}});
    EXPECT_EQ(categories(), "Ambrell.CVError 8");
    // The unusable download did not stay in the data set: offline there is nothing to answer.
    EXPECT_FALSE(fs::exists(dataSetFile("categories", kOtherId)));
    setOnline(false);
    EXPECT_EQ(categories(), "Ambrell.CVError 8");
    setOnline(true);
    CVModelCache::memoryCache()->setObject(std::make_shared<CVCategories>(),
                                           CVModelCache::cacheKeyForUrl(url("categories", kOtherId)));
    EXPECT_EQ(categories(), "");
}

}  // namespace
}  // namespace ambrell::content_providers_test
