// A synchronisation whose process dies mid-run: nothing half-written is left
// where a reader looks, and the next synchronisation completes the copy. The
// dying process is this test program run again as a child, selected by
// filter and told what to do through its environment.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <sys/wait.h>

#include "platform/Paths.h"
#include "tests/data/DataSetManager/DataSetFixture.h"
#include "tests/data/DataSetManager/TilePackage.h"
#include "tests/support/ChildTest.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using test::kDataSetKey;
using test::waitFor;

constexpr const char* kChildContainer = "AMBRELL_TEST_SYNC_CHILD_CONTAINER";
constexpr const char* kChildTest = "DataSetInterruptedSyncChild.RunsASynchronisationUntilKilled";

// In the child only: synchronises the full scope and waits to be killed.
TEST(DataSetInterruptedSyncChild, RunsASynchronisationUntilKilled) {
    const char* container = std::getenv(kChildContainer);
    if (!container) GTEST_SKIP() << "run by InterruptedSynchronisation as its child process";
    platform::Paths::setContainerRoot(container);
    platform::MainQueueThread mainThread;
    CVAXAPI::sharedInstance()->setSessionToken("session-token");
    const auto manager = std::make_shared<CVDataSetCacheManagerInternal>(
        CVDataSetCacheManagerInternal::Options{fs::path(container) / "datasets", nullptr, nullptr});
    const auto dataSet = manager->addDataSet(kDataSetKey, rawValue(CVDataSetCachingScope::full));
    std::atomic<bool> done{false};
    manager->synchronizeCacheItems({dataSet->cacheItem()}, [&](auto) { done = true; });
    // The parent kills the process long before this bound.
    EXPECT_FALSE(waitFor([&] { return done.load(); }, std::chrono::seconds(60)));
}

class InterruptedSynchronisation : public test::DataSetFixture {};

TEST_F(InterruptedSynchronisation, LeavesNoHalfWrittenFileAndTheNextSyncCompletesTheCopy) {
    serveSolution();
    const test::TempDirectory work;
    const auto package = test::writeTilePackage(work.path(), {"15_1_2.png", "15_1_3.png"});
    std::ifstream in(package, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(bytes.size(), 20u);
    // The first half arrives, the rest trickles far beyond the test's life.
    std::vector<std::string> chunks{bytes.substr(0, bytes.size() / 2)};
    for (int i = 0; i < 600; ++i) chunks.push_back(bytes.substr(bytes.size() / 2, 1));
    service_->serveChunks("/tiles/package.zip", chunks, std::chrono::milliseconds(100));

    const pid_t child = test::spawnThisProgramForTest(kChildTest, kChildContainer, containerRoot().string());
    ASSERT_GT(child, 0);

    const bool packageStarted =
        waitFor([&] { return !service_->requestsTo("/tiles/package.zip").empty(); }, std::chrono::seconds(60));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(packageStarted);
    EXPECT_TRUE(WIFSIGNALED(status));

    const auto folder = root() / std::string(kDataSetKey);
    const auto packageUrl = service_->url("/tiles/package.zip");
    const auto target = CVFileCache::pathForCachingItem(packageUrl, folder);
    ASSERT_TRUE(target);
    EXPECT_FALSE(fs::exists(*target)) << "a cut-off download landed where readers look";
    EXPECT_FALSE(fs::exists(folder / "tilecache-package" / "15_1_2.png"));

    // The next run, in a process that starts afresh from the folder.
    service_->serveFile("/tiles/package.zip", package);
    const auto manager = makeManager();
    const auto dataSet = manager->dataSetWithId(kDataSetKey);
    ASSERT_TRUE(dataSet);
    manager->setCachingScope(rawValue(CVDataSetCachingScope::full), dataSet->cacheItem());
    const auto synchronize = [&] {
        const auto result = synchronizeOnce(*manager, dataSet->cacheItem());
        EXPECT_FALSE(result) << result->localizedDescription();
    };
    synchronize();
    EXPECT_TRUE(fs::is_regular_file(folder / "tilecache-package" / "15_1_2.png"));
    EXPECT_TRUE(fs::is_regular_file(folder / "tilecache-package" / "15_1_3.png"));
    EXPECT_TRUE(dataSet->isCached());
    EXPECT_EQ(fs::file_size(*target), 0u) << "an unpacked package is kept as an empty marker";

    // Killed before the package's tiles took their place: the package is
    // still whole, the tiles are not all there. The server has nothing newer
    // (304), and the package is unpacked again.
    const auto requests = service_->requestsTo("/tiles/package.zip").size();
    std::ofstream(*target, std::ios::binary | std::ios::trunc) << bytes;
    fs::remove(folder / "tilecache-package" / "15_1_3.png");
    synchronize();
    EXPECT_EQ(service_->requestsTo("/tiles/package.zip").size(), requests + 1);
    EXPECT_TRUE(service_->lastRequest("/tiles/package.zip")->header("If-Modified-Since"));
    EXPECT_TRUE(fs::is_regular_file(folder / "tilecache-package" / "15_1_3.png"));
}

}  // namespace
}  // namespace ambrell
