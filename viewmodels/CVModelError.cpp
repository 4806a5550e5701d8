#include "viewmodels/CVModelError.h"

#include <string>

namespace ambrell {

const char* CVModelError::what() const noexcept {
    switch (errorCase_) {
        case CVModelErrorCase::IllegalStateException: return "CVModelError.IllegalStateException (0)";
        case CVModelErrorCase::IllegalGeoJsonGeometryType: return "CVModelError.IllegalGeoJsonGeometryType (1)";
    }
    return "CVModelError";
}

platform::NSError CVModelError::toNSError() const {
    platform::NSError error;
    error.domain = std::string(CVModelErrorDomain);
    error.code = code();
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), std::string(what()));
    return error;
}

}  // namespace ambrell
