// What a load costs beyond its result: the solution's locations document is
// read once for all venues, and nothing on the way logs an error (a load runs
// on the pool, where no step may block its thread).

#include <gtest/gtest.h>

#include "foundation/CVAXAPI.h"
#include "foundation/CVLogger.h"
#include "tests/core/EntryTesting.h"

namespace ambrell {
namespace {

class EntryLoadCosts : public test::EntryFixture {
protected:
    EntryLoadCosts() { service_.web().serveBody(keyCheckPath(), "{}"); }

    // The loopback service has no session gateway: the session manager's
    // failed refresh is all the log may hold.
    [[nodiscard]] std::vector<std::string> errors() const {
        const auto gateway = CVAXAPI::sharedInstance()->gatewayUrl() + " ";
        std::vector<std::string> found;
        for (const auto& entry : logs_.sink().messages()) {
            const bool session = entry.message.starts_with("ERR ") || entry.message.find(gateway) != std::string::npos;
            if (entry.level == platform::LogLevel::error && !session) found.push_back(entry.message);
        }
        return found;
    }
};

TEST_F(EntryLoadCosts, EachLoadReadsTheLocationsDocumentOnceAndLogsNoError) {
    // The usage log holds another key, whose entries a load writes first.
    test::awaited(CVLogger::sharedInstance()->changeApiKey("an-earlier-key"));
    EXPECT_EQ(CVLogger::sharedInstance()->apiKey(), "an-earlier-key");

    ASSERT_EQ(loadSample(), std::nullopt);
    EXPECT_EQ(requestsTo("locations"), 1U) << "two venues, one document";
    EXPECT_EQ(CVLogger::sharedInstance()->apiKey(), id());
    ASSERT_EQ(venueSources().size(), 2U);
    for (const auto& source : venueSources()) EXPECT_FALSE(source->getLocations().empty());

    // Again with the key in place; a later load reads the document afresh.
    ASSERT_EQ(loadSample(), std::nullopt);
    EXPECT_EQ(requestsTo("locations"), 2U);
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

}  // namespace
}  // namespace ambrell
