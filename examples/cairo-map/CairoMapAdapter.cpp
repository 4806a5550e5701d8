#include "CairoMapAdapter.h"

#include <cairo.h>

#include <algorithm>
#include <any>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "platform/Image.h"
#include "platform/runtime/MainQueue.h"
#include "viewmodels/RouteViewModelProducer.h"

namespace ambrell::cairo_map {
namespace cairo_map_adapter {
namespace {

using Key = CVModelPropertyKey;
using Icon = std::shared_ptr<const platform::Image>;

// A projection of the camera as it was when the map control asked.
class Projection final : public CVProjection {
public:
    explicit Projection(WebMercatorCamera camera) : camera_(camera) {}

    platform::Awaitable<CVGeoRegion> visibleRegion() override { co_return CVGeoRegion{camera_.visibleBounds()}; }
    platform::Awaitable<platform::CLLocationCoordinate2D> coordinateFor(platform::CGPoint point) override {
        co_return camera_.coordinateFor(point);
    }
    platform::Awaitable<platform::CGPoint> pointFor(platform::CLLocationCoordinate2D coordinate) override {
        co_return camera_.pointFor(coordinate);
    }

private:
    const WebMercatorCamera camera_;
};

std::optional<double> number(const CVFeatureProperties& properties, Key key) {
    const auto found = properties.find(key);
    if (found == properties.end()) return std::nullopt;
    return std::visit(
        [](const auto& value) -> std::optional<double> {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, double> || std::is_same_v<Value, std::int64_t> ||
                          std::is_same_v<Value, std::uint64_t>) {
                return static_cast<double>(value);
            } else {
                return std::nullopt;
            }
        },
        found->second);
}

std::string text(const CVFeatureProperties& properties, Key key) {
    const auto found = properties.find(key);
    const auto* value = found == properties.end() ? nullptr : std::get_if<std::string>(&found->second);
    return value ? *value : std::string();
}

bool flag(const CVFeatureProperties& properties, Key key) {
    const auto found = properties.find(key);
    const auto* value = found == properties.end() ? nullptr : std::get_if<bool>(&found->second);
    return value && *value;
}

// A "#RRGGBB" property at the opacity of another, when both say something.
std::optional<platform::Color> color(const CVFeatureProperties& properties, Key hexKey, std::optional<Key> opacityKey) {
    auto color = platform::Color::fromHex(text(properties, hexKey));
    if (color && opacityKey) color->alpha = std::clamp(number(properties, *opacityKey).value_or(1.0), 0.0, 1.0);
    return color;
}

void setSource(cairo_t* cr, const platform::Color& color) {
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
}

// The geometry as a map engine gets it: the feature's GeoJSON.
boost::json::object geometryOf(const CVViewModelFeature& feature) {
    boost::system::error_code error;
    auto json = boost::json::parse(feature.toGeoJson(), error);
    const auto* geometry = error || !json.is_object() ? nullptr : json.as_object().if_contains("geometry");
    return geometry && geometry->is_object() ? geometry->as_object() : boost::json::object();
}

std::optional<platform::CLLocationCoordinate2D> position(const boost::json::value& json) {
    const auto* pair = json.if_array();
    if (!pair || pair->size() < 2 || !(*pair)[0].is_number() || !(*pair)[1].is_number()) return std::nullopt;
    return platform::CLLocationCoordinate2D{(*pair)[1].to_number<double>(), (*pair)[0].to_number<double>()};
}

// Adds the polygon's rings to the path: the outline and its holes.
void traceRings(cairo_t* cr, const WebMercatorCamera& camera, const boost::json::value& rings) {
    if (!rings.is_array()) return;
    for (const auto& ring : rings.as_array()) {
        if (!ring.is_array()) continue;
        cairo_new_sub_path(cr);
        for (const auto& json : ring.as_array()) {
            if (const auto coordinate = position(json)) {
                const auto point = camera.pointFor(*coordinate);
                cairo_line_to(cr, point.x, point.y);
            }
        }
        cairo_close_path(cr);
    }
}

bool traceShape(cairo_t* cr, const WebMercatorCamera& camera, const boost::json::object& geometry) {
    const auto* type = geometry.if_contains("type");
    const auto* coordinates = geometry.if_contains("coordinates");
    if (!type || !coordinates || !type->is_string()) return false;
    cairo_new_path(cr);
    if (type->as_string() == "Polygon") {
        traceRings(cr, camera, *coordinates);
    } else if (type->as_string() == "MultiPolygon" && coordinates->is_array()) {
        for (const auto& polygon : coordinates->as_array()) traceRings(cr, camera, polygon);
    } else {
        return false;
    }
    return true;
}

struct ShapeKeys {
    Key fill;
    Key fillOpacity;
    Key stroke;
    Key strokeOpacity;
    Key strokeWidth;
};

constexpr ShapeKeys kFloorPlanKeys{Key::floorPlanFillColor, Key::floorPlanFillOpacity, Key::floorPlanStrokeColor,
                                   Key::floorPlanStrokeOpacity, Key::floorPlanStrokeWidth};
constexpr ShapeKeys kPolygonKeys{Key::polygonFillcolor, Key::polygonFillOpacity, Key::polygonStrokeColor,
                                 Key::polygonStrokeOpacity, Key::polygonStrokeWidth};

void paintShape(cairo_t* cr, const WebMercatorCamera& camera, const CVViewModelFeature& feature,
                const ShapeKeys& keys) {
    if (!traceShape(cr, camera, geometryOf(feature))) return;
    const auto& properties = feature.properties();
    if (const auto fill = color(properties, keys.fill, keys.fillOpacity)) {
        setSource(cr, *fill);
        cairo_fill_preserve(cr);
    }
    const auto stroke = color(properties, keys.stroke, keys.strokeOpacity);
    const double width = number(properties, keys.strokeWidth).value_or(0);
    if (stroke && width > 0) {
        setSource(cr, *stroke);
        cairo_set_line_width(cr, width);
        cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
}

void paintLine(cairo_t* cr, const WebMercatorCamera& camera, const std::vector<CLLocationCoordinate2D>& line,
               const platform::Color& color, double width) {
    cairo_new_path(cr);
    for (const auto& coordinate : line) {
        const auto point = camera.pointFor(coordinate);
        cairo_line_to(cr, point.x, point.y);
    }
    setSource(cr, color);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

struct Box {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    [[nodiscard]] bool overlaps(const Box& other) const {
        return x < other.x + other.width && other.x < x + width && y < other.y + other.height && other.y < y + height;
    }
};

// Where a box of the size goes when its `anchor` side sits on the point.
Box anchored(platform::CGPoint point, double width, double height, const std::string& anchor) {
    Box box{point.x - width / 2, point.y - height / 2, width, height};
    if (anchor == "left") box.x = point.x;
    if (anchor == "right") box.x = point.x - width;
    if (anchor == "top") box.y = point.y;
    if (anchor == "bottom") box.y = point.y - height;
    return box;
}

Icon iconOf(const ViewModel& model) {
    const auto found = model.data.find(CVModelData::icon);
    if (found == model.data.end()) return nullptr;
    if (const auto* icon = std::any_cast<Icon>(&found->second)) return *icon;
    if (const auto* image = std::any_cast<platform::Image>(&found->second)) {
        return std::make_shared<const platform::Image>(*image);
    }
    return nullptr;
}

// Icons are in points; their pixels are `scale` times as many.
std::optional<Box> paintIcon(cairo_t* cr, const platform::Image& icon, platform::CGPoint point,
                             const std::string& placement) {
    if (icon.width() <= 1 && icon.height() <= 1) return std::nullopt;  // a placeholder pixel
    const double scale = icon.scale() > 0 ? icon.scale() : 1;
    const Box box = anchored(point, icon.width() / scale, icon.height() / scale, placement);
    // cairo only reads a source surface; the image's pixels are already
    // premultiplied ARGB32 rows of cairo's own stride.
    auto* pixels = const_cast<std::uint32_t*>(icon.pixels().data());  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32, icon.width(), icon.height(), icon.width() * 4);
    cairo_save(cr);
    cairo_translate(cr, box.x, box.y);
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
    return box;
}

// The label's box, or none when it would cover one drawn before (collidable
// labels only).
std::optional<Box> paintLabel(cairo_t* cr, const CVFeatureProperties& properties, platform::CGPoint point,
                              bool collides, std::vector<Box>& taken) {
    const auto label = text(properties, Key::markerLabel);
    if (label.empty()) return std::nullopt;
    const double size = std::clamp(number(properties, Key::labelSize).value_or(12), 1.0, 200.0);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, label.c_str(), &extents);

    // The offset is in label sizes.
    const auto offset = properties.find(Key::labelOffset);
    const auto* shift = offset == properties.end() ? nullptr : std::get_if<std::vector<double>>(&offset->second);
    if (shift && shift->size() == 2) point = {point.x + (*shift)[0] * size, point.y + (*shift)[1] * size};
    const auto anchor = text(properties, Key::labelAnchor);
    const Box box = anchored(point, extents.x_advance, size, anchor.empty() ? "center" : anchor);
    if (collides && std::any_of(taken.begin(), taken.end(), [&](const Box& other) { return other.overlaps(box); })) {
        return std::nullopt;
    }

    // The baseline sits about a fifth of the size above the box's bottom.
    cairo_new_path(cr);
    cairo_move_to(cr, box.x, box.y + size * 0.8);
    cairo_text_path(cr, label.c_str());
    const auto halo = color(properties, Key::labelHaloColor, std::nullopt);
    const double haloWidth = number(properties, Key::labelHaloWidth).value_or(0);
    if (halo && haloWidth > 0) {
        setSource(cr, *halo);
        cairo_set_line_width(cr, haloWidth * 2);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke_preserve(cr);
    }
    setSource(cr, color(properties, Key::labelColor, Key::labelOpacity).value_or(platform::Color{0, 0, 0, 1}));
    cairo_fill(cr);
    return box;
}

// Icons go under every label, so that a label is never hidden by the icon
// of a neighbour.
enum class Layer { icons, labels };

// A marker's icon (or a dot when it has neither icon nor label), or its
// label, which keeps clear of the labels drawn before it when it collides.
void paintMarker(cairo_t* cr, const WebMercatorCamera& camera, const ViewModel& model, Layer layer, bool allowOverlap,
                 std::vector<Box>& labels) {
    const auto& feature = *model.marker;
    const auto geometry = geometryOf(feature);
    const auto* coordinates = geometry.if_contains("coordinates");
    const auto coordinate = coordinates ? position(*coordinates) : std::nullopt;
    if (!coordinate) return;
    const auto point = camera.pointFor(*coordinate);
    const auto& properties = feature.properties();

    if (layer == Layer::labels) {
        const bool collides = !allowOverlap && flag(properties, Key::isCollidable);
        if (const auto label = paintLabel(cr, properties, point, collides, labels)) labels.push_back(*label);
        return;
    }
    const auto icon = iconOf(model);
    const auto placement = text(properties, Key::markerIconPlacement);
    if (icon && paintIcon(cr, *icon, point, placement.empty() ? "center" : placement)) return;
    if (!text(properties, Key::markerLabel).empty()) return;
    cairo_new_path(cr);
    cairo_arc(cr, point.x, point.y, 6, 0, 2 * 3.14159265358979);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.12, 0.16, 0.22);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

}  // namespace
}  // namespace cairo_map_adapter

