#include "data/AmbrellLegacy.h"

#include <gtest/gtest.h>

#include <any>

#include "Ambrell/CVPositionProvider.h"
#include "data/CVLanguageSupport.h"
#include "foundation/CVContentContext.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using platform::NSError;
using platform::NotificationCenter;

class CoreState : public test::ContainerFixture {
protected:
    ~CoreState() override { AmbrellLegacy::resetForTesting(); }
};

class StubPositionProvider : public CVPositionProvider {};

TEST_F(CoreState, LanguageFallsBackToEnglish) {
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "en");
    CVLanguageSupport::ax_setLanguage("sv");
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "sv");
}

TEST_F(CoreState, StartsUnboundAndNeverHasAGoogleKey) {
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), std::nullopt);
    EXPECT_EQ(AmbrellLegacy::getGoogleAPIKey(), std::nullopt);

    AmbrellLegacy::setApiKey("solution-1");
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), "solution-1");
    EXPECT_EQ(AmbrellLegacy::getGoogleAPIKey(), std::nullopt);
}

TEST_F(CoreState, FoundationReadsTheBoundKeyAndLanguage) {
    AmbrellLegacy::setApiKey("solution-2");
    CVLanguageSupport::ax_setLanguage("fi");
    EXPECT_EQ(CVContentContext::apiKey(), "solution-2");
    EXPECT_EQ(CVContentContext::language(), "fi");

    CVContentContext::resetForTesting();
    AmbrellLegacy::resetForTesting();
    EXPECT_EQ(CVContentContext::apiKey(), std::nullopt);
    EXPECT_EQ(CVContentContext::language(), "fi");
}

TEST_F(CoreState, ObserversOfAReassignmentSeeThePreviousProvider) {
    struct Seen {
        std::shared_ptr<CVPositionProvider> object;
        bool hadObject = false;
        std::shared_ptr<CVPositionProvider> stored;
    };
    std::vector<Seen> seen;
    auto token = NotificationCenter::defaultCenter().addObserver(
        CVPositionProviderReassignedNotification(), [&seen](const platform::Notification& notification) {
            Seen entry;
            entry.hadObject = notification.object.has_value();
            if (entry.hadObject) entry.object = std::any_cast<std::shared_ptr<CVPositionProvider>>(notification.object);
            entry.stored = AmbrellLegacy::positionProvider();
            seen.push_back(entry);
        });

    const auto first = std::make_shared<StubPositionProvider>();
    const auto second = std::make_shared<StubPositionProvider>();
    AmbrellLegacy::setPositionProvider(first);
    AmbrellLegacy::setPositionProvider(second);
    AmbrellLegacy::setPositionProvider(nullptr);

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].object, first);
    EXPECT_EQ(seen[0].stored, nullptr);
    EXPECT_EQ(seen[1].object, second);
    EXPECT_EQ(seen[1].stored, first);
    EXPECT_FALSE(seen[2].hadObject);
    EXPECT_EQ(seen[2].stored, second);
    EXPECT_EQ(AmbrellLegacy::positionProvider(), nullptr);
}

TEST_F(CoreState, DataLoadingErrorCarriesItsCauses) {
    const auto timeout = std::make_shared<const NSError>(NSError{"NSURLErrorDomain", -1001, {}});
    const auto missing = std::make_shared<const NSError>(NSError{"com.corvay.Ambrell", 10, {}});

    const NSError error = AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(
        AmbrellLegacy::UnderlyingErrors{timeout, missing});
    EXPECT_EQ(error.domain, "com.corvay.Ambrell");
    EXPECT_EQ(error.code, 101610);
    ASSERT_EQ(error.userInfo.size(), 1u);
    const auto& causes = std::get<AmbrellLegacy::UnderlyingErrors>(error.userInfo.at("syncContent::underlyingError"));
    ASSERT_EQ(causes.size(), 2u);
    EXPECT_EQ(causes[0], timeout);
    EXPECT_EQ(causes[1], missing);

    // Equal causes, other objects: equal errors; other causes: not.
    const auto sameTimeout = std::make_shared<const NSError>(*timeout);
    EXPECT_EQ(error, AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(
                         AmbrellLegacy::UnderlyingErrors{sameTimeout, missing}));
    EXPECT_NE(error, AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(
                         AmbrellLegacy::UnderlyingErrors{missing, timeout}));

    const NSError bare = AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(std::nullopt);
    EXPECT_EQ(bare.code, 101610);
    EXPECT_TRUE(bare.userInfo.empty());
    const NSError none = AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(AmbrellLegacy::UnderlyingErrors{});
    EXPECT_TRUE(std::get<AmbrellLegacy::UnderlyingErrors>(none.userInfo.at("syncContent::underlyingError")).empty());
}

}  // namespace
}  // namespace ambrell
