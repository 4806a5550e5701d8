#include "viewmodels/ModelFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <vector>

#include <boost/url/parse.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLog.h"
#include "data/CVDataSetSeams.h"
#include "platform/Screen.h"
#include "routemodel/FitSizeToMaxDimension.h"
#include "viewmodels/CVLocationSelectability.h"
#include "viewmodels/CVModelFileCache.h"
#include "viewmodels/ClusterEngine.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell {

namespace model_features {
namespace {

void setOrRemove(CVFeatureProperties& properties, CVModelPropertyKey key, std::optional<double> value) {
    if (value) {
        properties[key] = *value;
    } else {
        properties.erase(key);
    }
}

// The 2D models drawn at their render's size, kept so that a location's
// model is not redrawn on every render. An entry holds its source image, so
// a source that is dropped and another made at its address never matches it.
class ResizedModelImages {
public:
    std::shared_ptr<const platform::Image> resizedImage(const std::shared_ptr<const platform::Image>& source,
                                                        CGSize size) {
        const double scale = platform::Screen::scale();
        {
            std::lock_guard lock(mutex_);
            const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
                return entry.source == source && entry.size == size && entry.scale == scale;
            });
            if (found != entries_.end()) return found->image;
        }
        auto image = resized(source, size);
        std::lock_guard lock(mutex_);
        // Few models are shown at once: a full list starts over rather than
        // keeping images of sources no render asks for any more.
        const std::size_t bytes = image ? static_cast<std::size_t>(image->width()) * image->height() * 4 : 0;
        if (entries_.size() >= kEntries || bytes_ + bytes > kBytes) {
            entries_.clear();
            bytes_ = 0;
        }
        entries_.push_back(Entry{source, size, scale, image});
        bytes_ += bytes;
        return image;
    }

private:
    struct Entry {
        std::shared_ptr<const platform::Image> source;
        CGSize size;
        double scale = 0;
        std::shared_ptr<const platform::Image> image;
    };
    static constexpr std::size_t kEntries = 32;
    static constexpr std::size_t kBytes = 50'000'000;

    std::mutex mutex_;
    std::vector<Entry> entries_;
    std::size_t bytes_ = 0;
};

ResizedModelImages& resizedModelImages() {
    static ResizedModelImages images;
    return images;
}

}  // namespace
}  // namespace model_features

std::int64_t model2DPixelBudget(std::int64_t resolutionLimit, double zoom) {
    std::int64_t budget = resolutionLimit;
    if (zoom == 22 || zoom == 21) {
        budget = resolutionLimit;
    } else if (zoom == 20 || zoom == 19) {
        budget = resolutionLimit / 2;
    } else if (zoom == 18 || zoom == 17) {
        budget = resolutionLimit / 4;
    } else if (zoom >= 17) {
        budget = resolutionLimit;
    } else {
        // NaN lands here too: the smallest images are the safe guess.
        budget = resolutionLimit / 8;
    }
    return budget < 1 ? 1 : budget;
}

