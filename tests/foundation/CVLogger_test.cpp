#include "foundation/CVLogger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <algorithm>
#include <future>
#include <regex>
#include <set>

#include "Ambrell/CVError.h"
#include "foundation/CVLogPackage.h"
#include "foundation/CVLogUploader.h"
#include "foundation/SdkVersion.h"
#include "platform/FileSystem.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/JsonEq.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using Tags = std::vector<std::string>;

const system_clock::time_point kStart = sys_days{2024y / March / 5} + 7h + 8min + 9s + 123ms;
const std::string kRoute = "/solution-key/api/logpackage";

// MARK: - Packages

std::set<std::string> keysOf(const boost::json::object& object) {
    std::set<std::string> keys;
    for (const auto& member : object) keys.emplace(member.key());
    return keys;
}

boost::json::object parsed(const CVLogPackage& package) {
    const auto data = package.jsonData();
    EXPECT_TRUE(data);
    return boost::json::parse(std::string(data->begin(), data->end())).as_object();
}

CVLogPackage makePackage(std::string apiKey, std::vector<CVLogEntry> entries = {}) {
    return CVLogPackage(std::move(apiKey), "SESSION-1", kStart, std::move(entries), "iOS Core SDK", sdkVersion());
}

TEST(CVLogEventAndDomain, RawValuesAndTexts) {
    const std::vector<std::string_view> events = {
        "entered_foreground",   "entered_background",      "sdk_loaded",
        "map_instantiated",     "language_changed",        "offline_mode_changed",
        "search_performed",     "directions_requested",    "directions_rendered",
        "subscription_started", "subscription_stopped",    "livedata_enabled_for_map",
        "map_clicked",          "clustering_mode_changed", "location_sources_registered",
        "dataset_added",        "dataset_removed",         "dataset_synchronized"};
    const std::vector<std::string_view> domains = {"app_life_time",    "configuration",  "search",
                                                   "directions",       "live_data",      "map",
                                                   "location_sources", "dataset_manager"};
    for (std::int64_t raw = 0; raw < 18; ++raw) EXPECT_EQ(description(*CVLogEventFromRawValue(raw)), events[raw]);
    for (std::int64_t raw = 0; raw < 8; ++raw) EXPECT_EQ(description(*CVLogDomainFromRawValue(raw)), domains[raw]);
    for (std::int64_t raw : {-1, 18, 1000}) EXPECT_FALSE(CVLogEventFromRawValue(raw)) << raw;
    for (std::int64_t raw : {-1, 8}) EXPECT_FALSE(CVLogDomainFromRawValue(raw)) << raw;
}

TEST(CVLogPackage, DocumentKeysDatesAndEntriesInOrder) {
    CVLogEntry plain{kStart + 1s, CVLogDomain::search, "event", CVLogEvent::searchPerformed, std::nullopt};
    CVLogEntry detailed{kStart + 2500ms, CVLogDomain::map, "event", CVLogEvent::mapClicked,
                        CVLogEntry::Parameters{{"query", "café"}}};
    const auto document = parsed(makePackage("solution-key", {plain, detailed}));

    EXPECT_EQ(keysOf(document), (std::set<std::string>{"apiKey", "sessionData", "entries"}));
    EXPECT_EQ(document.at("apiKey"), "solution-key");

    const auto& session = document.at("sessionData").as_object();
    EXPECT_EQ(keysOf(session), (std::set<std::string>{"sessionId", "sessionStartDate", "deviceBrand", "deviceModel",
                                                      "deviceType", "deviceUserAgent", "deviceOS", "deviceOSVersion",
                                                      "component", "componentVersion", "hostApplicationName"}));
    for (const auto& member : session) EXPECT_TRUE(member.value().is_string()) << member.key();
    EXPECT_EQ(session.at("sessionId"), "SESSION-1");
    EXPECT_EQ(session.at("sessionStartDate"), "2024-03-05T07:08:09.123Z");
    EXPECT_EQ(session.at("deviceBrand"), "apple");
    EXPECT_EQ(session.at("deviceUserAgent"), "null");
    EXPECT_EQ(session.at("component"), "iOS Core SDK");
    EXPECT_EQ(session.at("componentVersion").as_string(), sdkVersion());
    EXPECT_EQ(session.at("hostApplicationName"), "com.ambrell.default");

    // In order; without parameters an empty object, neither null nor missing.
    EXPECT_THAT(document.at("entries"), test::JsonEq(R"([
        {"logType": "event", "name": "search_performed", "domain": "search", "date": "2024-03-05T07:08:10.123Z",
         "parameters": {}},
        {"logType": "event", "name": "map_clicked", "domain": "map", "date": "2024-03-05T07:08:11.623Z",
         "parameters": {"query": "café"}}])"));

    // The host application's identifier when the host sets one.
    CVLogSessionData::setHostApplicationIdentifier("com.example.maps");
    EXPECT_EQ(parsed(makePackage("k")).at("sessionData").at("hostApplicationName"), "com.example.maps");
    CVLogSessionData::setHostApplicationIdentifier(std::nullopt);
    EXPECT_EQ(parsed(makePackage("k")).at("sessionData").at("hostApplicationName"), "com.ambrell.default");
}

