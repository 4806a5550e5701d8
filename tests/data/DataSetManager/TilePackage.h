#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zip/SSZipArchive.h"

namespace ambrell::test {

// A tile package as the web service hands it out: a zip of small tile files
// at its top level. Returns the zip's path, inside `folder`.
inline std::filesystem::path writeTilePackage(const std::filesystem::path& folder,
                                              const std::vector<std::string>& tileNames) {
    const auto tiles = folder / "tiles";
    std::filesystem::create_directories(tiles);
    for (const auto& name : tileNames) std::ofstream(tiles / name, std::ios::binary) << "\x89PNG tile " << name;
    const auto package = folder / "package.zip";
    SSZipArchive::createZipFileAtPath(package.string(), tiles.string());
    return package;
}

}  // namespace ambrell::test
