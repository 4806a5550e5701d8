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

    static constexpr std::string_view productionApiHost = "api.ambrell.com";
    static constexpr std::string_view developmentApiHost = "api-dev.ambrell.com";
    static constexpr std::string_view stagingApiHost = "api-staging.ambrell.com";

    // The common suffix of the service's API hosts.
    static constexpr std::string_view serviceDomain = "ambrell.com";

    static constexpr std::string_view liveDataApiHost = "liveapi.ambrell.com";
    static constexpr std::string_view liveDataApiDevHost = "liveapi-dev.ambrell.com";
    static constexpr std::string_view liveUpdateBrokerHost = "live.ambrell.com";
    static constexpr std::string_view liveUpdateBrokerDevHost = "live-dev.ambrell.com";
    static constexpr std::string_view bookingApiHost = "booking.ambrell.com";
    static constexpr std::string_view bookingApiDevHost = "booking-dev.ambrell.com";
};

}  // namespace ambrell
