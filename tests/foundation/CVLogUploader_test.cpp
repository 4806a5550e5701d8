#include "foundation/CVLogUploader.h"

#include <gtest/gtest.h>

#include "Ambrell/CVError.h"
#include "platform/FileSystem.h"
#include "tests/foundation/WebServiceFixture.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;

class CVLogUploaderTest : public test::WebServiceFixture {
protected:
    fs::path writePackage(const std::string& name, std::string_view body = R"({"entries":[]})") const {
        const auto path = folder / name;
        EXPECT_FALSE(platform::writeFileAtomically(path, body));
        return path;
    }

    // How the upload ended: "ok", "CVError" or "other". By type only: the error
    // object was made on another thread, and ThreadSanitizer cannot see the
    // exception's reference count that orders a read here before its release there.
    static std::string upload(std::vector<fs::path> files, std::string key,
                              std::shared_ptr<CVLogUploader::SentFiles> sent = nullptr) {
        try {
            run(CVLogUploader::upload(std::move(files), std::move(key), std::move(sent)));
            return "ok";
        } catch (const CVError&) {
            return "CVError";
        } catch (...) {
            return "other";
        }
    }

    const fs::path folder = containerRoot() / "logs";
    const std::string route = "/solution-key/api/logpackage";
};

TEST_F(CVLogUploaderTest, OnlyA2xxAnswerDeletesTheFile) {
    const std::tuple<int, bool, std::string> cases[] = {
        {200, true, "ok"}, {201, true, "ok"}, {204, true, "ok"}, {400, false, "ok"},
        {403, false, "CVError"}, {404, false, "CVError"}, {500, false, "CVError"}, {503, false, "CVError"}};
    for (const auto& [status, deleted, outcome] : cases) {
        const auto file = writePackage("solution-key|A");
        service.respond(route, {status, status == 204 ? "" : "{}", {}});  // 204 carries no body
        auto sent = std::make_shared<CVLogUploader::SentFiles>();
        EXPECT_EQ(upload({file}, "solution-key", sent), outcome) << status;
        EXPECT_EQ(!fs::exists(file), deleted) << status;
        EXPECT_EQ(sent->paths().size(), deleted ? 1u : 0u) << status;
    }
    EXPECT_EQ(service.requestsTo(route).size(), std::size(cases));
    EXPECT_EQ(service.lastRequest(route)->bodyText(), R"({"entries":[]})");

    // A transport error keeps the file and fails.
    service.dropConnection(route);
    const auto file = writePackage("solution-key|A");
    EXPECT_EQ(upload({file}, "solution-key"), "other");
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(CVLogUploaderTest, SendsEveryFileOfTheKeyAndLogsTheAnswer) {
    service.respond(route, {200, "stored", {}});
    const auto first = writePackage("solution-key|A");
    const auto second = writePackage("solution-key|B");
    EXPECT_EQ(upload({first, second}, "solution-key"), "ok");
    EXPECT_EQ(service.requestsTo(route).size(), 2u);
    EXPECT_FALSE(fs::exists(first) || fs::exists(second));
    EXPECT_TRUE(logs.sink().contains("CVLogUploader starting upload of file " + first.string()));
    EXPECT_TRUE(logs.sink().contains("CVLogUploader finished upload of " + second.string() + " with status code 200"));
    EXPECT_TRUE(logs.sink().contains("Response body: stored"));
}

TEST_F(CVLogUploaderTest, OtherKeysMissingFilesAndAnEmptyKeyAreLeftAlone) {
    service.respond(route, {200, "", {}});
    const auto other = writePackage("other-key|A");
    const auto unnamed = writePackage("solution-key");
    EXPECT_EQ(upload({other, unnamed, folder / "solution-key|gone"}, "solution-key"), "ok");

    const auto empty = writePackage("|A");
    EXPECT_EQ(upload({empty}, ""), "ok");

    EXPECT_TRUE(service.requests().empty());
    EXPECT_TRUE(fs::exists(other) && fs::exists(unnamed) && fs::exists(empty));
}

TEST(CVLogRemover, DeletesOnlyPlainFileNamesOfTheKey) {
    test::TempDirectory temp;
    const auto folder = temp / "logs";
    for (const auto* name : {"logs/key|A", "logs/other|B", "outside|C"}) {
        ASSERT_FALSE(platform::writeFileAtomically(temp / name, std::string_view("{}")));
    }
    CVLogRemover::remove({"key|A", "other|B", "key|missing", ""}, folder, "key");
    CVLogRemover::remove({"../outside|C"}, folder, "outside");
    EXPECT_FALSE(fs::exists(folder / "key|A"));
    EXPECT_TRUE(fs::exists(folder / "other|B"));
    EXPECT_TRUE(fs::exists(temp / "outside|C"));
}

}  // namespace
}  // namespace ambrell
