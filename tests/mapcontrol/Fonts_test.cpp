#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "viewmodels/FontStyle.h"

namespace ambrell::mapcontrol_fonts_test {
namespace {

// Under the tests' fontconfig file every family resolves to DejaVu Sans, so
// the label font "ArialMT" measures as the system font does.
TEST(Fonts, TheLabelFontAndTheSystemFontResolveToTheOneTestFont) {
    const char* configuration = std::getenv("FONTCONFIG_FILE");
    ASSERT_NE(configuration, nullptr);
    EXPECT_NE(std::string(configuration).find("fonts.conf"), std::string::npos);

    const auto label = FontStyle::defaultFont();
    EXPECT_EQ(label.family, "ArialMT");
    EXPECT_EQ(label.size, platform::Font::systemFontSize);
    EXPECT_EQ(platform::measureText("Floor 12", label),
              platform::measureText("Floor 12", platform::Font::systemFont(14)));
    EXPECT_EQ(platform::measureText("LLG", platform::Font{"Helvetica Neue", 12, true}),
              platform::measureText("LLG", platform::Font::boldSystemFont(12)));
}

}  // namespace
}  // namespace ambrell::mapcontrol_fonts_test