CairoMapAdapter::CairoMapAdapter(WebMercatorCamera camera) : camera_(camera) {}

WebMercatorCamera CairoMapAdapter::webMercatorCamera() const {
    std::lock_guard lock(mutex_);
    return camera_;
}

void CairoMapAdapter::setWebMercatorCamera(WebMercatorCamera camera) { cameraMoved(camera); }

void CairoMapAdapter::cameraMoved(WebMercatorCamera camera) {
    std::weak_ptr<CVMapProviderDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        camera_ = camera;
        delegate = delegate_;
    }
    platform::MainQueue::shared().async([delegate] {
        if (const auto listener = delegate.lock()) {
            listener->cameraWillMove();
            listener->cameraChangedPosition();
            listener->cameraIdle();
        }
    });
}

std::uint64_t CairoMapAdapter::renders() const {
    std::lock_guard lock(mutex_);
    return renders_;
}

bool CairoMapAdapter::waitUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds bound) const {
    const auto giveUp = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(mutex_);
    while (std::chrono::steady_clock::now() < giveUp) {
        const auto calm = lastRender_ + quiet;
        if (std::chrono::steady_clock::now() >= calm) return true;
        rendered_.wait_until(lock, std::min(calm, giveUp));
    }
    return false;
}

std::vector<platform::CGRect> CairoMapAdapter::paint(cairo_t* cr) const {
    std::vector<ViewModel> models;
    std::optional<Route> route;
    WebMercatorCamera camera;
    bool allowOverlap = false;
    {
        std::lock_guard lock(mutex_);
        models = models_;
        route = route_;
        camera = camera_;
        allowOverlap = collisionHandling_ == CVCollisionHandling::allowOverlap;
    }

    cairo_set_source_rgb(cr, 0.93, 0.93, 0.91);
    cairo_paint(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);

    // Bottom to top: floor plans, room outlines, the route, icons, then labels,
    // which keep clear of each other unless the solution allows overlap.
    for (const auto& model : models) {
        if (model.floorPlanExtrusion) {
            cairo_map_adapter::paintShape(cr, camera, *model.floorPlanExtrusion, cairo_map_adapter::kFloorPlanKeys);
        }
    }
    for (const auto& model : models) {
        if (model.polygon) cairo_map_adapter::paintShape(cr, camera, *model.polygon, cairo_map_adapter::kPolygonKeys);
    }
    if (route && route->model) {
        cairo_map_adapter::paintLine(cr, camera, route->model->polyline, route->under, route->underWidth);
        cairo_map_adapter::paintLine(cr, camera, route->model->polyline, route->over, route->overWidth);
    }
    // The route's own markers (its ends and stops) come after the map's.
    std::vector<const ViewModel*> markers;
    for (const auto& model : models) markers.push_back(&model);
    if (route && route->model) {
        for (const auto* end : {&route->model->start, &route->model->end}) {
            if (*end) markers.push_back(&**end);
        }
        if (route->model->stops) {
            for (const auto& stop : *route->model->stops) markers.push_back(&stop);
        }
    }
    std::vector<cairo_map_adapter::Box> labels;
    for (const auto layer : {cairo_map_adapter::Layer::icons, cairo_map_adapter::Layer::labels}) {
        for (const auto* marker : markers) {
            if (marker->marker) cairo_map_adapter::paintMarker(cr, camera, *marker, layer, allowOverlap, labels);
        }
    }

    std::vector<platform::CGRect> boxes;
    boxes.reserve(labels.size());
    for (const auto& label : labels) boxes.push_back(platform::CGRect{{label.x, label.y}, {label.width, label.height}});
    return boxes;
}