TEST(CVLogPackage, TextThatIsNotUtf8GivesNoData) {
    EXPECT_FALSE(makePackage("key\xC3").jsonData());
    CVLogEntry broken{kStart, CVLogDomain::search, "event", CVLogEvent::searchPerformed,
                      CVLogEntry::Parameters{{"query", "\xFF"}}};
    EXPECT_FALSE(makePackage("key", {broken}).jsonData());
}

TEST(CVLogPackage, FilenameIsTheEncodedKeyABarAndTheUpperCasePackageId) {
    const auto package = makePackage("solution-key");
    EXPECT_EQ(package.filename(), package.filename());
    const std::regex format("solution-key\\|[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(package.filename(), format)) << package.filename();
    EXPECT_EQ(package.filename(), "solution-key|" + package.packageId());
    EXPECT_NE(makePackage("solution-key").filename(), package.filename());

    // Keys that could leave the folder or pass for another are encoded.
    const std::pair<std::string, std::string> keys[] = {
        {"solution-key", "solution-key"},
        {"abc.def_1", "abc.def_1"},
        {"../../x", "%2E.%2F..%2Fx"},
        {"/", "%2F"},
        {"a/b", "a%2Fb"},
        {"a|b", "a%7Cb"},
        {"100%", "100%25"},
        {"..", "%2E."},
        {std::string("a\0b", 3), "a%00b"},
        {"", ""},
    };
    for (const auto& [key, expected] : keys) EXPECT_EQ(CVLogPackage::filenameKeyForApiKey(key), expected) << key;

    const std::string longKey(300, 'k');
    const auto shortened = CVLogPackage::filenameKeyForApiKey(longKey);
    EXPECT_EQ(shortened.size(), 160u);
    EXPECT_NE(shortened, CVLogPackage::filenameKeyForApiKey(longKey + "x"));

    // A file belongs to the key before its first bar.
    const std::tuple<std::string_view, std::string_view, bool> owners[] = {
        {"key|ID", "key", true},
        {"/caches/com.ambrell.sdklogs/key|ID", "key", true},
        {"a%7Cb|ID", "a|b", true},
        {"a%7Cb|ID", "a", false},
        {"other|ID", "key", false},
        {"key", "key", false},
        // A temporary file of an interrupted write belongs to no key.
        {".key|ID.tmp-1", ".key", false},
    };
    for (const auto& [file, key, owned] : owners) {
        EXPECT_EQ(CVLogPackage::isPackageFileOfApiKey(file, key), owned) << file << " of " << key;
    }
}

TEST(CVLoggingConfig, FromTheAppConfiguration) {
    EXPECT_TRUE(CVLoggingConfig(std::map<std::string, bool>{}).eventLoggingEnabled());
    EXPECT_FALSE(CVLoggingConfig(std::map<std::string, bool>{{"eventLoggingEnabled", false}}).eventLoggingEnabled());
    const std::pair<const char*, bool> json[] = {{"{}", true},
                                                 {R"({"eventLoggingEnabled":false})", false},
                                                 {R"({"eventLoggingEnabled":true})", true},
                                                 {R"({"eventLoggingEnabled":0})", false},
                                                 {R"({"eventLoggingEnabled":"no"})", true},
                                                 {R"({"eventLoggingEnabled":null})", true}};
    for (const auto& [text, enabled] : json) {
        EXPECT_EQ(CVLoggingConfig(boost::json::parse(text).as_object()).eventLoggingEnabled(), enabled) << text;
    }
}

// MARK: - Logger

class CVLoggerTest : public test::WebServiceFixture {
protected:
    CVLoggerTest() {
        CVLoggerClock::setNowForTesting([offset = offset_] { return kStart + milliseconds(offset->load()); });
        CVLogger::resetSharedForTesting();
        service_.respond(kRoute, {200, "{}", {}});
    }
    ~CVLoggerTest() override {
        CVLogger::resetSharedForTesting();
        CVLoggerClock::setNowForTesting({});
    }

    void at(milliseconds time) { offset_->store(time.count()); }
    static std::shared_ptr<CVLogger> logger() { return CVLogger::sharedInstance(); }
    static std::shared_ptr<CVLoggerActor> actor() { return logger()->loggerActor(); }
    static fs::path folder() { return actor()->logUrl(); }

    // Appends an entry tagged `tag` at the given time and waits for what it started.
    void append(milliseconds time, const std::string& tag) {
        at(time);
        run(actor()->append(CVLogEntry{CVLoggerClock::now(), CVLogDomain::search, "event", CVLogEvent::searchPerformed,
                                       CVLogEntry::Parameters{{"tag", tag}}}));
    }

    static std::vector<std::string> filesOnDisk() {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(folder())) names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static Tags tagsOf(std::string_view document) {
        Tags tags;
        const auto parsed = boost::json::parse(document);
        for (const auto& entry : parsed.at("entries").as_array()) {
            tags.emplace_back(entry.at("parameters").at("tag").as_string());
        }
        return tags;
    }

    std::vector<Tags> uploads() const {
        std::vector<Tags> result;
        for (const auto& request : service_.requestsTo(kRoute)) result.push_back(tagsOf(request.bodyText()));
        return result;
    }

    std::shared_ptr<std::atomic<std::int64_t>> offset_ = std::make_shared<std::atomic<std::int64_t>>(0);
};

TEST_F(CVLoggerTest, AnEntryMoreThanSixtySecondsAfterTheLastDispatchWritesAndUploadsOnePackage) {
    service_.respond(kRoute, {503, "", {}});
    logger()->setApiKey("solution-key");
    append(10s, "a");
    append(60s, "b");  // exactly 60 seconds is not more than 60
    EXPECT_TRUE(filesOnDisk().empty());
    EXPECT_EQ(run(actor()->latestDispatchDate()), kStart);

    append(61s, "c");
    const auto files = filesOnDisk();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(uploads(), (std::vector<Tags>{{"a", "b", "c"}}));
    EXPECT_EQ(run(actor()->latestDispatchDate()), kStart + 61s);
    EXPECT_TRUE(run(actor()->logEntries()).empty());

    // The file on disk is the document that was sent, dated by the clock.
    const auto text = platform::readTextFile(folder() / files[0]);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, service_.lastRequest(kRoute)->bodyText());
    const auto document = boost::json::parse(*text);
    EXPECT_EQ(document.at("sessionData").at("sessionStartDate"), "2024-03-05T07:08:09.123Z");
    EXPECT_EQ(document.at("sessionData").at("sessionId").as_string(), actor()->sessionId());
    EXPECT_EQ(document.at("entries").at(0).at("date"), "2024-03-05T07:08:19.123Z");
    EXPECT_EQ(document.at("entries").at(2).at("date"), "2024-03-05T07:09:10.123Z");

    // A single late entry writes nothing but still uploads what is on disk.
    append(122s, "d");
    EXPECT_EQ(filesOnDisk(), files);
    EXPECT_EQ(uploads(), (std::vector<Tags>{{"a", "b", "c"}, {"a", "b", "c"}}));
    EXPECT_EQ(run(actor()->latestDispatchDate()), kStart + 122s);
    EXPECT_EQ(run(actor()->logEntries()).size(), 1u);

    // Reachability returning uploads again.
    service_.respond(kRoute, {200, "{}", {}});
    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_TRUE(test::waitFor([] { return filesOnDisk().empty(); }));
    EXPECT_EQ(uploads(), (std::vector<Tags>{{"a", "b", "c"}, {"a", "b", "c"}, {"a", "b", "c"}}));
}

