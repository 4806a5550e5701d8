#include "tests/viewmodels/GoldenFeatureText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace ambrell::test {

namespace golden_feature_text {
namespace {

constexpr std::string_view kCaseMarker = "## ";

std::map<std::string, std::string> readCases(const std::filesystem::path& path) {
    std::map<std::string, std::string> cases;
    std::ifstream file(path);
    std::string line;
    std::string* current = nullptr;
    while (std::getline(file, line)) {
        if (line.starts_with(kCaseMarker)) {
            current = &cases[line.substr(kCaseMarker.size())];
            continue;
        }
        if (current == nullptr) continue;
        if (!current->empty()) *current += '\n';
        *current += line;
    }
    return cases;
}

}  // namespace
}  // namespace golden_feature_text

void expectMatchesGoldenTexts(const GoldenTexts& texts, const std::string& goldenFileName) {
    using namespace golden_feature_text;
    const std::filesystem::path path = std::filesystem::path(AMBRELL_VIEWMODELS_GOLDEN_DIR) / goldenFileName;
    const char* update = std::getenv("AMBRELL_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream file(path, std::ios::trunc);
        for (const auto& [name, text] : texts) file << kCaseMarker << name << '\n' << text << '\n';
        ASSERT_TRUE(file.good()) << "cannot write " << path;
        return;
    }
    const auto golden = readCases(path);
    ASSERT_FALSE(golden.empty()) << "no golden texts in " << path;
    for (const auto& [name, text] : texts) {
        const auto found = golden.find(name);
        if (found == golden.end()) {
            ADD_FAILURE() << "no golden text for \"" << name << "\" in " << path << "; actual:\n" << text;
            continue;
        }
        EXPECT_EQ(text, found->second) << "case \"" << name << "\" of " << path;
    }
}

}  // namespace ambrell::test
