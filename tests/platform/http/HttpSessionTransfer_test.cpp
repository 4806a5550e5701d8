#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/http/HttpErrors.h"
#include "platform/http/HttpSession.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

using test::LoopbackWebService;
namespace fs = std::filesystem;

class HttpTransferTest : public ::testing::Test {
protected:
    [[nodiscard]] std::vector<fs::path> filesIn(const fs::path& folder) const {
        return {fs::directory_iterator(folder), fs::directory_iterator()};
    }

    test::TempDirectory folder;
    LoopbackWebService service;
    HttpSession session;
};

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string binaryPattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + i / 251) & 0xff);
    return data;
}

TEST_F(HttpTransferTest, DownloadWritesAReadableTemporaryFileInTheGivenFolder) {
    const std::string body = binaryPattern(300'000);
    service.serveBody("/content.bin", body, "application/octet-stream");

    const auto result = await(session.download(requestFor(service.url("/content.bin")), folder.path()));

    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(result.temporaryFile.parent_path(), folder.path());
    EXPECT_EQ(contentsOf(result.temporaryFile), body);
    struct stat status {};
    ASSERT_EQ(::stat(result.temporaryFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(HttpTransferTest, DownloadKeepsTheFileWhateverTheStatus) {
    const auto modified = std::chrono::system_clock::from_time_t(1'600'000'000);
    service.serveBody("/cached.json", R"({"a":1})", "application/json", modified);
    service.respond("/failing", {500, "server trouble", {{"Content-Type", "text/plain"}}});
    struct Case {
        std::string path;
        std::optional<std::string> ifModifiedSince;
        int status;
        std::string contents;
    };
    const std::vector<Case> cases = {
        {"/cached.json", test::httpDate(modified), 304, ""},
        {"/missing", std::nullopt, 404, "Not Found"},
        {"/failing", std::nullopt, 500, "server trouble"},
    };
    for (const auto& c : cases) {
        auto request = requestFor(service.url(c.path));
        if (c.ifModifiedSince) request.headers.add("If-Modified-Since", *c.ifModifiedSince);
        const auto result = await(session.download(request, folder.path()));
        EXPECT_EQ(result.response.statusCode, c.status) << c.path;
        EXPECT_EQ(contentsOf(result.temporaryFile), c.contents) << c.path;
    }
    EXPECT_EQ(filesIn(folder.path()).size(), cases.size());
}

TEST_F(HttpTransferTest, AFailedDownloadLeavesNoFileBehind) {
    service.dropConnection("/dropped");
    const auto error = urlErrorOf(session.download(requestFor(service.url("/dropped")), folder.path()));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorNetworkConnectionLost);
    EXPECT_TRUE(filesIn(folder.path()).empty());
}

TEST_F(HttpTransferTest, ADownloadIntoAMissingFolderFailsBeforeAnyRequest) {
    service.serveBody("/file", "x");
    const auto error = urlErrorOf(session.download(requestFor(service.url("/file")), folder / "absent"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorCannotCreateFile);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(HttpTransferTest, ASlowButSteadyDownloadOutlastsTheInactivityTimeout) {
    // 2 seconds in all, never more than a quarter second without a byte.
    std::vector<std::string> chunks;
    for (int i = 0; i < 8; ++i) chunks.push_back(std::string(1024, static_cast<char>('a' + i)));
    service.serveChunks("/slow", chunks, std::chrono::milliseconds(250));
    auto request = requestFor(service.url("/slow"));
    request.timeout = std::chrono::seconds(1);

    const auto result = await(session.download(request, folder.path()));

    EXPECT_EQ(result.response.statusCode, 200);
    std::string expected;
    for (const auto& chunk : chunks) expected += chunk;
    EXPECT_EQ(contentsOf(result.temporaryFile), expected);
}

TEST_F(HttpTransferTest, UploadStreamsTheFileAsThePostBody) {
    const std::string contents = binaryPattern(6 * 1024 * 1024 + 17);
    const auto file = folder / "log-package.json";
    std::ofstream(file, std::ios::binary) << contents;
    service.handle("/upload", [](const test::RecordedRequest& request) {
        return LoopbackWebService::Response{201, std::to_string(request.body.size()), {{"Content-Type", "text/plain"}}};
    });
    auto request = requestFor(service.url("/upload"), "POST");
    request.bodyFile = file;
    request.headers.add("Content-Type", "application/json");
    request.headers.add("Accept", "application/json");

    const auto result = await(session.upload(request));

    EXPECT_EQ(result.response.statusCode, 201);
    EXPECT_EQ(text(result.body), std::to_string(contents.size()));
    const auto received = service.lastRequest("/upload");
    ASSERT_TRUE(received);
    EXPECT_EQ(received->method, "POST");
    EXPECT_EQ(received->header("Content-Type"), "application/json");
    EXPECT_TRUE(received->bodyText() == contents);
}

TEST_F(HttpTransferTest, AnUploadWhoseFileCannotBeReadFailsBeforeAnyRequest) {
    struct Case {
        std::optional<fs::path> file;
        std::int64_t code;
    };
    const std::vector<Case> cases = {
        {folder / "absent.json", NSURLErrorFileDoesNotExist},
        {folder.path(), NSURLErrorFileIsDirectory},
        {std::nullopt, NSURLErrorFileDoesNotExist},
    };
    for (const auto& c : cases) {
        auto request = requestFor(service.url("/upload"), "POST");
        request.bodyFile = c.file;
        const auto error = urlErrorOf(session.upload(request));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code);
    }
    EXPECT_TRUE(service.requests().empty());
}

}  // namespace
}  // namespace ambrell::platform
