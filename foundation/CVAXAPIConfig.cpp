#include "foundation/CVAXAPIConfig.h"

namespace ambrell {

namespace {

std::string httpsBase(std::string_view host) {
    std::string url = "https://";
    url += host;
    url += '/';
    return url;
}

}  // namespace

std::string CVAXAPIConfig::apiVersion() { return "6"; }

std::string CVAXAPIConfig::baseURL() { return httpsBase(kProductionApiHost); }
std::string CVAXAPIConfig::baseDevURL() { return httpsBase(kDevelopmentApiHost); }
std::string CVAXAPIConfig::baseStagingURL() { return httpsBase(kStagingApiHost); }

}  // namespace ambrell
