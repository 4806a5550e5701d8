#include <gtest/gtest.h>

#include "platform/runtime/Runtime.h"

// fontconfig, beneath pango and cairo, keeps the fonts it has matched in
// caches that live until the process ends and are never freed; they are
// fontconfig's, not leaks of the code under test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// Every test program ends as a host should: the runtime shuts down before
// main returns, so no pool thread is still running while static objects are
// destroyed.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    ambrell::platform::Runtime::shared().shutdown();
    return result;
}
