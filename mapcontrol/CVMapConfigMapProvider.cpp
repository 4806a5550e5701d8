#include "mapcontrol/CVMapConfigMapProvider.h"

#include <mutex>
#include <utility>

namespace ambrell {

namespace map_config_map_provider {
namespace {

struct Slot {
    std::mutex mutex;
    std::shared_ptr<CVMapProvider> provider;
};

Slot& processSlot() {
    static Slot slot;
    return slot;
}

}  // namespace
}  // namespace map_config_map_provider

std::shared_ptr<CVMapProvider> mapProvider(const CVMapConfig& /*config*/) {
    auto& slot = map_config_map_provider::processSlot();
    std::lock_guard lock(slot.mutex);
    return slot.provider;
}

void setMapProvider(const CVMapConfig& /*config*/, std::shared_ptr<CVMapProvider> provider) {
    auto& slot = map_config_map_provider::processSlot();
    std::lock_guard lock(slot.mutex);
    slot.provider = std::move(provider);
}

}  // namespace ambrell
