#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDirectory.h"
#include "tests/zip/ZipTestSupport.h"
#include "zip/SSZipArchive.h"

namespace ambrell {
namespace {

// Extractions share nothing but the calendar, so several may run at once.
TEST(ConcurrentExtraction, SeveralThreadsUnpackTheSameArchive) {
    test::TempDirectory temp("ambrell-zip-threads");
    const auto archive = temp / "shared.zip";
    {
        SSZipArchive zip(archive.string());
        ASSERT_TRUE(zip.open());
        for (int i = 0; i < 20; ++i) {
            const std::string text = test::noisyText(5000, static_cast<std::uint32_t>(i));
            ASSERT_TRUE(zip.writeData(std::vector<std::uint8_t>(text.begin(), text.end()),
                                      "f" + std::to_string(i) + ".txt",
                                      i % 2 ? std::optional<std::string>("pw") : std::nullopt));
        }
        ASSERT_TRUE(zip.close());
    }

    std::atomic<int> succeeded = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const auto destination = temp / ("out" + std::to_string(t));
            if (SSZipArchive::unzipFileAtPath(archive.string(), destination.string(), true, "pw", nullptr)) ++succeeded;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(succeeded, 4);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(test::readFile(temp / ("out" + std::to_string(t)) / "f19.txt"), test::noisyText(5000, 19));
    }
}

}  // namespace
}  // namespace ambrell
