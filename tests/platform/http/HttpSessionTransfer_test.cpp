#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/http/HttpErrors.h"
#include "platform/http/HttpSession.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

using test::LoopbackWebService;
namespace fs = std::filesystem;

class HttpTransferTest : public LoopbackSessionTest {
protected:
    [[nodiscard]] std::size_t filesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()));
    }

    test::TempDirectory folder_;
};

std::string binaryPattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + i / 251) & 0xff);
    return data;
}

TEST_F(HttpTransferTest, DownloadKeepsAReadableFileInTheGivenFolderWhateverTheStatus) {
    const std::string body = binaryPattern(300'000);
    service_.serveBody("/content.bin", body, "application/octet-stream");
    const auto modified = std::chrono::system_clock::from_time_t(1'600'000'000);
    service_.serveBody("/cached.json", R"({"a":1})", "application/json", modified);
    service_.respond("/failing", {500, "server trouble", {{"Content-Type", "text/plain"}}});
    struct Case {
        std::string path;
        HttpHeaders headers;
        int status;
        std::string contents;
    };
    const Case cases[] = {
        {"/content.bin", {}, 200, body},
        {"/cached.json", {{"If-Modified-Since", test::httpDate(modified)}}, 304, ""},
        {"/missing", {}, 404, "Not Found"},
        {"/failing", {}, 500, "server trouble"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto result =
            await(session_.download(requestFor(service_.url(c.path), "GET", c.headers), folder_.path()));
        EXPECT_EQ(result.response.statusCode, c.status);
        EXPECT_EQ(result.temporaryFile.parent_path(), folder_.path());
        EXPECT_TRUE(readTextFile(result.temporaryFile) == c.contents);
        EXPECT_EQ(permissions(result.temporaryFile), 0644u);
    }
    EXPECT_EQ(filesInFolder(), std::size(cases));
}

TEST_F(HttpTransferTest, AFailedDownloadLeavesNoFileAndAMissingFolderSendsNoRequest) {
    service_.dropConnection("/dropped");
    service_.serveBody("/file", "x");
    const auto dropped = urlErrorOf(session_.download(requestFor(service_.url("/dropped")), folder_.path()));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->code, NSURLErrorNetworkConnectionLost);
    const auto noFolder = urlErrorOf(session_.download(requestFor(service_.url("/file")), folder_ / "absent"));
    ASSERT_TRUE(noFolder);
    EXPECT_EQ(noFolder->code, NSURLErrorCannotCreateFile);
    EXPECT_EQ(filesInFolder(), 0u);
    EXPECT_TRUE(service_.requestsTo("/file").empty());
}

TEST_F(HttpTransferTest, ASlowButSteadyDownloadOutlastsTheInactivityTimeout) {
    // 3 seconds in all, never more than a quarter second without a byte: the
    // wide margin keeps a loaded machine from turning a gap into a timeout.
    std::vector<std::string> chunks;
    std::string expected;
    for (int i = 0; i < 12; ++i) expected += chunks.emplace_back(1024, static_cast<char>('a' + i));
    service_.serveChunks("/slow", chunks, std::chrono::milliseconds(250));
    auto request = requestFor(service_.url("/slow"));
    request.timeout = std::chrono::seconds(2);
    const auto result = await(session_.download(request, folder_.path()));
    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_TRUE(readTextFile(result.temporaryFile) == expected);
}

TEST_F(HttpTransferTest, UploadStreamsTheFileAsThePostBody) {
    const std::string contents = binaryPattern(6 * 1024 * 1024 + 17);
    const auto file = folder_ / "log-package.json";
    ASSERT_FALSE(writeFileAtomically(file, contents));
    service_.handle("/upload", [](const test::RecordedRequest& request) {
        return LoopbackWebService::Response{201, std::to_string(request.body.size()), {{"Content-Type", "text/plain"}}};
    });
    auto request = requestFor(service_.url("/upload"), "POST",
                              {{"Content-Type", "application/json"}, {"Accept", "application/json"}});
    request.bodyFile = file;
    const auto result = await(session_.upload(request));
    EXPECT_EQ(result.response.statusCode, 201);
    EXPECT_EQ(text(result.body), std::to_string(contents.size()));
    const auto received = lastRequest("/upload");
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(received.header("Content-Type"), "application/json");
    EXPECT_TRUE(received.bodyText() == contents);
}

TEST_F(HttpTransferTest, AnUploadWhoseFileCannotBeReadFailsBeforeAnyRequest) {
    const std::pair<std::optional<fs::path>, std::int64_t> cases[] = {
        {folder_ / "absent.json", NSURLErrorFileDoesNotExist},
        {folder_.path(), NSURLErrorFileIsDirectory},
        {std::nullopt, NSURLErrorFileDoesNotExist},
    };
    for (const auto& [file, code] : cases) {
        auto request = requestFor(service_.url("/upload"), "POST");
        request.bodyFile = file;
        const auto error = urlErrorOf(session_.upload(request));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, code);
    }
    EXPECT_TRUE(service_.requests().empty());
}

}  // namespace
}  // namespace ambrell::platform
