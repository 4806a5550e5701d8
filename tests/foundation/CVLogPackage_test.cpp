#include "foundation/CVLogPackage.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <regex>
#include <set>

#include "foundation/CVLogger.h"
#include "foundation/SdkVersion.h"

namespace ambrell {
namespace {

using namespace std::chrono;

const system_clock::time_point kStart = sys_days{2024y / March / 5} + 7h + 8min + 9s + 123ms;

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
    const std::vector<std::string_view> domains = {"app_life_time", "configuration", "search",
                                                   "directions",    "live_data",     "map",
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

    const auto& entries = document.at("entries").as_array();
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
        EXPECT_EQ(keysOf(entry.as_object()),
                  (std::set<std::string>{"logType", "name", "domain", "date", "parameters"}));
        EXPECT_EQ(entry.at("logType"), "event");
    }
    EXPECT_EQ(entries[0].at("name"), "search_performed");
    EXPECT_EQ(entries[0].at("domain"), "search");
    EXPECT_EQ(entries[0].at("date"), "2024-03-05T07:08:10.123Z");
    // No parameters: an empty object, neither null nor missing.
    EXPECT_EQ(entries[0].at("parameters"), boost::json::object());
    EXPECT_EQ(entries[1].at("date"), "2024-03-05T07:08:11.623Z");
    EXPECT_EQ(entries[1].at("parameters"), (boost::json::object{{"query", "café"}}));

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

TEST(CVLogPackage, FilenameIsTheKeyABarAndTheUpperCasePackageId) {
    const auto package = makePackage("solution-key");
    EXPECT_EQ(package.filename(), package.filename());
    const std::regex format("solution-key\\|[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(package.filename(), format)) << package.filename();
    EXPECT_EQ(package.filename(), "solution-key|" + package.packageId());
    EXPECT_NE(makePackage("solution-key").filename(), package.filename());
}

TEST(CVLogPackage, KeysThatCouldLeaveTheFolderOrPassForAnotherAreEncoded) {
    const std::pair<std::string, std::string> cases[] = {
        {"solution-key", "solution-key"}, {"abc.def_1", "abc.def_1"}, {"../../x", "%2E.%2F..%2Fx"},
        {"/", "%2F"},                     {"a/b", "a%2Fb"},           {"a|b", "a%7Cb"},
        {"100%", "100%25"},               {"..", "%2E."},             {std::string("a\0b", 3), "a%00b"},
        {"", ""},
    };
    for (const auto& [key, expected] : cases) EXPECT_EQ(CVLogPackage::filenameKeyForApiKey(key), expected) << key;

    const std::string longKey(300, 'k');
    const auto shortened = CVLogPackage::filenameKeyForApiKey(longKey);
    EXPECT_EQ(shortened.size(), 160u);
    EXPECT_NE(shortened, CVLogPackage::filenameKeyForApiKey(longKey + "x"));
}

TEST(CVLogPackage, OwnershipIsTheTextBeforeTheFirstBar) {
    const std::tuple<std::string_view, std::string_view, bool> cases[] = {
        {"key|ID", "key", true}, {"/caches/com.ambrell.sdklogs/key|ID", "key", true}, {"a%7Cb|ID", "a|b", true},
        {"a%7Cb|ID", "a", false}, {"other|ID", "key", false}, {"key", "key", false},
        // A temporary file of an interrupted write belongs to no key.
        {".key|ID.tmp-1", ".key", false},
    };
    for (const auto& [file, key, owned] : cases) {
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
    EXPECT_TRUE(CVLoggingConfig::eventLogging()->eventLoggingEnabled());
    EXPECT_FALSE(CVLoggingConfig::noLogging()->eventLoggingEnabled());
    EXPECT_EQ(CVLoggingConfig::eventLogging(), CVLoggingConfig::eventLogging());
}

}  // namespace
}  // namespace ambrell
