// The cairo example adapter (examples/cairo-map): its camera's projection and
// what it paints, read back from the PNG it writes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <span>

#include "CairoMapAdapter.h"
#include "platform/FileSystem.h"
#include "platform/Image.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/TempDirectory.h"
#include "viewmodels/RouteViewModelProducer.h"

namespace ambrell::cairo_map {
namespace cairo_map_adapter_test {
namespace {

constexpr platform::CLLocationCoordinate2D kPictureCentre{55.6761, 12.5683};

WebMercatorCamera pictureCamera(double bearing = 0) { return WebMercatorCamera{kPictureCentre, 19, bearing, 200, 150}; }

// Premultiplied ARGB of an opaque colour.
constexpr std::uint32_t opaquePixel(std::uint32_t rgb) { return 0xFF000000U | rgb; }

TEST(CairoMapAdapter, TheCameraProjectsAroundItsCentreTurnedByItsBearing) {
    const auto north = pictureCamera();
    const auto middle = north.pointFor(kPictureCentre);
    EXPECT_DOUBLE_EQ(middle.x, 100);
    EXPECT_DOUBLE_EQ(middle.y, 75);

    struct Case {
        double bearing;
        double dx;  // where a point a little east of the centre goes
        double dy;
    };
    for (const auto& [bearing, dx, dy] : {Case{0, 1, 0}, Case{90, 0, -1}, Case{180, -1, 0}, Case{270, 0, 1}}) {
        SCOPED_TRACE(bearing);
        const auto turned = pictureCamera(bearing);
        const auto east = turned.pointFor({kPictureCentre.latitude, kPictureCentre.longitude + 0.0001});
        const double length = std::hypot(east.x - 100, east.y - 75);
        EXPECT_GT(length, 5);
        EXPECT_NEAR((east.x - 100) / length, dx, 1e-9);
        EXPECT_NEAR((east.y - 75) / length, dy, 1e-9);
        const auto back = turned.coordinateFor(east);
        EXPECT_NEAR(back.latitude, kPictureCentre.latitude, 1e-9);
        EXPECT_NEAR(back.longitude, kPictureCentre.longitude + 0.0001, 1e-9);
    }

    // A fitted box fills the room the insets leave (160 by 130), centred in
    // it; at this latitude the box is the taller for the room.
    const CVGeoBounds box({kPictureCentre.latitude - 0.001, kPictureCentre.longitude - 0.002},
                          {kPictureCentre.latitude + 0.001, kPictureCentre.longitude + 0.002});
    const auto fitted = north.fitting(box, {10, 20, 10, 20});
    const auto southWest = fitted.pointFor(box.southWest());
    const auto northEast = fitted.pointFor(box.northEast());
    EXPECT_NEAR(northEast.y, 10, 1e-6);
    EXPECT_NEAR(southWest.y, 140, 1e-6);
    EXPECT_NEAR(southWest.x + northEast.x, 200, 1e-6);
    EXPECT_GT(southWest.x, 20);
    EXPECT_TRUE(fitted.visibleBounds().containsCoordinate(box.center()));
}

TEST(CairoMapAdapter, PaintsRoomsUnderTheRouteAndAnswersTheMapControlsProjection) {
    const auto adapter = std::make_shared<CairoMapAdapter>(pictureCamera());
    const double d = 0.0001;
    ViewModel room;
    room.id = "room";
    room.polygon = CVViewModelFeature(
        "Feature", "room",
        {{CVModelPropertyKey::polygonFillcolor, std::string("#FF0000")}, {CVModelPropertyKey::polygonFillOpacity, 1.0}},
        CVViewModelFeatureGeometry(
            GeoJsonGeometryType::Polygon,
            std::vector<std::vector<CVPoint>>{{{kPictureCentre.latitude - d, kPictureCentre.longitude - d},
                                               {kPictureCentre.latitude - d, kPictureCentre.longitude + d},
                                               {kPictureCentre.latitude + d, kPictureCentre.longitude + d},
                                               {kPictureCentre.latitude + d, kPictureCentre.longitude - d}}}));
    adapter->setViewModels({room}, false);
    EXPECT_EQ(adapter->renders(), 1U);

    // A route across the room's northern edge, blue over a wider green.
    auto route = std::make_shared<RouteViewModelProducer>();
    route->polyline = {{kPictureCentre.latitude + d, kPictureCentre.longitude - 3 * d},
                       {kPictureCentre.latitude + d, kPictureCentre.longitude + 3 * d}};
    adapter->apply(route, false, 0, true, platform::Color{0, 1, 0, 1}, platform::Color{0, 0, 1, 1}, 12, 4, false);

    // What the adapter paints, read back from its PNG.
    const test::TempDirectory folder;
    const auto painted = [&] {
        EXPECT_TRUE(adapter->writePng(folder / "map.png"));
        const auto bytes = platform::readFile(folder / "map.png");
        auto picture = bytes ? platform::Image::fromPngData(std::as_bytes(std::span(*bytes))) : std::nullopt;
        return picture.value_or(*platform::Image::create(1, 1));
    };
    auto picture = painted();
    ASSERT_EQ(picture.width(), 200);
    ASSERT_EQ(picture.height(), 150);
    const auto at = [&](platform::CLLocationCoordinate2D coordinate, double dy = 0) {
        const auto point = pictureCamera().pointFor(coordinate);
        return picture.pixel(static_cast<int>(point.x), static_cast<int>(point.y + dy));
    };
    const auto background = picture.pixel(1, 1);
    const platform::CLLocationCoordinate2D besideTheRoom{kPictureCentre.latitude + d, kPictureCentre.longitude + 2 * d};
    EXPECT_EQ(at(kPictureCentre), opaquePixel(0xFF0000));
    EXPECT_EQ(at({kPictureCentre.latitude + d, kPictureCentre.longitude}), opaquePixel(0x0000FF));
    EXPECT_EQ(at(besideTheRoom, 4), opaquePixel(0x00FF00));
    EXPECT_NE(background, opaquePixel(0xFF0000));

    // Cleared, the route goes; the map control's projection is the camera's.
    adapter->clear();
    picture = painted();
    EXPECT_EQ(at(besideTheRoom), background);
    EXPECT_EQ(at(kPictureCentre), opaquePixel(0xFF0000));
    const auto projection = platform::blockingWait(platform::ThreadPool::shared().makeStrand(), adapter->projection());
    ASSERT_TRUE(projection);
    const auto region =
        platform::blockingWait(platform::ThreadPool::shared().makeStrand(), projection->visibleRegion());
    EXPECT_EQ(region.bounds, pictureCamera().visibleBounds());
    EXPECT_EQ(adapter->position().target, kPictureCentre);
}

}  // namespace
}  // namespace cairo_map_adapter_test
}  // namespace ambrell::cairo_map
