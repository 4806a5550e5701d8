#include "platform/runtime/Actor.h"

#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

Actor::Actor() : strand_(ThreadPool::shared().makeStrand()) {}

Actor& LocationServiceActor::shared() {
    static Actor actor;
    return actor;
}

Actor& LoadingActor::shared() {
    static Actor actor;
    return actor;
}

}  // namespace ambrell::platform
