#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVEntrySeams.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/GoldenImage.h"
#include "viewmodels/CVCluster.h"
#include "viewmodels/CVClusterIconGenerator.h"
#include "viewmodels/ClusterEngine.h"

namespace ambrell::cv_cluster_test {
namespace {

class FixedClusterIcons final : public CVCustomClusterIcon {
public:
    explicit FixedClusterIcons(std::shared_ptr<const platform::Image> image) : image_(std::move(image)) {}
    std::shared_ptr<const platform::Image> clusterIconForType(const std::string& type, int size) override {
        asked.emplace_back(type, size);
        return image_;
    }
    std::vector<std::pair<std::string, int>> asked;

private:
    std::shared_ptr<const platform::Image> image_;
};

std::shared_ptr<const ViewModel> member(const std::string& id, double latitude, double longitude) {
    auto model = std::make_shared<ViewModel>();
    model->id = id;
    model->marker = CVViewModelFeature(
        "Feature", id, {}, CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, CVPoint(latitude, longitude)));
    return model;
}

std::shared_ptr<const ViewModel> withoutMarker(const std::string& id) {
    auto model = std::make_shared<ViewModel>();
    model->id = id;
    return model;
}

std::shared_ptr<const platform::Image> picture() {
    return std::make_shared<const platform::Image>(platform::Image::create(30, 30).value());
}

std::optional<ViewModel> viewModelOf(const CVCluster& cluster) {
    return platform::blockingWait(
        platform::ThreadPool::shared().makeStrand(),
        [&]() -> platform::Awaitable<std::optional<ViewModel>> { co_return co_await cluster.viewModel(); });
}

TEST(CVCluster, IdListsTheMemberIdsSortedBytewise) {
    CVCluster cluster({member("z1", 1, 1), member("b2", 1, 1), member("a3", 1, 1)}, "Cafe", nullptr);
    EXPECT_EQ(cluster.id(), "CVCluster+a3+b2+z1");
    EXPECT_EQ(cluster.childIds(), (std::vector<std::string>{"z1", "b2", "a3"}));
    // Bytewise: capitals before lower case, "a12" before "b07", "10" before "9".
    CVCluster mixed(
        {member("b07", 1, 1), member("a12", 1, 1), member("B", 1, 1), member("9", 1, 1), member("10", 1, 1)}, "Cafe",
        nullptr);
    EXPECT_EQ(mixed.id(), "CVCluster+10+9+B+a12+b07");
}

TEST(CVCluster, KeepsOneChildPerId) {
    CVCluster cluster({}, "Cafe", nullptr);
    EXPECT_TRUE(cluster.appendChild(member("a", 1, 1)));
    EXPECT_FALSE(cluster.appendChild(member("a", 5, 5)));
    EXPECT_FALSE(cluster.appendChild(nullptr));
    EXPECT_TRUE(cluster.containsChild("a"));
    EXPECT_EQ(cluster.children().size(), 1u);
    EXPECT_EQ(cluster.coordinate(), (CLLocationCoordinate2D{1, 1}));
}

TEST(CVCluster, TheMarkerSitsAtTheMeanOfTheMembers) {
    const auto image = picture();
    auto icons = std::make_shared<FixedClusterIcons>(image);
    CVCluster cluster({member("a", 55.0, 12.0), member("b", 56.0, 13.0)}, "Cafe", icons);
    EXPECT_EQ(cluster.coordinate(), (CLLocationCoordinate2D{55.5, 12.5}));

    const auto model = viewModelOf(cluster);
    ASSERT_TRUE(model.has_value());
    EXPECT_EQ(model->id, "CVCluster+a+b");
    EXPECT_TRUE(model->isClickable);
    EXPECT_FALSE(model->showInfoWindow);
    for (const auto* slot : {&model->polygon, &model->polyline, &model->model2D, &model->model3D, &model->wallExtrusion,
                             &model->floorPlanExtrusion, &model->featureExtrusion}) {
        EXPECT_FALSE(slot->has_value());
    }
    ASSERT_TRUE(model->marker.has_value());
    // Only these four: no type, clusterable, label or collision keys.
    EXPECT_EQ(model->marker->toGeoJson(),
              R"({"id":"CVCluster+a+b","type":"Feature","geometry":{"type":"Point","coordinates":[12.5,55.5]},)"
              R"("properties":{"markerId":"CVCluster+a+b","markerGeometryArea":43,"hasImage":true,"type":"marker"}})");
    EXPECT_EQ(std::get<double>(model->marker->properties().at(CVModelPropertyKey::markerGeometryArea)), 43.0);
    EXPECT_EQ(viewModelImage(*model, CVModelData::icon), image.get());
    EXPECT_EQ(icons->asked, (std::vector<std::pair<std::string, int>>{{"Cafe", 2}}));
}

TEST(CVCluster, AMemberWithoutAPointMarkerCountsAsTheOrigin) {
    CVCluster cluster({member("a", 60.0, 30.0), withoutMarker("b")}, "Cafe", nullptr);
    EXPECT_EQ(cluster.coordinate(), (CLLocationCoordinate2D{30.0, 15.0}));
    CVCluster empty({}, "Cafe", nullptr);
    EXPECT_EQ(empty.coordinate(), (CLLocationCoordinate2D{0, 0}));
}

TEST(CVCluster, AHostSourceWithoutAnImageHidesTheClusterWithoutFallingBack) {
    auto icons = std::make_shared<FixedClusterIcons>(nullptr);
    CVCluster cluster({member("a", 1, 1), member("b", 2, 2), member("c", 3, 3)}, "Cafe", icons);
    EXPECT_FALSE(viewModelOf(cluster).has_value());
    EXPECT_EQ(icons->asked, (std::vector<std::pair<std::string, int>>{{"Cafe", 3}}));
}

// The entry object's type rules, as the drawn cluster image asks for them.
class TypeRules final : public CVEntryObjectSeam {
public:
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const override {
        return nullptr;
    }
    std::shared_ptr<CVDisplayRule> displayRuleForType(const std::string& typeName) const override {
        asked.push_back(typeName);
        return typeName == "Cafe" ? rule : nullptr;
    }
    std::shared_ptr<CVDisplayRule> rule;
    mutable std::vector<std::string> asked;
};

class DrawnClusterImage : public ::testing::Test {
protected:
    DrawnClusterImage() {
        auto icon = platform::Image::create(20, 20).value();
        for (auto& pixel : icon.pixels()) pixel = 0xFF2060C0;
        CVDisplayRuleData data;
        data.icon = std::make_shared<const platform::Image>(std::move(icon));
        data.iconSize = CGSize{20, 20};
        // Not the cluster's colours.
        data.polygonFillColor = platform::Color::fromRGBA(0, 1, 0);
        rules_->rule = std::make_shared<CVDisplayRule>(data);
        CVEntryObjectSeam::install(rules_);
    }
    ~DrawnClusterImage() override { CVEntryObjectSeam::install(nullptr); }

