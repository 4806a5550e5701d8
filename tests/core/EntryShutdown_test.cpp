// The entry object's look-ups across the runtime's shutdown: each answers its
// host exactly once, whether its task ran, was cancelled or was refused.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/runtime/Runtime.h"
#include "tests/core/EntryTesting.h"

namespace ambrell {
namespace {

// How often each look-up answered, and whether an answer was the empty one.
struct LookUpAnswers {
    enum Kind : std::size_t { search, lookUp, venues, building, offline, kinds };
    static constexpr std::array<const char*, kinds> kNames{"locationsWithQuery", "internalLocationsLookupWithQuery",
                                                           "venuesWithCompletionHandler", "buildingWithId",
                                                           "isOfflineDataAvailable"};
    std::array<std::atomic<int>, kinds> calls{};
    std::array<std::atomic<int>, kinds> empty{};

    void note(Kind kind, bool isEmpty) {
        ++calls[kind];
        if (isEmpty) ++empty[kind];
    }
    // Each answered once (and, when asked, with nothing); the others are
    // printed for the parent's log.
    [[nodiscard]] bool eachOnce(bool allEmpty) const {
        bool all = true;
        for (std::size_t kind = 0; kind < kinds; ++kind) {
            if (calls[kind] == 1 && (!allEmpty || empty[kind] == 1)) continue;
            std::fprintf(stderr, "%s: %d answers, %d empty\n", kNames[kind], calls[kind].load(), empty[kind].load());
            all = false;
        }
        return all;
    }
};

// The runtime's shutdown ends the process's runtime for good, so the test
// runs in a child process of its own.
class EntryShutdownDeathTest : public test::EntryFixture {
protected:
    void askEverything(LookUpAnswers& answers) const {
        CVFilter everything;
        everything.ignoreActiveStatus = everything.ignoreSearchableStatus = true;
        entry_->locationsWithQuery(std::nullopt, everything,
                                   [&answers](auto found) { answers.note(LookUpAnswers::search, found.empty()); });
        entry_->internalLocationsLookupWithQuery(
            std::nullopt, everything, [&answers](auto found) { answers.note(LookUpAnswers::lookUp, found.empty()); });
        entry_->venuesWithCompletionHandler(
            [&answers](auto venues) { answers.note(LookUpAnswers::venues, venues.empty()); });
        entry_->buildingWithId("606667171a86ff30705826b3", [&answers](auto building) {
            answers.note(LookUpAnswers::building, building == nullptr);
        });
        entry_->isOfflineDataAvailable(
            std::nullopt, [&answers](bool available) { answers.note(LookUpAnswers::offline, !available); });
    }
};

TEST_F(EntryShutdownDeathTest, EachLookUpAnswersOnceAcrossTheRuntimesShutdown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Left by _Exit: the fixture's main-queue thread, which the
            // shutdown ended, is joined only by the fixture, which the child
            // never destroys; so the child removes the fixture's container
            // itself.
            const auto leave = [this](int code) {
                std::error_code ignored;
                std::filesystem::remove_all(containerRoot(), ignored);
                std::_Exit(code);
            };
            if (loadSample()) leave(2);
            // Answered before the shutdown, or cut short by it.
            LookUpAnswers during;
            askEverything(during);
            platform::Runtime::shared().shutdown();
            const bool answeredDuring = during.eachOnce(false);
            // Refused: answered at once, with nothing.
            LookUpAnswers after;
            askEverything(after);
            const bool answeredAfter = after.eachOnce(true);
            leave(answeredDuring && answeredAfter ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ambrell
