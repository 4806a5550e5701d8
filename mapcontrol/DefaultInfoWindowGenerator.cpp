#include "mapcontrol/DefaultInfoWindowGenerator.h"

#include <cmath>
#include <cstdint>

#include "Ambrell/CVLocation.h"
#include "mapcontrol/InfoWindowUtils.h"
#include "platform/SystemColors.h"

namespace ambrell {

std::shared_ptr<platform::View> DefaultInfoWindowGenerator::infoWindowForLocation(const CVLocation& location) {
    const std::string& name = location.getName();
    const auto size = InfoWindowUtils::boxSize(name, 200, 1000);
    return InfoWindowUtils::infoWindowView(name, platform::SystemColors::white(), platform::SystemColors::black(),
                                           static_cast<std::int64_t>(std::trunc(size.height)),
                                           static_cast<std::int64_t>(std::trunc(size.width + 10)));
}

}  // namespace ambrell
