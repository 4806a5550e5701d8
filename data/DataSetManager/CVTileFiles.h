#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

// Tile files on disk. Blocking file-system calls that never throw; failures
// are logged where the tile cache wants them logged.
namespace ambrell {

// The file's bytes; none when it is missing, unreadable, not a regular file
// or larger than any tile could be.
[[nodiscard]] std::optional<std::vector<std::byte>> readTileFile(const std::filesystem::path& path);

// An empty tile file marks a tile that does not exist; so does one whose
// size cannot be read. False when there is no file at all.
[[nodiscard]] bool tileFileMarksMissingTile(const std::filesystem::path& path);

// Writes the bytes to a temporary file beside `file`, gives it the attribute,
// then renames it over `file`: readers see the old tile or the whole new one
// with its attribute, never a part. Failures log "[E] TileCache: writeToFile
// failed: ..." and leave `file` as it was.
void writeTileFileAtomically(const std::filesystem::path& file, const std::vector<std::byte>& bytes,
                             std::string_view attributeName, std::string_view attributeValue);

// Removes the folder with all it holds; a missing folder is no failure.
// Failures log "[E] Failed removing tileCache: ... (err=...)".
void removeTileFolder(const std::filesystem::path& folder);

}  // namespace ambrell
