#include "viewmodels/CVViewModelFeature.h"

#include <cmath>
#include <utility>

#include "Ambrell/CVLog.h"
#include "viewmodels/GeoJsonTextWriter.h"

namespace ambrell {

namespace view_model_feature {
namespace {

struct PropertyValueWriter {
    GeoJsonTextWriter& writer;

    bool operator()(const std::string& text) const {
        writer.string(text);
        return true;
    }
    bool operator()(bool value) const {
        writer.boolean(value);
        return true;
    }
    bool operator()(std::int64_t value) const {
        writer.integer(value);
        return true;
    }
    bool operator()(std::uint64_t value) const {
        writer.unsignedInteger(value);
        return true;
    }
    bool operator()(double value) const {
        if (!std::isfinite(value)) return false;
        writer.number(value);
        return true;
    }
    bool operator()(const std::vector<double>& values) const {
        writer.beginArray();
        for (const double value : values) {
            if (!(*this)(value)) return false;
        }
        writer.endArray();
        return true;
    }
    bool operator()(CVRenderedFeatureType kind) const {
        writer.string(rawValue(kind));
        return true;
    }
};

std::string failureText(const std::string& id, std::string_view key) {
    return "Unable to write the feature \"" + id + "\" as GeoJSON: the value of \"" + std::string(key) +
           "\" is not a finite number.";
}

}  // namespace
}  // namespace view_model_feature

CVViewModelFeature::CVViewModelFeature(std::string type, std::string id, CVFeatureProperties properties,
                                       CVViewModelFeatureGeometry geometry)
    : type_(std::move(type)), id_(std::move(id)), properties_(std::move(properties)), geometry_(std::move(geometry)) {}

std::string CVViewModelFeature::toGeoJson(bool pretty) const { return geoJsonText(pretty, true); }

std::string CVViewModelFeature::geoJsonText(bool pretty, bool logFailure) const {
    const auto fail = [&](std::string_view key) {
        auto text = view_model_feature::failureText(id_, key);
        if (logFailure) CVLog::core().error(text);
        return text;
    };

    GeoJsonTextWriter writer(pretty);
    writer.beginObject();
    writer.name("id");
    writer.string(id_);
    writer.name("type");
    writer.string(type_);
    writer.name("geometry");
    if (!geometry_.encode(writer)) return fail("coordinates");
    // An empty dictionary is left out altogether: adapters tell "no
    // properties" by the member's absence.
    if (!properties_.empty()) {
        writer.name("properties");
        writer.beginObject();
        for (const auto& [key, value] : properties_) {
            writer.name(rawValue(key));
            if (!std::visit(view_model_feature::PropertyValueWriter{writer}, value)) return fail(rawValue(key));
        }
        writer.endObject();
    }
    writer.endObject();
    return writer.take();
}

bool operator==(const CVViewModelFeature& lhs, const CVViewModelFeature& rhs) {
    return lhs.geoJsonText(false, false) == rhs.geoJsonText(false, false);
}

}  // namespace ambrell