TEST_F(CVLoggerTest, TheThousandthEntryDispatchesAtOnce) {
    logger()->setApiKey("solution-key");
    Tags expected;
    for (int i = 0; i < 1000; ++i) {
        if (i == 999) {
            ASSERT_TRUE(test::waitFor([] { return run(actor()->logEntries()).size() == 999; }));
            EXPECT_TRUE(filesOnDisk().empty());
        }
        expected.push_back(std::to_string(i));
        CVLogger::event(CVLogEvent::searchPerformed, CVLogDomain::search, {{{"tag", expected.back()}}});
    }
    ASSERT_TRUE(test::waitFor([&] { return !uploads().empty(); }));
    EXPECT_EQ(uploads(), std::vector<Tags>{expected});
    EXPECT_TRUE(test::waitFor([] { return filesOnDisk().empty(); }));
}

TEST_F(CVLoggerTest, ChangingTheKeyFlushesUnderTheOldOneWithItsEarlierFilesAndAnotherKeysStay) {
    fs::create_directories(folder());
    ASSERT_FALSE(platform::writeFileAtomically(folder() / "other-key|X", std::string_view(R"({"entries":[]})")));
    ASSERT_FALSE(platform::writeFileAtomically(
        folder() / "solution-key|EARLIER",
        std::string_view(R"({"apiKey":"solution-key","entries":[{"parameters":{"tag":"old"}}]})")));
    append(1s, "a");
    append(2s, "b");
    logger()->setApiKey("solution-key");  // from none: nothing to write under
    EXPECT_EQ(filesOnDisk().size(), 2u);
    EXPECT_TRUE(service_.requests().empty());

    append(3s, "c");
    logger()->setApiKey("new");
    EXPECT_EQ(logger()->apiKey(), "new");
    auto sent = uploads();
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (std::vector<Tags>{{"a", "b", "c"}, {"old"}}));
    ASSERT_EQ(service_.requests().size(), 2u);
    for (const auto& request : service_.requests()) {
        EXPECT_EQ(boost::json::parse(request.bodyText()).at("apiKey"), "solution-key");
    }
    EXPECT_EQ(filesOnDisk(), (std::vector<std::string>{"other-key|X"}));
    EXPECT_EQ(run(actor()->logPackageFiles()), (std::vector<std::string>{"other-key|X"}));
}

