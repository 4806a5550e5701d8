#pragma once

#include <filesystem>

#include "platform/Image.h"

namespace ambrell::test {

// Checks a drawn image against a PNG kept in the source tree (a relative path
// is taken from the repository root). Pixels are compared with alpha divided
// out, so that a colour drawn at low opacity is judged by its colour, not by
// rounding in the premultiplied bytes: a pixel is off when a channel differs
// by more than 2 of 255, and the image passes with at most 1 % of its pixels
// off. Fonts and antialiasing move a few edge pixels between machines; more
// than that is a change of drawing.
//
// On failure the drawn image is written to golden-actual/ in the test's
// working folder (the build's test folder under ctest), named like the golden
// file, for a look beside it. With AMBRELL_UPDATE_GOLDEN=1 in the environment
// the golden file is rewritten from the drawn image instead, and the check
// passes.
void expectMatchesGolden(const platform::Image& actual, const std::filesystem::path& golden);

}  // namespace ambrell::test
