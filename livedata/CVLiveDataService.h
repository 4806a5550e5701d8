#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/runtime/Actor.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// The live-data domain types the web API offers for one data set:
// {"domainTypes": ["occupancy", ...]}; the key is required, others are ignored.
class CVLiveDataInfo {
public:
    CVLiveDataInfo() = default;
    explicit CVLiveDataInfo(std::vector<std::string> domainTypes) : domainTypes_(std::move(domainTypes)) {}

    // Throws platform::NSErrorException ("NSCocoaErrorDomain") when the body is
    // not JSON or not of that shape.
    [[nodiscard]] static CVLiveDataInfo decode(std::span<const std::uint8_t> body);

    [[nodiscard]] const std::vector<std::string>& domainTypes() const { return domainTypes_; }

private:
    std::vector<std::string> domainTypes_;
};

// Where the live-data web API is: the web-service settings' live-data URLs,
// or, in tests, the same paths under another base.
class CVLiveDataEndpoints {
public:
    CVLiveDataEndpoints() = delete;

    // The details of the data set: "livedata/details", then the id as one path segment.
    [[nodiscard]] static std::string detailsUrl(const std::string& dataSetId);
    // The current state of a topic, given already escaped as a query value.
    [[nodiscard]] static std::string stateUrl(const std::string& escapedTopic);

    // Test-only: the base that stands for the live-data API's ("http://127.0.0.1:port/api"); none: the real one.
    static void setApiBaseForTesting(std::optional<std::string> base);

private:
    [[nodiscard]] static std::string rebased(std::string url);
};

// Fetches a data set's live-data details, one request at a time.
class CVLiveDataService {
public:
    CVLiveDataService() = default;
    CVLiveDataService(const CVLiveDataService&) = delete;
    CVLiveDataService& operator=(const CVLiveDataService&) = delete;
    virtual ~CVLiveDataService() = default;

    // Completes: on the caller's executor. Errors: CVError missingUrl without
    // a usable URL, dataUnavailable without a body; the data provider's
    // errors (CVError for statuses of 400 and above); the decoding error.
    // Cancelling: through the awaiting task.
    virtual platform::Awaitable<CVLiveDataInfo> liveDataInfo(std::string dataSetId);

private:
    platform::Actor actor_;
};

}  // namespace ambrell
