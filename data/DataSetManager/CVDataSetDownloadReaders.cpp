#include "data/DataSetManager/CVDataSetDownloadReaders.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <boost/url/parse.hpp>

#include "data/CVAppData.h"
#include "data/CVBuildingCollection.h"
#include "data/CVCategoriesProvider.h"
#include "data/CVDerivedGeometryProvider.h"
#include "data/CVSolutionInternal.h"
#include "data/CVUrlResourceCollection.h"
#include "data/CVUserRoleProvider.h"
#include "data/CVVenueCollection.h"
#include "data/DataSetManager/CVTilePackageStaging.h"
#include "jsonmodel/JSONModel/JSONParsing.h"
#include "platform/FileSystem.h"
#include "platform/Image.h"

namespace ambrell {

namespace {

using Bytes = std::vector<std::uint8_t>;
using BytesCheck = bool (*)(const Bytes&);

std::string_view textOf(const Bytes& bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

IncomingReader reading(BytesCheck reads) {
    return [reads](const std::filesystem::path& incoming) {
        const auto bytes = platform::readFile(incoming);
        return bytes && reads(*bytes);
    };
}

// As the routing layer's readers parse its documents: Boost.JSON's defaults.
bool isJsonArray(const Bytes& bytes) {
    boost::system::error_code error;
    const auto document = boost::json::parse(textOf(bytes), error);
    return !error && document.is_array();
}

bool isVenueList(const Bytes& bytes) { return CVVenueCollection::fromData(bytes) != nullptr; }

bool isBuildingList(const Bytes& bytes) { return CVBuildingCollection::fromData(bytes) != nullptr; }

bool isSolution(const Bytes& bytes) { return CVSolutionInternal::fromData(bytes) != nullptr; }

bool isAppData(const Bytes& bytes) { return CVAppData::fromData(bytes) != nullptr; }

bool isCategoryList(const Bytes& bytes) {
    std::optional<JSONModelError> ignored;
    return CVCategoriesProvider::categoriesFromData(bytes, ignored) != nullptr;
}

bool isUserRoleList(const Bytes& bytes) { return CVUserRoleProvider::userRolesFromData(bytes) != nullptr; }

// The verdict of the venue location source's reader without the cost of
// its locations (tens of thousands in a large solution): a feature that does
// not read is skipped there, so the document reads whenever its list does, a
// top-level array or an object's "list" array.
bool isLocationList(const Bytes& bytes) {
    boost::json::monotonic_resource arena;
    const auto document = parseJSON(textOf(bytes), nullptr, boost::json::storage_ptr(&arena));
    if (!document) return false;
    if (document->is_array()) return true;
    const auto* object = document->if_object();
    const auto* list = object != nullptr ? object->if_contains("list") : nullptr;
    return list != nullptr && list->is_array();
}

bool isDerivedGeometryList(const Bytes& bytes) {
    return CVDerivedGeometryProvider::derivedGeometriesFromData(bytes) != nullptr;
}

// An image the image provider decodes, or one in a format it only recognises,
// which is kept for the host to read itself.
bool isImage(const Bytes& bytes) { return platform::readImageBytes(std::as_bytes(std::span(bytes))).isImage; }

// As the data set reads its cached description: any depth up to the one
// cached documents are read with, then an object.
bool isDescription(const Bytes& bytes) {
    boost::json::parse_options options;
    options.max_depth = kJSONMaxNestingDepth;
    boost::system::error_code error;
    const auto document = boost::json::parse(textOf(bytes), error, {}, options);
    return !error && document.is_object();
}

// "venues" of ".../sync/venues?solutionId=...", none for a URL of no sync endpoint.
std::string syncEndpointOf(std::string_view url) {
    const auto parsed = boost::urls::parse_uri_reference(url);
    if (!parsed) return {};
    const auto segments = parsed->segments();
    if (segments.size() < 2) return {};
    const auto last = std::prev(segments.end());
    if (*std::prev(last) != "sync") return {};
    return *last;
}

BytesCheck syncDocumentCheck(std::string_view endpoint) {
    struct Entry {
        std::string_view endpoint;
        BytesCheck reads;
    };
    static constexpr Entry kEntries[] = {
        {"venues", isVenueList},        {"buildings", isBuildingList},
        {"solutions", isSolution},      {"appconfig", isAppData},
        {"categories", isCategoryList}, {"appuserroles", isUserRoleList},
        {"locations", isLocationList},  {"derivedGeometry", isDerivedGeometryList},
        {"graph", isJsonArray},         {"routelayer", isJsonArray},
    };
    for (const auto& entry : kEntries) {
        if (entry.endpoint == endpoint) return entry.reads;
    }
    return nullptr;
}

}  // namespace

IncomingReader CVDataSetDownloadReaders::forResource(std::string_view groupType, std::string_view url) {
    if (groupType == CVUrlResourceGroup::kTypeJson) {
        if (const auto reads = syncDocumentCheck(syncEndpointOf(url))) return reading(reads);
        return {};
    }
    if (groupType == CVUrlResourceGroup::kTypeImages || groupType == CVUrlResourceGroup::kTypeExternalImages) {
        return reading(isImage);
    }
    return {};
}

IncomingReader CVDataSetDownloadReaders::forDescription() { return reading(isDescription); }

IncomingReader CVDataSetDownloadReaders::forTilePackage(std::shared_ptr<CVTilePackageStaging> staging) {
    return [staging = std::move(staging)](const std::filesystem::path& incoming) { return staging->unpack(incoming); };
}

}  // namespace ambrell
