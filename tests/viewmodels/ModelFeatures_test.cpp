#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include <boost/json/parse.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVDataSetSeams.h"
#include "data/CVLocationInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/FileSystem.h"
#include "platform/Screen.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"
#include "viewmodels/CVModelFileCache.h"
#include "viewmodels/ClusterEngine.h"
#include "viewmodels/ModelFeatures.h"

namespace ambrell::model_features_test {
namespace {

std::shared_ptr<CVLocationInternal> locationAt(double latitude, double longitude) {
    auto location = CVLocationInternal::fromDictionary(boost::json::parse(
        R"({"id": "lounge-1", "geometry": {"type": "Point", "coordinates": [)" + std::to_string(longitude) + ", " +
        std::to_string(latitude) + R"(]}, "properties": {"name": "Lounge", "type": "Lounge", "floor": 0}})"));
    EXPECT_NE(location, nullptr);
    return location;
}

std::shared_ptr<const platform::Image> imageOfPoints(int width, int height, double scale = 1) {
    return std::make_shared<const platform::Image>(
        platform::Image::create(static_cast<int>(width * scale), static_cast<int>(height * scale), scale).value());
}

CVDisplayRule model2DRule() {
    CVDisplayRuleData data;
    data.model2DVisible = true;
    data.model2DZoomFrom = 15;
    data.model2DZoomTo = 22;
    data.model2DModel = "https://media.example.com/images/lounge.png";
    data.model2DWidthMeters = 8;
    data.model2DHeightMeters = 10;
    data.model2DBearing = 30;
    return CVDisplayRule(data);
}

TEST(ModelFeatures, ThePixelBudgetFollowsTheZoom) {
    struct Case {
        std::int64_t limit;
        double zoom;
        std::int64_t budget;
    };
    const Case cases[] = {
        {512, 22, 512},
        {512, 21, 512},
        {512, 20, 256},
        {512, 19, 256},
        {512, 18, 128},
        {512, 17, 128},
        {512, 16.9, 64},
        {512, 17.5, 512},
        {512, 19.3, 512},
        {512, 25, 512},
        {5, 15, 1},
        {0, 22, 1},
        {512, std::numeric_limits<double>::quiet_NaN(), 64},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(model2DPixelBudget(testCase.limit, testCase.zoom), testCase.budget)
            << testCase.limit << " at " << testCase.zoom;
    }
}

TEST(ModelFeatures, TheImageIsFittedIntoTheBudget) {
    struct Case {
        const char* name;
        int width;
        int height;
        double zoom;
        double expectedWidth;
        double expectedHeight;
    };
    // n = 400: a quarter at zoom 18 is 100.
    const Case cases[] = {
        {"larger, wide", 300, 150, 18, 100, 50},
        {"larger, tall", 150, 300, 18, 50, 100},
        {"smaller", 80, 60, 18, 80, 60},
        {"at the budget", 100, 100, 18, 100, 100},
    };
    for (const auto& testCase : cases) {
        const auto location = locationAt(55.0, 12.0);
        ViewModel model;
        model.id = "lounge-1";
        const auto image = imageOfPoints(testCase.width, testCase.height);
        buildModel2D(*location, model2DRule(), image, 400, testCase.zoom, model);
        const auto* stored = viewModelImage(model, CVModelData::model2D);
        ASSERT_NE(stored, nullptr) << testCase.name;
        EXPECT_EQ(stored->width() / stored->scale(), testCase.expectedWidth) << testCase.name;
        EXPECT_EQ(stored->height() / stored->scale(), testCase.expectedHeight) << testCase.name;
        if (testCase.expectedWidth == testCase.width) {
            EXPECT_EQ(stored, image.get()) << testCase.name;
        }
        EXPECT_TRUE(model.model2D.has_value()) << testCase.name;
    }
}

TEST(ModelFeatures, ASideTruncatedToNothingLeavesNoImageAndNoScale) {
    const auto location = locationAt(55.0, 12.0);
    ViewModel model;
    model.id = "lounge-1";
    model.data[CVModelData::model2D] = imageOfPoints(5, 5);
    // 1,000 x 1 into 100 pixels: the height becomes 0.1, truncated to 0.
    buildModel2D(*location, model2DRule(), imageOfPoints(1000, 1), 400, 18, model);
    EXPECT_FALSE(model.data.contains(CVModelData::model2D));
    ASSERT_TRUE(model.model2D.has_value());
    EXPECT_FALSE(model.model2D->properties().contains(CVModelPropertyKey::model2DScale));
}

TEST(ModelFeatures, TheFeatureCarriesTheModelsSizeInMetresAndItsScale) {
    const auto location = locationAt(60.0, 10.0);
    ViewModel model;
    model.id = "lounge-1";
    buildModel2D(*location, model2DRule(), imageOfPoints(100, 100, 2), 512, 22, model);
    ASSERT_TRUE(model.model2D.has_value());
    const auto& feature = *model.model2D;
    EXPECT_EQ(feature.id(), "lounge-1/2D");
    EXPECT_EQ(feature.type(), "Feature");
    const auto& properties = feature.properties();
    EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::model2dId)), "lounge-1/2D");
    EXPECT_EQ(std::get<double>(properties.at(CVModelPropertyKey::model2dBearing)), 30);
    EXPECT_EQ(std::get<double>(properties.at(CVModelPropertyKey::model2DWidth)), 8);
    EXPECT_EQ(std::get<double>(properties.at(CVModelPropertyKey::model2DHeight)), 10);
    EXPECT_EQ(std::get<CVRenderedFeatureType>(properties.at(CVModelPropertyKey::type)), CVRenderedFeatureType::model2d);
    EXPECT_TRUE(std::get<bool>(properties.at(CVModelPropertyKey::clickable)));
    // 10 / (cos 60 x 100 points x 0.019): the image's scale does not enter.
    EXPECT_NEAR(std::get<double>(properties.at(CVModelPropertyKey::model2DScale)), 10.526315789, 1e-6);
    EXPECT_EQ(std::get<CVPoint>(feature.geometry().coordinates()), CVPoint(60.0, 10.0));
}