bool CairoMapAdapter::writePng(const std::filesystem::path& path) const {
    const auto camera = webMercatorCamera();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, camera.width, camera.height);
    cairo_t* cr = cairo_create(surface);
    paint(cr);
    cairo_destroy(cr);
    const bool written = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return written;
}

std::vector<platform::CGRect> CairoMapAdapter::labelBoxes() const {
    // Painted where nothing is kept: only the boxes are wanted.
    cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* cr = cairo_create(surface);
    auto boxes = paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return boxes;
}

platform::EdgeInsets CairoMapAdapter::padding() const {
    std::lock_guard lock(mutex_);
    return padding_;
}

void CairoMapAdapter::setPadding(platform::EdgeInsets padding) {
    std::lock_guard lock(mutex_);
    padding_ = padding;
}

std::shared_ptr<CVMapProviderDelegate> CairoMapAdapter::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void CairoMapAdapter::setDelegate(std::weak_ptr<CVMapProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVCustomInfoWindow> CairoMapAdapter::customInfoWindow() const {
    std::lock_guard lock(mutex_);
    return customInfoWindow_;
}

void CairoMapAdapter::setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) {
    std::lock_guard lock(mutex_);
    customInfoWindow_ = std::move(infoWindow);
}

CVCollisionHandling CairoMapAdapter::collisionHandling() const {
    std::lock_guard lock(mutex_);
    return collisionHandling_;
}

