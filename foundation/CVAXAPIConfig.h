#pragma once

#include <string>
#include <string_view>

namespace ambrell {

// The fixed settings of the web service: its API version and where each of
// its deployments lives. Every host name the library talks to is kept here.
class CVAXAPIConfig {
public:
    CVAXAPIConfig() = default;

    // The "v" query item of every sync URL.
    [[nodiscard]] static std::string apiVersion();

    // "https://" + host + "/"; each ends with "/".
    [[nodiscard]] static std::string baseURL();
    [[nodiscard]] static std::string baseDevURL();
    [[nodiscard]] static std::string baseStagingURL();

    static constexpr std::string_view kProductionApiHost = "api.ambrell.com";
    static constexpr std::string_view kDevelopmentApiHost = "api-dev.ambrell.com";
    static constexpr std::string_view kStagingApiHost = "api-staging.ambrell.com";

    // The common suffix of the service's API hosts.
    static constexpr std::string_view kServiceDomain = "ambrell.com";

    static constexpr std::string_view kLiveDataApiHost = "liveapi.ambrell.com";
    static constexpr std::string_view kLiveDataApiDevHost = "liveapi-dev.ambrell.com";
    static constexpr std::string_view kLiveUpdateBrokerHost = "live.ambrell.com";
    static constexpr std::string_view kLiveUpdateBrokerDevHost = "live-dev.ambrell.com";
    static constexpr std::string_view kBookingApiHost = "booking.ambrell.com";
    static constexpr std::string_view kBookingApiDevHost = "booking-dev.ambrell.com";
};

}  // namespace ambrell
