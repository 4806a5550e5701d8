#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ambrell::test {

// Image files of one colour a frame, written at test time by the encoders of
// the libraries the platform decodes them with, so that no binary fixture is
// kept. Colours are straight-alpha 0xAARRGGBB; JPEG and GIF keep no alpha.

// Baseline, 4:4:4, quality 95: each colour channel comes back within a few steps.
[[nodiscard]] std::string jpegFile(int width, int height, std::uint32_t colour);
// Lossy, as photographs are served.
[[nodiscard]] std::string webpFile(int width, int height, std::uint32_t colour);
// Lossless frames of an animation.
[[nodiscard]] std::string animatedWebpFile(int width, int height, const std::vector<std::uint32_t>& frames);
// A GIF89a whose frames fill the canvas, all from one colour map.
[[nodiscard]] std::string gifFile(int width, int height, const std::vector<std::uint32_t>& frames);
// One frame whose row y has colour colours[y % colours.size()], its rows
// interlaced or in order.
[[nodiscard]] std::string gifStripes(int width, int height, const std::vector<std::uint32_t>& colours, bool interlaced);

}  // namespace ambrell::test