TEST(ModelFeatures, AMissingImageIsLoggedAndChangesNothing) {
    test::ScopedLogCapture logs;
    const auto location = locationAt(55.0, 12.0);
    ViewModel model;
    model.id = "lounge-1";
    model.data[CVModelData::model2D] = imageOfPoints(5, 5);
    buildModel2D(*location, model2DRule(), nullptr, 512, 22, model);
    EXPECT_TRUE(model.data.contains(CVModelData::model2D));
    EXPECT_FALSE(model.model2D.has_value());
    const auto messages = logs.sink().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, platform::LogLevel::error);
    EXPECT_EQ(messages[0].message, "Unable to read 2D model image for locationId: lounge-1");
}

TEST(ModelFeatures, ModelUrlsHaveTheirSpacesEscaped) {
    EXPECT_EQ(model3DUrl("https://media.example.com/models/my chair.glb"),
              "https://media.example.com/models/my%20chair.glb");
    EXPECT_EQ(model3DUrl("https://media.example.com/a b c.glb"), "https://media.example.com/a%20b%20c.glb");
    EXPECT_EQ(model3DUrl(""), std::nullopt);
    EXPECT_EQ(model3DUrl("https://media.example.com/<chair>.glb"), std::nullopt);
    EXPECT_EQ(model3DUrl("http://[::1/chair.glb"), std::nullopt);
}

// A data set in a folder of its own, one file per URL named by its last path
// segment, as the real one keeps a readable name.
class FolderDataSet final : public CVDataSetCachedFiles {
public:
    FolderDataSet(std::filesystem::path folder, std::optional<std::string> current)
        : folder_(std::move(folder)), current_(std::move(current)) {}
    [[nodiscard]] std::optional<std::filesystem::path> pathForCachingUrl(std::string_view url,
                                                                         std::string_view dataSetId) const override {
        return folder_ / dataSetId / std::string(url.substr(url.rfind('/') + 1));
    }
    [[nodiscard]] std::optional<std::filesystem::path> pathForCachedUrl(std::string_view url,
                                                                        std::string_view dataSetId) const override {
        auto path = pathForCachingUrl(url, dataSetId);
        if (!path || !std::filesystem::exists(*path)) return std::nullopt;
        return path;
    }
    [[nodiscard]] std::optional<std::string> currentDataSetId() const override { return current_; }

private:
    std::filesystem::path folder_;
    std::optional<std::string> current_;
};

