#include "Source/AXCommon/AXLocationService.h"
#include "tests/Source/AXCommon/AXLocationFixtures.h"

#include <gtest/gtest.h>

namespace ambrell {
namespace {

using testing::pointLocation;
using testing::withProperty;
using Ids = std::vector<std::int32_t>;

AXLocationService office() {
    auto toilets = pointLocation(3, "Restrooms");
    toilets.aliases = {"wc", "toilet"};  // the model lower-cases and splits aliases on ","
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        pointLocation(1, "Staff cafe"),
        pointLocation(2, "Cafe"),
        toilets,
        withProperty(pointLocation(4, "Meeting Room 1.02"), "externalid", "MR-102"),
        withProperty(pointLocation(5, "Quiet zone"), "description", "Phone booths and sofas"),
        withProperty(pointLocation(6, "Reception"), "externalid", "cafe-desk"),
    });
    return service;
}

TEST(AXLocationServiceText, MatchesEveryQueryWordAsAPrefixOfSomeWord) {
    const auto service = office();
    const struct {
        const char* text;
        Ids expected;
    } cases[] = {
        {"", {1, 2, 3, 4, 5, 6}},
        {"   ,;  ", {1, 2, 3, 4, 5, 6}},
        {"MEET", {4}},
        {"room 1", {4}},
        {"room 2", {}},
        {"sta caf", {1}},
        {"caf sta", {1}},
        {"wc", {3}},
        {"toil", {3}},
        {"mr-102", {4}},
        {"102", {4}},
        {"booth", {5}},
        {"phone sofas", {5}},
        {"phones", {}},
        {"zone quiet", {5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(service.locationIdsForQuery({.text = c.text}, {}), c.expected);
    }
}

TEST(AXLocationServiceText, PropertyKeysRestrictTheTextsThatTakePart) {
    const auto service = office();
    const struct {
        const char* text;
        std::vector<std::string> keys;
        Ids expected;
    } cases[] = {
        {"cafe", {}, {2, 1, 6}},
        {"cafe", {"name"}, {2, 1}},
        {"cafe", {"ExternalId"}, {6}},
        {"wc", {"name"}, {}},
        {"wc", {"aliases"}, {3}},
        {"booth", {"name", "description"}, {5}},
        {"cafe", {"nosuchkey"}, {}},
        {"", {"nosuchkey"}, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.text << " in " << ::testing::PrintToString(c.keys));
        EXPECT_EQ(service.locationIdsForQuery({.text = c.text, .propertyKeys = c.keys}, {}), c.expected);
    }
}

// "caf" is a prefix of both names' "cafe" (name weight 4 x prefix 1), so the
// tie goes to store order; "cafe" matches both words whole (4 x 2 = 8) and is
// the whole name "Cafe" (+8), which puts it first.
TEST(AXLocationServiceText, PinnedRankingExamples) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "Staff cafe"), pointLocation(2, "Cafe")});
    EXPECT_EQ(service.locationIdsForQuery({.text = "caf"}, {}), (Ids{1, 2}));
    EXPECT_EQ(service.locationIdsForQuery({.text = "cafe"}, {}), (Ids{2, 1}));
    EXPECT_EQ(service.locationIdsForQuery({.text = "  CAFE! "}, {}), (Ids{2, 1}));
}

TEST(AXLocationServiceText, KeyWeightsAndWholeWordsRank) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        withProperty(pointLocation(1, "Lounge"), "floorplan", "bar"),         // other field, exact: 1 x 2
        withProperty(pointLocation(2, "Lobby"), "externalid", "bar"),         // external id, exact: 2 x 2
        [] {
            auto l = pointLocation(3, "Lift");
            l.aliases = {"barista"};                                          // alias, prefix: 3 x 1
            return l;
        }(),
        pointLocation(4, "Barn"),                                            // name, prefix: 4 x 1
        pointLocation(5, "Bar"),                                             // name, exact + whole name: 8 + 8
        pointLocation(6, "Bar and grill"),                                   // name, exact: 8
    });
    EXPECT_EQ(service.locationIdsForQuery({.text = "bar"}, {}), (Ids{5, 6, 2, 4, 3, 1}));
}

TEST(AXLocationServiceText, NearBreaksScoreTiesAndStoreOrderBreaksTheRest) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        pointLocation(1, "Printer", 55.003, 12.0),
        pointLocation(2, "Printer", 55.001, 12.0),
        pointLocation(3, "Printer room", 55.000, 12.0),
        pointLocation(4, "Printer", 55.001, 12.0),  // as near as 2, later in the store
    });
    const AXCoordinate here{55.0, 12.0};
    EXPECT_EQ(service.locationIdsForQuery({.text = "printer", .near = here}, {}), (Ids{2, 4, 1, 3}));
    EXPECT_EQ(service.locationIdsForQuery({.text = "printer"}, {}), (Ids{1, 2, 4, 3}));
    EXPECT_EQ(service.locationIdsForQuery({.text = "printer", .near = here, .ordering = AXOrdering::distance}, {}),
              (Ids{3, 2, 4, 1}));
    // Distance ordering without a point falls back to store order.
    EXPECT_EQ(service.locationIdsForQuery({.text = "printer", .ordering = AXOrdering::distance}, {}),
              (Ids{1, 2, 3, 4}));
    EXPECT_EQ(service.locationIdsForQuery({.near = here}, {}), (Ids{3, 2, 4, 1}));
}

// Stored and typed texts fold alike: case, diacritics, compatibility forms
// and "ß", precomposed or decomposed.
TEST(AXLocationServiceText, CaseAndDiacriticsFold) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        pointLocation(1, "Café"),               // precomposed é
        pointLocation(2, "Cafe\xCC\x81 Bleu"),  // e + combining acute
        pointLocation(3, "Hauptstraße 5"),
        pointLocation(4, "HAUPTSTRASSE 7"),
        pointLocation(5, "Ｌｏｂｂｙ"),           // full-width letters
        pointLocation(6, "Überseehalle"),
    });
    const struct {
        const char* text;
        Ids expected;
    } cases[] = {
        {"cafe", {1, 2}},
        {"CAFE", {1, 2}},
        {"Café", {1, 2}},
        {"cafe\xCC\x81", {1, 2}},
        {"CAFÉ BLEU", {2}},
        {"hauptstrasse", {3, 4}},
        {"Hauptstraße", {3, 4}},
        {"HAUPTSTRASSE 5", {3}},
        {"straße", {}},
        {"lobby", {5}},
        {"uberseehalle", {6}},
        {"ÜBER", {6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(service.locationIdsForQuery({.text = c.text}, {}), c.expected);
    }
}

}  // namespace
}  // namespace ambrell
