#include "mapcontrol/CVMapLiveDataSeam.h"

#include <mutex>
#include <utility>

namespace ambrell {

namespace map_live_data_seam {
namespace {

struct Slot {
    std::mutex mutex;
    std::shared_ptr<CVMapLiveDataSeam> seam;
};

// Made on first use: the live-data code registers among the static initialisers.
Slot& slot() {
    static Slot instance;
    return instance;
}

}  // namespace
}  // namespace map_live_data_seam

void CVMapLiveDataSeam::install(std::shared_ptr<CVMapLiveDataSeam> seam) {
    auto& slot = map_live_data_seam::slot();
    std::shared_ptr<CVMapLiveDataSeam> previous;
    {
        const std::lock_guard lock(slot.mutex);
        previous = std::exchange(slot.seam, std::move(seam));
    }
}

std::shared_ptr<CVMapLiveDataSeam> CVMapLiveDataSeam::installed() {
    auto& slot = map_live_data_seam::slot();
    const std::lock_guard lock(slot.mutex);
    return slot.seam;
}

}  // namespace ambrell
