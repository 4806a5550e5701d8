#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ambrell::test {

// Named texts (a feature's GeoJSON, a list of them), checked against a file
// of golden/ in this folder that holds each as "## <name>" and the text on
// the lines after it. A case missing from the file, or different, fails with
// both texts. With AMBRELL_UPDATE_GOLDEN=1 in the environment the file is
// rewritten from the texts instead, and the check passes.
using GoldenTexts = std::vector<std::pair<std::string, std::string>>;
void expectMatchesGoldenTexts(const GoldenTexts& texts, const std::string& goldenFileName);

}  // namespace ambrell::test
