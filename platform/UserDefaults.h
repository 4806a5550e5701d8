#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell::platform {

// Typed preferences kept in one JSON file, rewritten atomically on every
// change, so the file always holds a complete set of values. Safe to use
// from any thread.
//
// A getter returns none when the key is missing or holds another kind of
// value; an integer reads as a double too. Keys and texts must be valid
// UTF-8, and doubles finite: anything else is refused and logged, so that
// the file always reads back. Entries of other kinds found in the file are
// kept as they are.
//
// A file that cannot be read or parsed is logged and moved aside to
// "<name>.corrupt" (".corrupt.2", ... if taken), and the defaults start
// empty. Should it not move, nothing is written over it until a reload.
class UserDefaults {
public:
    explicit UserDefaults(std::filesystem::path file);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The process-wide defaults, in Paths::preferences()/"standard.json",
    // created on first use.
    static UserDefaults& standard();
    // Drops the process-wide instance, so the next standard() reads the file
    // of the current container root. References to the old one dangle: call
    // it only when nothing holds one.
    static void resetStandardForTesting();

    [[nodiscard]] const std::filesystem::path& filePath() const { return file_; }

    void setBool(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    void setDouble(std::string_view key, double value);
    void setString(std::string_view key, std::string_view value);
    void setStringArray(std::string_view key, const std::vector<std::string>& value);

    [[nodiscard]] std::optional<bool> boolForKey(std::string_view key) const;
    [[nodiscard]] std::optional<std::int64_t> integerForKey(std::string_view key) const;
    [[nodiscard]] std::optional<double> doubleForKey(std::string_view key) const;
    [[nodiscard]] std::optional<std::string> stringForKey(std::string_view key) const;
    [[nodiscard]] std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;

    void removeObjectForKey(std::string_view key);
    [[nodiscard]] bool hasKey(std::string_view key) const;
    // Sorted.
    [[nodiscard]] std::vector<std::string> allKeys() const;

    // Replaces the values in memory with the file's.
    void reload();

private:
    struct Storage;

    const std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::unique_ptr<Storage> storage_;
};

}  // namespace ambrell::platform
