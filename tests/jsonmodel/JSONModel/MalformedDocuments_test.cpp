#include <gtest/gtest.h>

#include <thread>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONParsing.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"

namespace ambrell::test {
namespace {

std::string nested(std::size_t depth, std::string_view open, std::string_view inner, std::string_view close) {
    std::string head, tail;
    for (std::size_t i = 0; i < depth; ++i) head += open, tail += close;
    return head + std::string(inner) + tail;
}

std::string manyKeysWithRepeat() {
    std::string text = "{";
    for (int i = 0; i < 40; ++i) text += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
    return text + "\"k17\": -17}";
}

struct Document {
    std::string name, bytes;
    // The import fails with this code (3 for text that is not JSON, 1 for JSON the model refuses).
    std::int64_t code;
};

std::vector<Document> corpus() {
    return {
        {"truncated-object", R"({"text": "a", "settings": {"k": "v")", 3},
        {"truncated-string", R"({"text": "abc)", 3},
        {"truncated-escape", R"({"text": "\u12)", 3},
        {"truncated-literal", R"({"flag": tru)", 3},
        {"truncated-key", R"({"tex)", 3},
        {"empty", "", 3},
        {"blank", " \n\t ", 3},
        {"nested-arrays-past-limit", "{\"raw\": " + nested(600, "[", "1", "]") + "}", 3},
        {"nested-objects-past-limit", nested(600, "{\"raw\": ", "1", "}"), 3},
        {"open-brackets-only", std::string(100000, '['), 3},
        {"invalid-utf8-byte", "{\"text\": \"\xff\xfe\"}", 3},
        {"overlong-utf8", "{\"text\": \"\xc0\xaf\"}", 3},
        {"utf8-surrogate", "{\"text\": \"\xed\xa0\x80\"}", 3},
        {"truncated-utf8", "{\"text\": \"\xe2\x82\"}", 3},
        {"invalid-utf8-key", "{\"te\xffxt\": \"a\"}", 3},
        {"lone-surrogate-escape", R"({"text": "\ud800"})", 3},
        {"control-character", "{\"text\": \"a\x01\"}", 3},
        {"number-past-double", R"({"precise": 1e400})", 3},
        {"negative-number-past-double", R"({"raw": [-1e999]})", 3},
        {"trailing-comma", R"({"words": ["a",]})", 3},
        {"comment", R"({"text": "a" /* note */})", 3},
        {"two-documents", R"({} {})", 3},
        {"nan-literal", R"({"precise": NaN})", 3},
        {"byte-order-mark", "\xef\xbb\xbf{}", 3},
        {"single-quotes", R"({'text': 'a'})", 3},
        {"huge-integer-for-int64", R"({"longNumber": 123456789012345678901234567890})", 1},
        {"huge-integer-for-byte", R"({"byte": 1e30})", 1},
        {"huge-number-for-float", R"({"ratio": 1.7976931348623157e308})", 1},
        {"top-level-scalar", "42", 1},
        {"top-level-array", R"([{"text": "a"}])", 1},
        {"object-for-text", R"({"text": {"a": [1, 2]}})", 1},
    };
}

TEST(MalformedDocumentTest, EveryDocumentGivesAnErrorAndNothingCrashes) {
    for (const Document& document : corpus()) {
        SCOPED_TRACE(document.name);
        const std::vector<std::uint8_t> bytes(document.bytes.begin(), document.bytes.end());
        std::optional<JSONModelError> error;
        EXPECT_FALSE(Everything::fromData(bytes, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "JSONModelErrorDomain");
        EXPECT_EQ(error->code, document.code);

        // The collection readers refuse the text that is not JSON.
        if (document.code != 3) continue;
        error.reset();
        EXPECT_FALSE(Everything::arrayOfModelsFromData(bytes, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 3);
        EXPECT_FALSE(Everything::dictionaryOfModelsFromData(bytes));
    }
}

TEST(MalformedDocumentTest, ParserSaysWhyAndAcceptsNestingWithinTheLimit) {
    std::string failure;
    EXPECT_FALSE(parseJSON("[1e400]", &failure));
    EXPECT_EQ(failure, "number out of the range of a double");
    EXPECT_FALSE(parseJSON(nested(kJSONMaxNestingDepth + 1, "[", "", "]"), &failure));
    EXPECT_FALSE(failure.empty());

    // Deep, but within the limit: GeoJSON needs far less.
    auto model = imported<Everything>("{\"raw\": " + nested(kJSONMaxNestingDepth - 1, "[", "1", "]") + "}");
    ASSERT_TRUE(model);
    EXPECT_TRUE(model->raw.is_array());
}

TEST(MalformedDocumentTest, ParseErrorsCarryTheParsersReasonAndOffset) {
    // The offset is where the parser gave up: past a number it could not
    // hold, at the start of a bad literal, at the end of a truncated text.
    struct Case {
        std::string name, text, reason;
        std::int64_t offset;
    };
    const std::vector<Case> cases = {
        {"number-past-double", R"({"precise": 1e400})", "number out of the range of a double", 17},
        {"too-deep", nested(600, "[", "1", "]"), "", 512},
        {"bad-literal", R"({"flag": tru})", "", 9},
        {"invalid-utf8", "{\"text\": \"ab\xff\"}", "", 12},
        {"extra-data", "{} x", "", 3},
        {"truncated", R"({"text": "a")", "", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto error = importFailure<Everything>(c.text);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 3);
        // The message stays the fixed sentence; the detail is beside it.
        EXPECT_EQ(error->localizedDescription(), "Malformed JSON. Check the JSONModel data input.");
        const auto reason = error->stringForKey("NSDebugDescription");
        ASSERT_TRUE(reason);
        if (c.reason.empty()) {
            EXPECT_FALSE(reason->empty());
        } else {
            EXPECT_EQ(*reason, c.reason);
        }
        EXPECT_EQ(error->integerForKey("NSJSONSerializationErrorIndex"), c.offset);
    }
    // The collection readers carry the same detail.
    const std::string truncated = R"([{"text": "a"})";
    std::optional<JSONModelError> arrayError;
    EXPECT_FALSE(
        Everything::arrayOfModelsFromData(std::vector<std::uint8_t>(truncated.begin(), truncated.end()), &arrayError));
    ASSERT_TRUE(arrayError);
    EXPECT_EQ(std::tuple(arrayError->code, arrayError->integerForKey("NSJSONSerializationErrorIndex")),
              std::tuple(3, 14));
    // Different faults give different reasons, so a caller can tell them apart.
    EXPECT_NE(importFailure<Everything>(R"({"flag": tru})")->stringForKey("NSDebugDescription"),
              importFailure<Everything>(nested(600, "[", "1", "]"))->stringForKey("NSDebugDescription"));
}

TEST(RepeatedKeyTest, TheLastValueOfARepeatedKeyWins) {
    struct Case {
        std::string name, text;
        std::string_view key;
        boost::json::value expected;
    };
    const std::vector<Case> cases = {
        {"top-level", R"({"text": "a", "text": "b"})", "text", "b"},
        {"three-times", R"({"words": ["a"], "words": ["b"], "words": ["c"]})", "words", boost::json::array{"c"}},
        {"nested", R"({"settings": {"a": {"k": 1, "k": 2}}})", "settings",
         boost::json::object{{"a", boost::json::object{{"k", 2}}}}},
        {"escaped-spelling", R"({"text": "a", "\u0074ext": "b"})", "text", "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = imported<Everything>(c.text);
        ASSERT_TRUE(model);
        EXPECT_EQ(model->toDictionary().at(c.key), c.expected);
    }
    // Past the size where an object is searched by hash, a repeat replaces
    // the first value in place and keeps every other key.
    auto many = imported<Everything>("{\"raw\": " + manyKeysWithRepeat() + "}");
    ASSERT_TRUE(many);
    const auto& raw = many->raw.as_object();
    EXPECT_EQ(std::tuple(raw.size(), raw.at("k17"), raw.at("k39")), std::tuple(40U, -17, 39));
    // Inside a key-mapped nested object, as a location's "properties".
    auto location = imported<Location>(R"({"id": "l1", "properties": {"name": "old", "name": "new"}, "id": "l2"})");
    ASSERT_TRUE(location);
    EXPECT_EQ(std::tie(location->locationId, location->name), std::tuple("l2", "new"));
    // A repeated key whose last value is of the wrong type still fails the import.
    EXPECT_EQ(importFailure<Everything>(R"({"text": "a", "text": {"x": 1}})")->code, 1);
}

TEST(DeepModelTest, ModelsNestedToTheDepthLimitImportExportAndCopy) {
    // Each level is an object in an array, to the depth limit.
    const std::string open = R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": [)";
    const std::string text = nested(254, open, open + "]", "}]") + "}";
    auto venue = imported<Venue>(text);
    ASSERT_TRUE(venue);
    ASSERT_TRUE(venue->copy());
    EXPECT_FALSE(venue->description().empty());
    // The venues take 510 levels: two more are still read (and refused as no
    // dictionary), three more are past the limit and refused by the parser.
    EXPECT_EQ(importFailure<Venue>(nested(2, "[", text, "]"))->code, 1);
    EXPECT_EQ(importFailure<Venue>(nested(3, "[", text, "]"))->code, 3);
}

TEST(ConcurrentMappingTest, ManyThreadsImportAndExportTheSameClasses) {
    // Run under ThreadSanitizer as well: the first use of a class builds its
    // table while other threads use it too.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 50; ++i) {
                const std::string id = std::to_string(t * 1000 + i);
                auto venue = Venue::fromString(R"({"id": ")" + id + R"(", "venueInfo": {"name": "n"},
                    "neighbours": [{"id": "x", "venueInfo": {"name": "m"}}]})");
                auto badge = Badge::fromString(R"({"label": ")" + id + R"("})");
                if (!venue || !badge || venue->venueId != id || !venue->copy() || !badge->toJSONString()) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace ambrell::test