TEST_F(CVLoggerTest, DisabledLoggingDropsEventsAndBrokenTextIsRepaired) {
    logger()->setConfiguration(CVLoggingConfig::noLogging());
    CVLogger::event(CVLogEvent::mapClicked, CVLogDomain::map);
    logger()->setConfiguration(CVLoggingConfig::eventLogging());
    CVLogger::event(CVLogEvent::searchPerformed, CVLogDomain::search, CVLogEntry::Parameters{{"q", "caf\xC3"}});

    ASSERT_TRUE(test::waitFor([] { return !run(actor()->logEntries()).empty(); }));
    const auto entries = run(actor()->logEntries());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, CVLogEvent::searchPerformed);
    EXPECT_EQ(entries[0].date, kStart);
    EXPECT_EQ(entries[0].parameters, (CVLogEntry::Parameters{{"q", "caf\xEF\xBF\xBD"}}));
}

TEST_F(CVLoggerTest, APackageWrittenDuringASlowUploadStaysAndNoFileGoesTwice) {
    // Answers wait until the test releases them, so an upload is under way for as long as the test needs.
    std::promise<void> release;
    service_.handle(kRoute, [held = release.get_future().share()](const auto&) {
        held.wait_for(30s);
        return test::LoopbackWebService::Response{200, "{}", {}};
    });
    logger()->setApiKey("solution-key");
    append(1s, "a1");
    append(2s, "a2");
    run(actor()->dispatch());
    const auto first = filesOnDisk();
    ASSERT_EQ(first.size(), 1u);

    logger()->uploadLog();
    ASSERT_TRUE(service_.waitForRequests(1));
    // An overlapping run finds the only file already on its way.
    run(actor()->uploadLogPackages());

    append(3s, "b1");
    append(4s, "b2");
    run(actor()->dispatch());
    ASSERT_EQ(filesOnDisk().size(), 2u);

    release.set_value();
    ASSERT_TRUE(test::waitFor([&] { return run(actor()->logPackageFiles()).size() == 1; }));
    const auto second = filesOnDisk();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_EQ(run(actor()->logPackageFiles()), second);

    run(actor()->uploadLogPackages());
    EXPECT_EQ(uploads(), (std::vector<Tags>{{"a1", "a2"}, {"b1", "b2"}}));
    EXPECT_TRUE(filesOnDisk().empty());
}

