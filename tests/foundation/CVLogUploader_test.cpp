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

    // The error the upload ended with, or none.
    static std::exception_ptr upload(std::vector<fs::path> files, std::string key,
                                     std::shared_ptr<CVLogUploader::SentFiles> sent = nullptr) {
        try {
            run(CVLogUploader::upload(std::move(files), std::move(key), std::move(sent)));
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }

    // By type only: the error object was made on another thread, and
    // ThreadSanitizer cannot see the exception's reference count that orders
    // a read here before its release there.
    static bool isCVError(const std::exception_ptr& error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const CVError&) {
            return true;
        } catch (...) {
        }
        return false;
    }

    const fs::path folder = containerRoot() / "logs";
    const std::string route = "/solution-key/api/logpackage";
};

TEST_F(CVLogUploaderTest, OnlyA2xxAnswerDeletesTheFile) {
    struct Case {
        int status;
        bool deleted;
        bool fails;
    };
    const Case cases[] = {{200, true, false},  {201, true, false},  {204, true, false}, {400, false, false},
                          {403, false, true},  {404, false, true},  {500, false, true}, {503, false, true}};
    for (const auto& c : cases) {
        const auto file = writePackage("solution-key|A");
        service.respond(route, {c.status, c.status == 204 ? "" : "{}", {}});  // 204 carries no body
        auto sent = std::make_shared<CVLogUploader::SentFiles>();
        const auto error = upload({file}, "solution-key", sent);

        EXPECT_EQ(!fs::exists(file), c.deleted) << c.status;
        EXPECT_EQ(sent->paths().size(), c.deleted ? 1u : 0u) << c.status;
        EXPECT_EQ(isCVError(error), c.fails) << c.status;
        EXPECT_EQ(!error, !c.fails) << c.status;
    }
    EXPECT_EQ(service.requestsTo(route).size(), std::size(cases));
    EXPECT_EQ(service.lastRequest(route)->bodyText(), R"({"entries":[]})");
}

TEST_F(CVLogUploaderTest, SendsEveryFileOfTheKeyAndLogsTheAnswer) {
    service.respond(route, {200, "stored", {}});
    const auto first = writePackage("solution-key|A");
    const auto second = writePackage("solution-key|B");
    EXPECT_FALSE(upload({first, second}, "solution-key"));
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
    EXPECT_FALSE(upload({other, unnamed, folder / "solution-key|gone"}, "solution-key"));

    const auto empty = writePackage("|A");
    EXPECT_FALSE(upload({empty}, ""));

    EXPECT_TRUE(service.requests().empty());
    EXPECT_TRUE(fs::exists(other) && fs::exists(unnamed) && fs::exists(empty));
}

TEST_F(CVLogUploaderTest, ATransportErrorKeepsTheFileAndFails) {
    service.dropConnection(route);
    const auto file = writePackage("solution-key|A");
    EXPECT_TRUE(upload({file}, "solution-key"));
    EXPECT_TRUE(fs::exists(file));
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
