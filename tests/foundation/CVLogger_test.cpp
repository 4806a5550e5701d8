#include "foundation/CVLogger.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <algorithm>
#include <future>

#include "foundation/CVLogPackage.h"
#include "platform/FileSystem.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using Tags = std::vector<std::string>;

const system_clock::time_point kStart = sys_days{2024y / March / 5} + 7h + 8min + 9s + 123ms;
const std::string kRoute = "/solution-key/api/logpackage";

class CVLoggerTest : public test::WebServiceFixture {
protected:
    CVLoggerTest() {
        CVLoggerClock::setNowForTesting([offset = offset_] { return kStart + milliseconds(offset->load()); });
        CVLogger::resetSharedForTesting();
        service.respond(kRoute, {200, "{}", {}});
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
        run(actor()->append(CVLogEntry{CVLoggerClock::now(), CVLogDomain::search, "event",
                                       CVLogEvent::searchPerformed, CVLogEntry::Parameters{{"tag", tag}}}));
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

    std::vector<Tags> uploads(const std::string& route = kRoute) const {
        std::vector<Tags> result;
        for (const auto& request : service.requestsTo(route)) result.push_back(tagsOf(request.bodyText()));
        return result;
    }

    std::shared_ptr<std::atomic<std::int64_t>> offset_ = std::make_shared<std::atomic<std::int64_t>>(0);
};

TEST_F(CVLoggerTest, AnEntryMoreThanSixtySecondsAfterTheLastDispatchWritesAndUploadsOnePackage) {
    service.respond(kRoute, {503, "", {}});
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
    EXPECT_EQ(*text, service.lastRequest(kRoute)->bodyText());
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
    service.respond(kRoute, {200, "{}", {}});
    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_TRUE(test::waitFor([] { return filesOnDisk().empty(); }));
    EXPECT_EQ(uploads(), (std::vector<Tags>{{"a", "b", "c"}, {"a", "b", "c"}, {"a", "b", "c"}}));
}

TEST_F(CVLoggerTest, TheThousandthEntryDispatchesAtOnce) {
    logger()->setApiKey("solution-key");
    Tags expected;
    for (int i = 0; i < 999; ++i) {
        expected.push_back(std::to_string(i));
        CVLogger::event(CVLogEvent::searchPerformed, CVLogDomain::search,
                        CVLogEntry::Parameters{{"tag", expected.back()}});
    }
    ASSERT_TRUE(test::waitFor([] { return run(actor()->logEntries()).size() == 999; }));
    EXPECT_TRUE(filesOnDisk().empty());

    expected.push_back("999");
    CVLogger::event(CVLogEvent::searchPerformed, CVLogDomain::search, CVLogEntry::Parameters{{"tag", "999"}});
    ASSERT_TRUE(test::waitFor([&] { return !uploads().empty(); }));
    EXPECT_EQ(uploads(), std::vector<Tags>{expected});
    EXPECT_TRUE(test::waitFor([] { return filesOnDisk().empty(); }));
}

TEST_F(CVLoggerTest, ChangingTheKeyFlushesUnderTheOldOne) {
    service.respond("/old/api/logpackage", {200, "{}", {}});
    append(1s, "a");
    append(2s, "b");
    logger()->setApiKey("old");  // from none: nothing to write under
    EXPECT_TRUE(filesOnDisk().empty());
    EXPECT_TRUE(service.requests().empty());

    append(3s, "c");
    logger()->setApiKey("new");
    EXPECT_EQ(uploads("/old/api/logpackage"), (std::vector<Tags>{{"a", "b", "c"}}));
    EXPECT_EQ(boost::json::parse(service.requests()[0].bodyText()).at("apiKey"), "old");
    EXPECT_EQ(logger()->apiKey(), "new");
    EXPECT_TRUE(filesOnDisk().empty());
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

TEST_F(CVLoggerTest, EarlierFilesOfTheKeyGoUpAndAnotherKeysStay) {
    fs::create_directories(folder());
    ASSERT_FALSE(platform::writeFileAtomically(folder() / "other-key|X", std::string_view(R"({"entries":[]})")));
    ASSERT_FALSE(platform::writeFileAtomically(folder() / "solution-key|EARLIER",
                                               std::string_view(R"({"entries":[{"parameters":{"tag":"old"}}]})")));
    logger()->setApiKey("solution-key");
    append(1s, "a");
    append(61s, "b");

    auto sent = uploads();
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (std::vector<Tags>{{"a", "b"}, {"old"}}));
    EXPECT_EQ(service.requests().size(), 2u);
    EXPECT_EQ(filesOnDisk(), (std::vector<std::string>{"other-key|X"}));
    EXPECT_EQ(run(actor()->logPackageFiles()), (std::vector<std::string>{"other-key|X"}));
}

TEST_F(CVLoggerTest, APackageWrittenDuringASlowUploadStaysAndNoFileGoesTwice) {
    // Answers wait until the test releases them, so an upload is under way for as long as the test needs.
    std::promise<void> release;
    service.handle(kRoute, [held = release.get_future().share()](const auto&) {
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
    ASSERT_TRUE(service.waitForRequests(1));
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
    for (std::size_t i = 0; i < keys.size(); ++i) {
        logger()->setApiKey(keys[i]);
        append(seconds(2 * i + 1), "x");
        append(seconds(2 * i + 2), "y");
    }
    logger()->setApiKey(std::nullopt);

    const auto files = filesOnDisk();
    ASSERT_EQ(files.size(), keys.size());
    for (const auto& key : keys) {
        const auto prefix = CVLogPackage::filenameKeyForApiKey(key) + "|";
        EXPECT_EQ(std::count_if(files.begin(), files.end(), [&](const auto& f) { return f.starts_with(prefix); }), 1)
            << prefix;
    }
    for (const auto& item : fs::recursive_directory_iterator(containerRoot())) {
        if (item.is_regular_file() && item.path().filename().string().find('|') != std::string::npos) {
            EXPECT_EQ(item.path().parent_path(), folder()) << item.path();
        }
    }
}

TEST_F(CVLoggerTest, AFailedWriteKeepsTheEntries) {
    service.respond(kRoute, {503, "", {}});
    logger()->setApiKey("solution-key");
    fs::remove_all(folder());
    ASSERT_FALSE(platform::writeFileAtomically(folder(), std::string_view("not a folder")));
    append(1s, "a");
    append(2s, "b");
    run(actor()->dispatch());
    EXPECT_EQ(run(actor()->logEntries()).size(), 2u);
    EXPECT_TRUE(logs.sink().contains("could not write a package of 2 entries"));

    fs::remove(folder());
    append(3s, "c");
    run(actor()->dispatch());
    EXPECT_TRUE(run(actor()->logEntries()).empty());
    ASSERT_EQ(filesOnDisk().size(), 1u);
    EXPECT_EQ(tagsOf(*platform::readTextFile(folder() / filesOnDisk()[0])), (Tags{"a", "b", "c"}));
}

}  // namespace
}  // namespace ambrell