TEST_F(CVLoggerTest, HostileKeysStayInsideTheLogFolder) {
    const std::vector<std::string> keys = {"../../x", "/", "a/b"};
    // The service is down for now, so every package stays to be looked at
    // (the service matches decoded paths).
    for (const auto& key : keys) service_.respond("/" + key + "/api/logpackage", {503, "", {}});
    for (std::size_t i = 0; i < keys.size(); ++i) {
        logger()->setApiKey(keys[i]);
        append(seconds(2 * i + 1), "x");
        append(seconds(2 * i + 2), "y");
    }
    logger()->setApiKey(std::nullopt);

    // One plain file each, in the folder itself.
    const auto files = filesOnDisk();
    ASSERT_EQ(files.size(), keys.size());
    for (const auto& key : keys) {
        const auto prefix = CVLogPackage::filenameKeyForApiKey(key) + "|";
        EXPECT_EQ(std::count_if(files.begin(), files.end(), [&](const auto& f) { return f.starts_with(prefix); }), 1)
            << prefix;
    }
}

TEST_F(CVLoggerTest, AFailedWriteKeepsTheEntries) {
    service_.respond(kRoute, {503, "", {}});
    logger()->setApiKey("solution-key");
    fs::remove_all(folder());
    ASSERT_FALSE(platform::writeFileAtomically(folder(), std::string_view("not a folder")));
    append(1s, "a");
    append(2s, "b");
    run(actor()->dispatch());
    EXPECT_EQ(run(actor()->logEntries()).size(), 2u);
    EXPECT_TRUE(logs_.sink().contains("could not write a package of 2 entries"));

    fs::remove(folder());
    append(3s, "c");
    run(actor()->dispatch());
    EXPECT_TRUE(run(actor()->logEntries()).empty());
    ASSERT_EQ(filesOnDisk().size(), 1u);
    EXPECT_EQ(tagsOf(*platform::readTextFile(folder() / filesOnDisk()[0])), (Tags{"a", "b", "c"}));
}

// MARK: - Uploads

class CVLogUploaderTest : public test::WebServiceFixture {
protected:
    fs::path writePackage(const std::string& name, std::string_view body = R"({"entries":[]})") const {
        const auto path = folder_ / name;
        EXPECT_FALSE(platform::writeFileAtomically(path, body));
        return path;
    }

    // How the upload ended: "ok", "CVError" or "other". By type only: the error
    // object was made on another thread, and ThreadSanitizer cannot see the
    // exception's reference count that orders a read here before its release there.
    static std::string upload(std::vector<fs::path> files, std::string key,
                              std::shared_ptr<CVLogUploader::SentFiles> sent = nullptr) {
        try {
            run(CVLogUploader::upload(std::move(files), std::move(key), std::move(sent)));
            return "ok";
        } catch (const CVError&) {
            return "CVError";
        } catch (...) {
            return "other";
        }
    }

    const fs::path folder_ = containerRoot() / "logs";
};

// A package the service took or refused for good is gone; one it may take
// later (403, a redirect such as a captive portal's, a server error, a
// dropped connection) stays for the next run.
TEST_F(CVLogUploaderTest, DeletesWhatWasTakenOrRefusedForGoodAndKeepsTheRest) {
    struct Case {
        int status;
        bool deleted;
        std::string outcome;
    };
    const Case cases[] = {
        {200, true, "ok"},       {201, true, "ok"},       {204, true, "ok"},      {400, true, "ok"},
        {413, true, "ok"},       {422, true, "ok"},       {404, true, "CVError"}, {403, false, "CVError"},
        {500, false, "CVError"}, {503, false, "CVError"}, {302, false, "ok"},     {301, false, "ok"},
    };
    service_.respond("/portal", {200, "<html>sign in</html>", {{"Content-Type", "text/html"}}});
    for (const auto& [status, deleted, outcome] : cases) {
        const auto file = writePackage("solution-key|A");
        test::LoopbackWebService::Response answer{status, status == 204 ? "" : "{}", {}};  // 204 carries no body
        // The 302 leads on to a captive portal's page, answered 200 after the
        // redirect is followed; the 301 has nowhere to lead.
        if (status == 302) answer.headers = {{"Location", service_.url("/portal")}};
        service_.respond(kRoute, answer);
        auto sent = std::make_shared<CVLogUploader::SentFiles>();
        EXPECT_EQ(upload({file}, "solution-key", sent), outcome) << status;
        EXPECT_EQ(!fs::exists(file), deleted) << status;
        EXPECT_EQ(sent->paths().size(), deleted ? 1u : 0u) << status;
    }
    EXPECT_EQ(service_.requestsTo(kRoute).size(), std::size(cases));
    EXPECT_EQ(service_.lastRequest(kRoute)->bodyText(), R"({"entries":[]})");

    // A transport error keeps the file and fails.
    service_.dropConnection(kRoute);
    const auto file = writePackage("solution-key|A");
    auto sent = std::make_shared<CVLogUploader::SentFiles>();
    EXPECT_EQ(upload({file}, "solution-key", sent), "other");
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(sent->paths().empty());
}