void CairoMapAdapter::setCollisionHandling(CVCollisionHandling handling) {
    std::lock_guard lock(mutex_);
    collisionHandling_ = handling;
}

std::shared_ptr<CVCameraOperator> CairoMapAdapter::cameraOperator() const {
    return std::const_pointer_cast<CairoMapAdapter>(shared_from_this());
}

std::shared_ptr<CVRouteRenderer> CairoMapAdapter::routeRenderer() const {
    return std::const_pointer_cast<CairoMapAdapter>(shared_from_this());
}

void CairoMapAdapter::setViewModels(std::vector<ViewModel> models, bool /*forceClear*/) {
    // The adapter keeps no caches of earlier models, so there is nothing to
    // clear: each render replaces the last one whole.
    {
        std::lock_guard lock(mutex_);
        models_ = std::move(models);
        ++renders_;
        lastRender_ = std::chrono::steady_clock::now();
    }
    rendered_.notify_all();
}

void CairoMapAdapter::move(platform::CLLocationCoordinate2D target, float zoom) {
    auto camera = webMercatorCamera();
    camera.center = target;
    camera.zoom = zoom;
    cameraMoved(camera);
}

void CairoMapAdapter::animate(const CVCameraPosition& position) {
    auto camera = webMercatorCamera();
    camera.center = position.target;
    camera.zoom = position.zoom;
    camera.bearing = position.bearing;
    cameraMoved(camera);
}

