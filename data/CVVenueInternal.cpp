#include "data/CVVenueInternal.h"

#include <mutex>

#include "Ambrell/CVLog.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVModelText.h"
#include "foundation/CVTextCase.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"
#include "jsonmodel/JSONModel/JSONParsing.h"

namespace ambrell {

namespace {

constexpr std::string_view kVenueInitOperation = "-[CVVenueInternal initWithDictionary:error:]";

struct Determiner {
    std::mutex mutex;
    CVVenueInternal::GraphDeterminer determiner;
};

Determiner& graphDeterminer() {
    static Determiner instance;
    return instance;
}

// The platform's LIKE comparison: "*" stands for any run of characters and
// "?" for one; letter case is ignored.
bool matchesLike(std::string_view text, std::string_view pattern) {
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// A style has no id: its folder names it, when it has a text one.
std::string folderOrNone(const boost::json::value& style) {
    const auto* object = style.if_object();
    const auto* folder = object != nullptr ? object->if_contains("folder") : nullptr;
    std::string text = folder != nullptr ? CVShortTextForLog(*folder) : std::string();
    return text.empty() ? std::string("none") : text;
}

}  // namespace

void CVVenueInternal::declareJSON(JSONModelDeclaration<CVVenueInternal>& d) {
    d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"administrativeId", "name"},
                                                              {"bbox", "geometry.bbox"},
                                                              {"name", "venueInfo.name"},
                                                              {"properties", "venueInfo.fields"},
                                                              {"venueId", "id"}}))
        .optional({"administrativeId", "anchor", "bbox", "buildings", "defaultFloor", "entryPoints", "externalId",
                   "graphId", "name", "properties", "solutionId", "styleOverride", "tilesUrl", "styles"})
        .setter("name", &CVVenueInternal::setNameWithNSString)
        .setter("venueInfo", &CVVenueInternal::setVenueInfoWithNSDictionary)
        .setter("entryPoints", &CVVenueInternal::setEntryPointsWithNSArray)
        .getter("venueInfo", &CVVenueInternal::JSONObjectForVenueInfo)
        .getter("entryPoints", &CVVenueInternal::JSONObjectForEntryPoints);
}

bool CVVenueInternal::initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error) {
    const auto* object = dictionary.if_object();
    const auto* stylesValue = object != nullptr ? object->if_contains("styles") : nullptr;
    const auto* styleList = stylesValue != nullptr ? stylesValue->if_array() : nullptr;
    if (styleList == nullptr) {
        if (!JSONModel::initWithDictionary(dictionary, error) || object == nullptr) return false;
    } else {
        // One malformed style must not cost its venue, nor the venue its document.
        if (!JSONModel::initWithDictionary(CVObjectWithoutKey(*object, "styles"), error)) return false;
        std::vector<std::shared_ptr<CVMapStyleInternal>> kept;
        kept.reserve(styleList->size());
        CVRefusalLines lines(kVenueInitOperation, "map style");
        for (std::size_t i = 0; i < styleList->size(); ++i) {
            const auto& element = (*styleList)[i];
            std::optional<JSONModelError> styleError;
            if (auto style = CVMapStyleInternal::fromDictionary(element, &styleError)) {
                kept.push_back(std::move(style));
            } else if (lines.count()) {
                CVLog::core().error("{} [E] Skipped map style at index {} (folder {}) of venue {}: {}",
                                    kVenueInitOperation, i, folderOrNone(element), CVElementIdOrNoneForLog(dictionary),
                                    CVRefusalForLog(styleError, "not an object"));
            }
        }
        lines.finish();
        styles = std::move(kept);
    }
    const auto& input = *object;
    if (const auto* override = input.if_contains("mapStyleOverride"); override != nullptr && override->is_object()) {
        if (auto style = CVMapStyleInternal::fromDictionary(*override)) styleOverride = std::move(style);
    }
    const auto* geometry = input.if_contains("geometry");
    if (geometry != nullptr && geometry->is_object()) {
        const auto* type = geometry->get_object().if_contains("type");
        if (type != nullptr && type->is_string() && type->get_string() == "Polygon") {
            cv_setPolygon(CVPolygonGeometry::initWithDictionary(*geometry));
        }
    }
    cv_updateGeoDataStatusFromDict(dictionary);
    return true;
}

std::optional<std::vector<std::shared_ptr<CVVenueInternal>>> CVVenueInternal::venuesFromDocument(
    std::string_view text) {
    const auto parsed = parseJSON(text);
    if (!parsed) return std::nullopt;
    if (const auto* list = parsed->if_array()) return venuesFromList(*list);
    const auto* object = parsed->if_object();
    const auto* venues = object != nullptr ? object->if_contains("venues") : nullptr;
    if (venues == nullptr || !venues->is_array()) return std::nullopt;
    return venuesFromList(venues->get_array());
}