class Model3DTest : public ::testing::Test {
protected:
    Model3DTest() {
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusReachableViaWiFi);
        CVDataSetSeams::setCachedFiles(std::make_shared<FolderDataSet>(folder_.path(), "solution-1"));
    }
    ~Model3DTest() override {
        CVDataSetSeams::resetForTesting();
        CVNetworkReachabilityManager::resetSharedManagerForTesting();
        CVAXAPI::resetSharedForTesting();
    }

    [[nodiscard]] CVDisplayRule ruleFor(const std::string& model) const {
        CVDisplayRuleData data;
        data.model3DVisible = true;
        data.model3DZoomFrom = 18;
        data.model3DZoomTo = 22;
        data.model3DModel = model;
        data.model3DScale = 1.5;
        data.model3DRotationX = 90;
        data.model3DRotationY = 0;
        data.model3DRotationZ = 45;
        return CVDisplayRule(data);
    }
    [[nodiscard]] std::filesystem::path cached(const std::string& name) const {
        return folder_.path() / "solution-1" / name;
    }

    test::TempDirectory folder_;
    test::LoopbackWebService web_;
};

TEST_F(Model3DTest, TheFeatureNamesTheLocalCopyAndTheFileIsFetched) {
    web_.serveBody("/models/my chair.glb", "glTF model", "model/gltf-binary");
    const auto location = locationAt(55.0, 12.0);
    ViewModel model;
    model.id = "lounge-1";
    buildModel3D(*location, ruleFor(web_.url("/models/my chair.glb")), model, 20);

    ASSERT_TRUE(model.model3D.has_value());
    const auto path = cached("my%20chair.glb");
    const auto& properties = model.model3D->properties();
    EXPECT_EQ(model.model3D->id(), "lounge-1");
    EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::model3dId)), "lounge-1");
    // An absolute path gives "file://" and the path without its leading slash.
    EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::model3dUri)), "file:/" + path.string());
    EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::model3dUri)).rfind("file://", 0), 0u);
    EXPECT_EQ(std::get<std::vector<double>>(properties.at(CVModelPropertyKey::model3DScale)),
              (std::vector<double>{1.5, 1.5, 1.5}));
    EXPECT_EQ(std::get<std::vector<double>>(properties.at(CVModelPropertyKey::model3DRotation)),
              (std::vector<double>{90, 0, 45}));
    EXPECT_EQ(std::get<CVRenderedFeatureType>(properties.at(CVModelPropertyKey::type)), CVRenderedFeatureType::model3d);
    EXPECT_TRUE(std::get<bool>(properties.at(CVModelPropertyKey::clickable)));

    ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(path) && !CVModelFileCache::isDownloading(path); }));
    EXPECT_EQ(platform::readTextFile(path), "glTF model");
    ASSERT_EQ(web_.requestsTo("/models/my chair.glb").size(), 1u);
    EXPECT_EQ(web_.requestsTo("/models/my chair.glb")[0].target, "/models/my%20chair.glb");
}

TEST_F(Model3DTest, AFileThereAlreadyIsNotFetchedAgain) {
    web_.serveBody("/models/desk.glb", "new model", "model/gltf-binary");
    std::filesystem::create_directories(cached("").parent_path());
    std::ofstream(cached("desk.glb")) << "old model";
    const auto location = locationAt(55.0, 12.0);
    ViewModel model;
    buildModel3D(*location, ruleFor(web_.url("/models/desk.glb")), model, 20);
    EXPECT_TRUE(model.model3D.has_value());
    EXPECT_FALSE(CVModelFileCache::isDownloading(cached("desk.glb")));
    EXPECT_TRUE(web_.requests().empty());
    EXPECT_EQ(platform::readTextFile(cached("desk.glb")), "old model");
}

TEST_F(Model3DTest, TwoRendersAtOnceFetchTheFileOnce) {
    web_.serveBody("/models/sofa.glb", "sofa", "model/gltf-binary");
    web_.delay("/models/sofa.glb", std::chrono::milliseconds(300));
    const auto location = locationAt(55.0, 12.0);
    ViewModel first;
    ViewModel second;
    buildModel3D(*location, ruleFor(web_.url("/models/sofa.glb")), first, 20);
    buildModel3D(*location, ruleFor(web_.url("/models/sofa.glb")), second, 21);
    EXPECT_EQ(first.model3D, second.model3D);
    const auto path = cached("sofa.glb");
    ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(path) && !CVModelFileCache::isDownloading(path); }));
    EXPECT_EQ(web_.requestsTo("/models/sofa.glb").size(), 1u);
}