// One package per answer in one run: exactly the refused-for-good and taken
// ones are gone afterwards.
TEST_F(CVLogUploaderTest, OneRunKeepsExactlyThePackagesTheServiceMayTakeLater) {
    const std::pair<std::string, int> packages[] = {
        {"solution-key|ok", 200}, {"solution-key|bad", 400}, {"solution-key|big", 413}, {"solution-key|portal", 302}};
    service_.handle(kRoute, [portal = service_.url("/portal")](const test::RecordedRequest& request) {
        const std::string body = request.bodyText();
        test::LoopbackWebService::Response answer{200, "{}", {}};
        if (body.find("bad") != std::string::npos) answer.status = 400;
        if (body.find("big") != std::string::npos) answer.status = 413;
        if (body.find("portal") != std::string::npos) {
            answer.status = 302;
            answer.headers = {{"Location", portal}};
        }
        return answer;
    });
    service_.respond("/portal", {200, "<html>sign in</html>", {{"Content-Type", "text/html"}}});
    std::vector<fs::path> files;
    for (const auto& [name, status] : packages) files.push_back(writePackage(name, R"({"tag":")" + name + R"("})"));
    auto sent = std::make_shared<CVLogUploader::SentFiles>();
    EXPECT_EQ(upload(files, "solution-key", sent), "ok");
    EXPECT_EQ(service_.requestsTo(kRoute).size(), std::size(packages));
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(fs::exists(files[i]), packages[i].second == 302) << packages[i].first;
    }
    EXPECT_EQ(sent->paths().size(), 3u);
}

TEST_F(CVLogUploaderTest, SendsEveryFileOfTheKeyLeavesTheRestAloneAndLogsTheAnswer) {
    service_.respond(kRoute, {200, "stored", {}});
    const auto first = writePackage("solution-key|A");
    const auto other = writePackage("other-key|A");
    const auto unnamed = writePackage("solution-key");
    const auto second = writePackage("solution-key|B");
    EXPECT_EQ(upload({first, other, unnamed, folder_ / "solution-key|gone", second}, "solution-key"), "ok");
    EXPECT_EQ(service_.requestsTo(kRoute).size(), 2u);
    EXPECT_FALSE(fs::exists(first) || fs::exists(second));
    EXPECT_TRUE(logs_.sink().contains("CVLogUploader starting upload of file " + first.string()));
    EXPECT_TRUE(logs_.sink().contains("CVLogUploader finished upload of " + second.string() + " with status code 200"));
    EXPECT_TRUE(logs_.sink().contains("Response body: stored"));

    const auto empty = writePackage("|A");
    EXPECT_EQ(upload({empty}, ""), "ok");
    EXPECT_EQ(service_.requests().size(), 2u);
    EXPECT_TRUE(fs::exists(other) && fs::exists(unnamed) && fs::exists(empty));
}

TEST(CVLogRemover, DeletesOnlyPlainFileNamesOfTheKey) {
    test::TempDirectory temp;
    const auto folder = temp / "logs";
    for (const auto* name : {"logs/key|A", "logs/other|B", "outside|C"}) {
        ASSERT_FALSE(platform::writeFileAtomically(temp / name, std::string_view("{}")));
    }
    CVLogRemover::remove({"key|A", "other|B", "key|missing", ""}, folder, "key");
    CVLogRemover::remove({"../outside|C"}, folder, "outside");
    EXPECT_FALSE(fs::exists(folder / "key|A"));
    EXPECT_TRUE(fs::exists(folder / "other|B"));
    EXPECT_TRUE(fs::exists(temp / "outside|C"));
}

}  // namespace
}  // namespace ambrell