std::vector<std::shared_ptr<CVVenueInternal>> CVVenueInternal::venuesFromList(const boost::json::array& list) {
    std::vector<std::shared_ptr<CVVenueInternal>> venues;
    venues.reserve(list.size());
    CVReadEachElement(list, "+[CVVenueInternal venuesFromDocument:]", "venue",
                      [&venues](const boost::json::value& element, JSONModelErrorOut error) {
                          auto venue = fromDictionary(element, error);
                          if (!venue) return false;
                          venues.push_back(std::move(venue));
                          return true;
                      });
    return venues;
}

void CVVenueInternal::setNameWithNSString(std::string_view text) { name = CVNameWithLineBreaks(text); }

void CVVenueInternal::setVenueInfoWithNSDictionary(const boost::json::object& info) {
    auto read = CVEntityInfo::initWithDictionary(info);
    venueInfo = read ? std::make_shared<CVEntityInfo>(std::move(*read)) : nullptr;
}

boost::json::value CVVenueInternal::JSONObjectForVenueInfo() const {
    if (!venueInfo) return nullptr;
    return venueInfo->JSONObject();
}

void CVVenueInternal::setEntryPointsWithNSArray(const boost::json::array& points) {
    std::vector<std::shared_ptr<const CVPoint>> kept;
    for (const auto& point : points) {
        if (auto read = CVPointInitWithDictionary(point)) kept.push_back(std::make_shared<const CVPoint>(*read));
    }
    entryPoints = std::move(kept);
}

boost::json::value CVVenueInternal::JSONObjectForEntryPoints() const {
    boost::json::array points;
    for (const auto& point : entryPoints) {
        if (point) points.push_back(CVPointJSONObject(*point));
    }
    return points;
}

void CVVenueInternal::setMapStyleOverride(const std::shared_ptr<const CVMapStyle>& style) {
    if (!style) {
        styleOverride = nullptr;
        return;
    }
    auto own = std::make_shared<CVMapStyleInternal>();
    own->folder = style->getFolder();
    own->displayName = style->getDisplayName();
    styleOverride = std::move(own);
}

std::shared_ptr<CVMapStyle> CVVenueInternal::defaultStyle() const {
    if (styles.empty()) return nullptr;
    if (styleOverride) {
        const std::string pattern = lowercasedText(styleOverride->folder);
        for (const auto& style : styles) {
            if (style && matchesLike(lowercasedText(style->folder), pattern)) return style;
        }
    }
    return styles.front();
}

std::optional<CVGeoBounds> CVVenueInternal::boundingBox() const {
    if (!bbox || bbox->size() < 4) return std::nullopt;
    const auto& box = *bbox;
    return CVGeoBounds(CLLocationCoordinate2D{box[1], box[0]}, CLLocationCoordinate2D{box[3], box[2]});
}

bool CVVenueInternal::hasGraph() const {
    GraphDeterminer determiner;
    {
        auto& installed = graphDeterminer();
        std::lock_guard lock(installed.mutex);
        determiner = installed.determiner;
    }
    return determiner ? determiner(*this) : false;
}

void CVVenueInternal::setGraphDeterminer(GraphDeterminer determiner) {
    auto& installed = graphDeterminer();
    std::lock_guard lock(installed.mutex);
    installed.determiner.swap(determiner);
}

void CVVenueInternal::resetForTesting() { setGraphDeterminer(nullptr); }

std::shared_ptr<CVLocationInternal> CVVenueInternal::getLocationObject() const {
    const std::string venueKey = lowercasedText(administrativeId.value_or(""));
    auto location = std::make_shared<CVLocationInternal>();
    location->name = name;
    if (anchor) location->setPosition(*anchor);
    location->type = "VENUE";
    location->locationBaseTypeString = "VENUE";
    location->locationId = venueId;
    if (administrativeId) location->aliases = {venueKey};
    location->externalId = externalId.value_or("");
    location->venue = venueKey;
    location->setFloorIndex(0);
    location->categories = {"VENUE"};
    if (const auto polygon = geometry()) location->cv_setPolygon(std::make_shared<CVPolygonGeometry>(*polygon));
    location->fields = properties;
    location->cv_setGeoDataStatus(cv_geoDataStatus());
    // A venue without an administrative id has no readable id to be found by.
    if (administrativeId) CVLocationSourceIndex::current()->setParentId(venueId, "ax_v_" + venueKey);
    return location;
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVVenueInternal)
