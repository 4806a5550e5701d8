#include <cstdlib>

// Points fontconfig at the test configuration before anything draws text:
// fontconfig reads FONTCONFIG_FILE once, at its first use. A value already
// in the environment is the runner's choice and stays.
namespace ambrell::mapcontrol_test_fonts {
namespace {

const bool kConfigured = [] { return ::setenv("FONTCONFIG_FILE", AMBRELL_TEST_FONTCONFIG_FILE, 0) == 0; }();

}  // namespace
}  // namespace ambrell::mapcontrol_test_fonts