TEST_F(Model3DTest, AFailedFetchLeavesNoFileAndReportsNothing) {
    test::ScopedLogCapture logs;
    web_.respond("/models/broken.glb", {500, "partial", {}});
    const auto location = locationAt(55.0, 12.0);
    ViewModel model;
    buildModel3D(*location, ruleFor(web_.url("/models/broken.glb")), model, 20);
    EXPECT_TRUE(model.model3D.has_value());
    const auto path = cached("broken.glb");
    ASSERT_TRUE(web_.waitForRequests(1));
    ASSERT_TRUE(test::waitFor([&] { return !CVModelFileCache::isDownloading(path); }));
    EXPECT_FALSE(std::filesystem::exists(path));
    for (const auto& entry : logs.sink().messages()) EXPECT_NE(entry.level, platform::LogLevel::error) << entry.message;
    // A later render tries again.
    web_.serveBody("/models/broken.glb", "mended", "model/gltf-binary");
    buildModel3D(*location, ruleFor(web_.url("/models/broken.glb")), model, 20);
    ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(path) && !CVModelFileCache::isDownloading(path); }));
    EXPECT_EQ(platform::readTextFile(path), "mended");
}

TEST_F(Model3DTest, NothingWithoutAModelAUrlADataSetOrTheZoom) {
    const auto location = locationAt(55.0, 12.0);
    struct Case {
        const char* name;
        std::optional<std::string> model;
        double zoom;
    };
    const Case cases[] = {
        {"no model", std::nullopt, 20},
        {"empty model", "", 20},
        {"not a URL", "http://[::1/chair.glb", 20},
        {"zoom below", web_.url("/models/chair.glb"), 17.9},
        {"zoom above", web_.url("/models/chair.glb"), 22.1},
    };
    for (const auto& testCase : cases) {
        auto data = ruleFor("").data();
        data.model3DModel = testCase.model;
        ViewModel model;
        buildModel3D(*location, CVDisplayRule(data), model, testCase.zoom);
        EXPECT_FALSE(model.model3D.has_value()) << testCase.name;
    }
    // No current data set: skipped, even though the rule shows the model.
    CVDataSetSeams::setCachedFiles(std::make_shared<FolderDataSet>(folder_.path(), std::nullopt));
    ViewModel model;
    buildModel3D(*location, ruleFor(web_.url("/models/chair.glb")), model, 20);
    EXPECT_FALSE(model.model3D.has_value());
    CVDataSetSeams::setCachedFiles(nullptr);
    buildModel3D(*location, ruleFor(web_.url("/models/chair.glb")), model, 20);
    EXPECT_FALSE(model.model3D.has_value());
    EXPECT_TRUE(web_.requests().empty());
}

TEST_F(Model3DTest, TheSampleReceptionsModelIsFetchedFromTheMediaHost) {
    const test::SampleSolutionService service;
    const auto solution = boost::json::parse(service.syncDocument("solutions", "en"));
    std::shared_ptr<CVDisplayRule> rule;
    for (const auto& type : solution.at("types").as_array()) {
        if (type.at("name") == "Reception") rule = CVDisplayRule::initWithDictionary(type.at("displayRule"));
    }
    ASSERT_NE(rule, nullptr);
    ASSERT_TRUE(rule->model3DModel().has_value());
    EXPECT_NE(rule->model3DModel()->find("reception desk.glb"), std::string::npos);

    const auto location = locationAt(51.4779, 0.0);
    ViewModel model;
    buildModel3D(*location, *rule, model, 21);
    ASSERT_TRUE(model.model3D.has_value());
    const auto path = cached("reception%20desk.glb");
    ASSERT_TRUE(test::waitFor([&] { return std::filesystem::exists(path) && !CVModelFileCache::isDownloading(path); }));
    EXPECT_EQ(platform::readFile(path),
              platform::readFile(service.sample() / "service" / "models" / "reception desk.glb"));
    // Below the rule's zoom the model is not shown.
    ViewModel far;
    buildModel3D(*location, *rule, far, 19);
    EXPECT_FALSE(far.model3D.has_value());
}

}  // namespace
}  // namespace ambrell::model_features_test
