// The refresh of a stored copy against the web service on loopback, with the
// copy a real file in a container of its own.

#include "foundation/StoredCopyRefresh.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "tests/foundation/WebServiceFixture.h"

namespace ambrell::stored_copy_refresh_test {
namespace {

namespace fs = std::filesystem;
using Outcome = StoredCopyRefresh::Outcome;

constexpr const char* kStoredDate = "Sun, 06 Nov 1994 08:49:37 GMT";

class StoredCopyRefreshTest : public test::WebServiceFixture {
protected:
    StoredCopyRefreshTest() { settings()->setSessionToken("session-1"); }

    [[nodiscard]] fs::path stored() const { return containerRoot() / "datasets" / "key" / "venues.json"; }
    [[nodiscard]] std::set<std::string> namesInFolder() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(stored().parent_path())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

// Whatever way a reader refuses a download, in either form of the refresh,
// the copy, its date and its folder stay as they were.
TEST_F(StoredCopyRefreshTest, AReaderThatRefusesOrThrowsAnythingLeavesOnlyTheCopy) {
    struct NotAStandardException {};
    const std::vector<std::pair<std::string, IncomingReader>> refusals = {
        {"answers no", [](const fs::path&) { return false; }},
        {"throws a standard exception", [](const fs::path&) -> bool { throw std::runtime_error("no document"); }},
        {"throws something else", [](const fs::path&) -> bool { throw NotAStandardException{}; }},
    };
    fs::create_directories(stored().parent_path());
    ASSERT_FALSE(platform::writeFileAtomically(stored(), R"(["stored"])"));
    xattr_setLastModified(stored(), std::string(kStoredDate));
    service_.serveBody("/venues", "<html><body>Sign in</body></html>", "text/html");

    for (const auto& [name, read] : refusals) {
        SCOPED_TRACE(name);
        StoredCopyRefresh awaited;
        EXPECT_NO_THROW(awaited = run(refreshStoredCopy(service_.url("/venues"), stored(), read)));
        std::promise<StoredCopyRefresh> completed;
        refreshStoredCopy(service_.url("/venues"), stored(), read,
                          [&completed](StoredCopyRefresh refresh) { completed.set_value(std::move(refresh)); });
        auto answer = completed.get_future();
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        for (const auto& refresh : {awaited, answer.get()}) {
            EXPECT_EQ(refresh.outcome, Outcome::unreadable);
            EXPECT_EQ(refresh.status, 200);
        }
        EXPECT_EQ(platform::readTextFile(stored()), R"(["stored"])");
        EXPECT_EQ(xattr_lastModified(stored()), kStoredDate);
        EXPECT_EQ(namesInFolder(), std::set<std::string>{"venues.json"});
    }
}

}  // namespace
}  // namespace ambrell::stored_copy_refresh_test
