#include "livedata/CVLiveDataService.h"

#include <mutex>
#include <utility>

#include <boost/json/parse.hpp>

#include "Ambrell/CVError.h"
#include "Ambrell/ErrorObjects.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVDataProvider.h"
#include "platform/NSErrorException.h"

namespace ambrell {
namespace live_data_service {
namespace {

// The platform decoder's codes: 3840 for text that is not JSON, 4865 for
// JSON of the wrong shape.
constexpr std::int64_t kNotJsonCode = 3840;
constexpr std::int64_t kWrongShapeCode = 4865;

[[noreturn]] void throwDecodingError(std::int64_t code, std::string description) {
    throw platform::NSErrorException(errorWithDescription("NSCocoaErrorDomain", code, std::move(description)));
}

std::mutex& baseMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<std::string>& baseOverride() {
    static std::optional<std::string> base;
    return base;
}

}  // namespace
}  // namespace live_data_service

CVLiveDataInfo CVLiveDataInfo::decode(std::span<const std::uint8_t> body) {
    boost::system::error_code error;
    const auto value =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()), error);
    if (error) {
        live_data_service::throwDecodingError(live_data_service::kNotJsonCode,
                                              "The data couldn't be read because it isn't in the correct format.");
    }
    const auto* object = value.if_object();
    if (!object) {
        live_data_service::throwDecodingError(live_data_service::kWrongShapeCode,
                                              "Expected to decode Dictionary but found another kind of value.");
    }
    const auto* list = object->if_contains("domainTypes");
    if (!list) {
        live_data_service::throwDecodingError(live_data_service::kWrongShapeCode,
                                              "No value associated with key \"domainTypes\".");
    }
    if (!list->is_array()) {
        live_data_service::throwDecodingError(live_data_service::kWrongShapeCode,
                                              "Expected to decode Array for key \"domainTypes\".");
    }
    std::vector<std::string> domainTypes;
    for (const auto& entry : list->get_array()) {
        if (!entry.is_string()) {
            live_data_service::throwDecodingError(live_data_service::kWrongShapeCode,
                                                  "Expected to decode String in \"domainTypes\".");
        }
        domainTypes.emplace_back(entry.get_string());
    }
    return CVLiveDataInfo(std::move(domainTypes));
}

void CVLiveDataEndpoints::setApiBaseForTesting(std::optional<std::string> base) {
    const std::lock_guard lock(live_data_service::baseMutex());
    live_data_service::baseOverride() = std::move(base);
}

std::string CVLiveDataEndpoints::rebased(std::string url) {
    std::optional<std::string> base;
    {
        const std::lock_guard lock(live_data_service::baseMutex());
        base = live_data_service::baseOverride();
    }
    if (!base) return url;
    // The real base is what the settings put before any path.
    std::string realBase = CVAXAPI::sharedInstance()->liveDataUrl("x", std::nullopt);
    realBase.pop_back();
    if (url.rfind(realBase, 0) != 0) return url;
    std::string testBase = *base;
    if (testBase.empty() || testBase.back() != '/') testBase += '/';
    return testBase + url.substr(realBase.size());
}

std::string CVLiveDataEndpoints::detailsUrl(const std::string& dataSetId) {
    return rebased(CVAXAPI::sharedInstance()->liveDataUrl("livedata/details", dataSetId));
}

std::string CVLiveDataEndpoints::stateUrl(const std::string& escapedTopic) {
    return rebased(CVAXAPI::sharedInstance()->liveDataStateUrl(escapedTopic));
}

platform::Awaitable<CVLiveDataInfo> CVLiveDataService::liveDataInfo(std::string dataSetId) {
    return actor_.run([dataSetId = std::move(dataSetId)]() -> platform::Awaitable<CVLiveDataInfo> {
        const std::string url = CVLiveDataEndpoints::detailsUrl(dataSetId);
        if (url.empty() || url.find("://") == std::string::npos) throw CVError(CVErrorCase::missingUrl);
        auto result = co_await CVDataProvider::data(url, std::nullopt, std::nullopt, true);
        if (!result.data) throw CVError(CVErrorCase::dataUnavailable);
        co_return CVLiveDataInfo::decode(*result.data);
    });
}

}  // namespace ambrell