void buildModel2D(const CVLocation& location, const CVDisplayRule& rule,
                  const std::shared_ptr<const platform::Image>& realizedImage, std::int64_t resolutionLimit,
                  double zoom, ViewModel& viewModel) {
    const std::string& locationId = location.getLocationId();
    if (!realizedImage || realizedImage->scale() <= 0) {
        CVLog::core().error("Unable to read 2D model image for locationId: " + locationId);
        return;
    }

    const auto budget = static_cast<double>(model2DPixelBudget(resolutionLimit, zoom));
    const double scale = realizedImage->scale();
    const CVSize target =
        fitSizeToMaxDimension(budget, realizedImage->width() / scale, realizedImage->height() / scale);
    // A side truncated to nothing leaves no image to show.
    std::shared_ptr<const platform::Image> image;
    if (target.width >= 1 && target.height >= 1) {
        image = model_features::resizedModelImages().resizedImage(realizedImage, CGSize{target.width, target.height});
    }
    if (image) {
        viewModel.data[CVModelData::model2D] = image;
    } else {
        viewModel.data.erase(CVModelData::model2D);
    }

    CVFeatureProperties properties;
    properties[CVModelPropertyKey::model2dId] = locationId + "/2D";
    model_features::setOrRemove(properties, CVModelPropertyKey::model2dBearing, rule.model2DBearing());
    model_features::setOrRemove(properties, CVModelPropertyKey::model2DHeight, rule.model2DHeightMeters());
    model_features::setOrRemove(properties, CVModelPropertyKey::model2DWidth, rule.model2DWidthMeters());
    properties[CVModelPropertyKey::type] = CVRenderedFeatureType::model2d;
    properties[CVModelPropertyKey::clickable] = resolvedSelectable(location);

    const CVPoint position = location.getPosition();
    if (const auto* stored = viewModelImage(viewModel, CVModelData::model2D)) {
        const double heightInPoints = stored->height() / stored->scale();
        // The metres the image's points stand for at this latitude. The
        // screen's scale enters above and below the line alike and cancels.
        if (const auto heightMeters = rule.model2DHeightMeters()) {
            properties[CVModelPropertyKey::model2DScale] =
                *heightMeters / (std::cos(position.latitude() * 0.017453292519943295) * heightInPoints * 0.019);
        }
    }

    try {
        CVViewModelFeatureGeometry geometry(GeoJsonGeometryType::Point, position);
        viewModel.model2D =
            CVViewModelFeature("Feature", locationId + "/2D", std::move(properties), std::move(geometry));
    } catch (const std::exception&) {
        CVLog::core().debug("Unable to parse 2D model geometry!");
    }
}

std::optional<std::string> model3DUrl(const std::string& model) {
    std::string escaped;
    escaped.reserve(model.size());
    for (const char character : model) {
        if (character == ' ') {
            escaped += "%20";
        } else {
            escaped += character;
        }
    }
    if (escaped.empty() || !boost::urls::parse_uri_reference(escaped)) return std::nullopt;
    return escaped;
}

void buildModel3D(const CVLocation& location, const CVDisplayRule& rule, ViewModel& viewModel, double zoom) {
    if (!rule.showModel3DWithZoom(zoom)) return;
    const auto model = rule.model3DModel();
    if (!model) return;
    const auto url = model3DUrl(*model);
    if (!url) return;
    const auto dataSetId = CVDataSetSeams::currentDataSetId();
    if (!dataSetId) return;
    const auto cachePath = CVDataSetSeams::pathForCachingUrl(*url, *dataSetId);
    if (!cachePath) return;

    CVModelFileCache::cacheModelFile(*cachePath, *url);

    const std::string& locationId = location.getLocationId();
    CVFeatureProperties properties;
    properties[CVModelPropertyKey::model3dId] = locationId;
    // Adapters read the path back from this form: "file:/" and the path as it is.
    properties[CVModelPropertyKey::model3dUri] = "file:/" + cachePath->string();
    if (const auto scale = rule.model3DScale()) {
        properties[CVModelPropertyKey::model3DScale] = std::vector<double>{*scale, *scale, *scale};
    }
    properties[CVModelPropertyKey::type] = CVRenderedFeatureType::model3d;
    const auto x = rule.model3DRotationX();
    const auto y = rule.model3DRotationY();
    const auto z = rule.model3DRotationZ();
    if (x && y && z) properties[CVModelPropertyKey::model3DRotation] = std::vector<double>{*x, *y, *z};
    properties[CVModelPropertyKey::clickable] = resolvedSelectable(location);

    try {
        CVViewModelFeatureGeometry geometry(GeoJsonGeometryType::Point, location.getPosition());
        viewModel.model3D = CVViewModelFeature("Feature", locationId, std::move(properties), std::move(geometry));
    } catch (const std::exception&) {
        CVLog::core().debug("Unable to parse 3D model geometry!");
    }
}

}  // namespace ambrell
