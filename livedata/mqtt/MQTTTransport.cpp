#include "livedata/mqtt/MQTTTransport.h"

#include "platform/runtime/Executor.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

MQTTTransport::MQTTTransport()
    : queue_(std::make_unique<platform::SerialExecutor>(platform::ThreadPool::shared().makeStrand())) {}

MQTTTransport::~MQTTTransport() = default;

const platform::SerialExecutor& MQTTTransport::queue() const { return *queue_; }

void MQTTTransport::setQueue(const platform::SerialExecutor& queue) {
    queue_ = std::make_unique<platform::SerialExecutor>(queue);
}

}  // namespace ambrell