    static CVCluster clusterOf(std::size_t count, const std::string& type) {
        CVCluster cluster({}, type, nullptr);
        for (std::size_t i = 0; i < count; ++i) cluster.appendChild(member("m" + std::to_string(i), 55, 12));
        return cluster;
    }

    std::shared_ptr<TypeRules> rules_ = std::make_shared<TypeRules>();
};

TEST_F(DrawnClusterImage, TheCountDiscIsDrawnOverTheTypeRulesIcon) {
    const auto cluster = clusterOf(12, "Cafe");
    const auto model = viewModelOf(cluster);
    ASSERT_TRUE(model.has_value());
    const auto* image = viewModelImage(*model, CVModelData::icon);
    ASSERT_NE(image, nullptr);
    // 1.56 times the rule's 20 points: 31.2, a whole pixel more at scale 1.
    EXPECT_EQ(image->width(), 32);
    EXPECT_EQ(image->height(), 32);
    test::expectMatchesGolden(*image, "tests/viewmodels/golden/cluster-icon-12@1x.png");
    EXPECT_EQ(rules_->asked, std::vector<std::string>{"Cafe"});
}

TEST_F(DrawnClusterImage, NoTypeRuleOrNoIconMeansNoCluster) {
    EXPECT_FALSE(viewModelOf(clusterOf(3, "Toilet")).has_value());
    auto data = rules_->rule->data();
    data.icon.reset();
    data.iconUrl.reset();
    rules_->rule = std::make_shared<CVDisplayRule>(data);
    EXPECT_FALSE(viewModelOf(clusterOf(3, "Cafe")).has_value());
    CVEntryObjectSeam::install(nullptr);
    EXPECT_FALSE(viewModelOf(clusterOf(3, "Cafe")).has_value());
}

}  // namespace
}  // namespace ambrell::cv_cluster_test
