#include "foundation/CVURITemplate.h"

#include <gtest/gtest.h>

#include <limits>

namespace ambrell {
namespace {

TEST(CVURITemplate, FillsPlaceholdersByName) {
    CVURITemplate tiles("https://tiles.example.com/{style}/{z}/{x}/{y}.png?scale={x}");
    EXPECT_EQ(tiles.resultURI(), tiles.templateURI());

    tiles.addIntParam("x", 17);
    tiles.addIntParam("y", -3);
    // Both {x} are filled; {z} and {style} are kept, braces included.
    EXPECT_EQ(tiles.resultURI(), "https://tiles.example.com/{style}/{z}/17/-3.png?scale=17");

    tiles.addParam("style", "dark mode/ä");  // inserted as given, no encoding
    tiles.addIntParam("z", std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(tiles.resultURI(), "https://tiles.example.com/dark mode/ä/-2147483648/17/-3.png?scale=17");

    tiles.addParam("missing", "value");
    EXPECT_EQ(tiles.resultURI(), "https://tiles.example.com/dark mode/ä/-2147483648/17/-3.png?scale=17");
}

TEST(CVURITemplate, SubstitutionsAccumulate) {
    CVURITemplate uri("{a}|{b}|{{b}}");
    uri.addParam("a", "{b}");  // brings in a placeholder a later call fills
    EXPECT_EQ(uri.resultURI(), "{b}|{b}|{{b}}");
    uri.addParam("b", "{b}");  // a value is not searched again by its own call
    EXPECT_EQ(uri.resultURI(), "{b}|{b}|{{b}}");
    uri.addParam("b", "2");
    EXPECT_EQ(uri.resultURI(), "2|2|{2}");
    uri.addParam("", "empty");
    EXPECT_EQ(uri.resultURI(), "2|2|{2}");

    CVURITemplate empty("{}x");
    empty.addParam("", "y");
    EXPECT_EQ(empty.resultURI(), "yx");
}

TEST(CVURITemplate, NewTemplateTakesEffectAtReset) {
    CVURITemplate uri("/{z}/{x}/{y}");
    uri.addIntParam("z", 1);
    uri.setTemplateURI("/v2/{z}");
    EXPECT_EQ(uri.resultURI(), "/1/{x}/{y}");

    uri.resetParams();
    EXPECT_EQ(uri.resultURI(), "/v2/{z}");
    uri.addIntParam("z", 4);
    EXPECT_EQ(uri.resultURI(), "/v2/4");
    EXPECT_EQ(uri.templateURI(), "/v2/{z}");
}

}  // namespace
}  // namespace ambrell
