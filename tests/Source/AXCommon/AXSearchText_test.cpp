#include "Source/AXCommon/AXSearchText.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ambrell::axsearch {
namespace {

using Words = std::vector<std::string>;

TEST(AXSearchText, TokensAreFoldedAndSplitOnPunctuation) {
    const struct {
        const char* text;
        Words expected;
    } cases[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"Café Noir", {"cafe", "noir"}},
        {"Cafe\xCC\x81", {"cafe"}},
        {"Straße", {"strasse"}},
        {"STRASSE", {"strasse"}},
        {"Meeting-Room 1.02", {"meeting", "room", "1", "02"}},
        {"(Kitchen) & [Bar]+{Grill}", {"kitchen", "bar", "grill"}},
        {"a/b\\c_d'e\"f;g:h!i?j,k", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}},
        {"Ｌｏｂｂｙ２", {"lobby2"}},
        {"ﬁle", {"file"}},
        {"Ærø Ørsted", {"ærø", "ørsted"}},
        {"ΆΘΗΝΑ", {"αθηνα"}},
        {"İzmir", {"izmir"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(searchTokens(c.text), c.expected);
    }
}

TEST(AXSearchText, KeysFoldCaseOnly) {
    EXPECT_EQ(foldedKey("ExternalId"), "externalid");
    EXPECT_EQ(foldedKey("Öffnungszeiten"), "öffnungszeiten");
    EXPECT_EQ(foldedKey(""), "");
}

TEST(AXSearchText, TextThatIsNotUtf8IsRefused) {
    for (const char* bad : {"\xC3", "caf\xE9", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bad)));
        EXPECT_THROW((void)searchTokens(bad), std::invalid_argument);
        EXPECT_THROW((void)foldedKey(bad), std::invalid_argument);
    }
}

}  // namespace
}  // namespace ambrell::axsearch