void CairoMapAdapter::animate(const CVGeoBounds& bounds) { animate(camera(bounds, padding())); }

void CairoMapAdapter::animate(platform::CLLocationCoordinate2D target, std::optional<float> zoom) {
    auto camera = webMercatorCamera();
    camera.center = target;
    if (zoom) camera.zoom = *zoom;
    cameraMoved(camera);
}

CVCameraPosition CairoMapAdapter::position() const {
    const auto camera = webMercatorCamera();
    return {camera.center, static_cast<float>(camera.zoom), camera.bearing, 0};
}

platform::Awaitable<std::shared_ptr<CVProjection>> CairoMapAdapter::projection() {
    co_return std::make_shared<cairo_map_adapter::Projection>(webMercatorCamera());
}

CVCameraPosition CairoMapAdapter::camera(const CVGeoBounds& bounds, const platform::EdgeInsets& insets) const {
    const auto fitted = webMercatorCamera().fitting(bounds, insets);
    return {fitted.center, static_cast<float>(fitted.zoom), fitted.bearing, 0};
}

std::shared_ptr<CVRouteMarkerDelegate> CairoMapAdapter::routeMarkerDelegate() const {
    std::lock_guard lock(mutex_);
    return routeMarkerDelegate_.lock();
}

void CairoMapAdapter::setRouteMarkerDelegate(std::weak_ptr<CVRouteMarkerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    routeMarkerDelegate_ = std::move(delegate);
}

void CairoMapAdapter::apply(std::shared_ptr<const RouteViewModelProducer> model, bool /*animate*/, double /*duration*/,
                            bool /*repeating*/, platform::Color primaryColor, platform::Color secondaryColor,
                            float primaryWidth, float secondaryWidth, bool /*pathSmoothing*/) {
    std::lock_guard lock(mutex_);
    route_ = Route{std::move(model), primaryColor, secondaryColor, primaryWidth, secondaryWidth};
}

void CairoMapAdapter::moveCamera(std::vector<CLLocationCoordinate2D> points, bool /*animate*/,
                                 std::int64_t /*durationMs*/, float /*tilt*/, CVCameraViewFitMode /*fitMode*/,
                                 UIEdgeInsets padding) {
    if (!points.empty()) animate(camera(CVGeoBounds(points), padding));
}

void CairoMapAdapter::clear() {
    std::lock_guard lock(mutex_);
    route_.reset();
}

}  // namespace ambrell::cairo_map
