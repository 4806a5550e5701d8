#include <gtest/gtest.h>

#include "platform/runtime/Runtime.h"

// Every test program ends as a host should: the runtime shuts down before
// main returns, so no pool thread is still running while static objects are
// destroyed.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    ambrell::platform::Runtime::shared().shutdown();
    return result;
}
