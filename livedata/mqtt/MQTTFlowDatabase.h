#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ambrell {

// The SQLite database behind MQTTCoreDataPersistence: one table "MQTTFlow"
// with one row per flow, unique per (clientId, incomingFlag, messageId).
// Rows are addressed by their row id.
//
// Changes collect in an open transaction until save() commits them, so a
// process that ends before a save loses them, and a store call costs no
// disk write. Every member locks the database's recursive mutex; a caller
// holds lock() to make several calls one step.
//
// A database that could not be opened or set up (isOpen() false) reads as
// empty and refuses every write. Failures are logged, never thrown.
class MQTTFlowDatabase {
public:
    enum class Column { clientId, incomingFlag, retainedFlag, commandType, qosLevel, messageId, topic, data, deadline };
    using RowId = std::int64_t;

    // In memory when `file` is none.
    explicit MQTTFlowDatabase(const std::optional<std::filesystem::path>& file);
    ~MQTTFlowDatabase();
    MQTTFlowDatabase(const MQTTFlowDatabase&) = delete;
    MQTTFlowDatabase& operator=(const MQTTFlowDatabase&) = delete;

    [[nodiscard]] bool isOpen() const { return db_ != nullptr; }
    [[nodiscard]] std::unique_lock<std::recursive_mutex> lock() const { return std::unique_lock(mutex_); }

    [[nodiscard]] std::optional<RowId> findRow(const std::string& clientId, bool incomingFlag, std::uint16_t messageId);
    // Earliest deadline first (absent deadlines before all), then in the
    // order of insertion.
    [[nodiscard]] std::vector<RowId> rows(const std::string& clientId, bool incomingFlag);
    // Kept as rows change, so a count costs no scan; read again from the
    // table after another connection to the file committed.
    [[nodiscard]] std::uint64_t count(const std::string& clientId, bool incomingFlag);
    // Outgoing rows whose commandType is set and not 0.
    [[nodiscard]] std::uint64_t countInFlight(const std::string& clientId);

    std::optional<RowId> insertRow(const std::string& clientId, bool incomingFlag, std::uint16_t messageId);
    // A new row with every field in one write.
    std::optional<RowId> insertMessage(const std::string& clientId, bool incomingFlag, std::uint16_t messageId,
                                       const std::string& topic, const std::vector<std::uint8_t>& data,
                                       bool retainedFlag, std::uint8_t qosLevel, std::uint8_t commandType,
                                       std::int64_t deadline);
    // The six message fields in one write.
    bool setMessage(RowId row, const std::string& topic, const std::vector<std::uint8_t>& data, bool retainedFlag,
                    std::uint8_t qosLevel, std::uint8_t commandType, std::int64_t deadline);
    void deleteRow(RowId row);
    void deleteRows(const std::string& clientId, bool incomingFlag);

    // A whole row, each column none when absent or of another kind.
    struct Record {
        std::optional<std::string> clientId;
        std::optional<std::int64_t> incomingFlag;
        std::optional<std::int64_t> retainedFlag;
        std::optional<std::int64_t> commandType;
        std::optional<std::int64_t> qosLevel;
        std::optional<std::int64_t> messageId;
        std::optional<std::string> topic;
        std::optional<std::vector<std::uint8_t>> data;
        std::optional<std::int64_t> deadline;
    };
    // None for a gone row.
    [[nodiscard]] std::optional<Record> record(RowId row);

    // None for an absent value, a gone row, or a value of another kind.
    [[nodiscard]] std::optional<std::int64_t> integer(RowId row, Column column);
    [[nodiscard]] std::optional<std::string> text(RowId row, Column column);
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> blob(RowId row, Column column);
    // False when refused (a write that would give two rows one key, say);
    // the row is then unchanged.
    bool setInteger(RowId row, Column column, std::optional<std::int64_t> value);
    bool setText(RowId row, Column column, const std::optional<std::string>& value);
    bool setBlob(RowId row, Column column, const std::optional<std::vector<std::uint8_t>>& value);

    [[nodiscard]] bool hasChanges() const;
    // Commits the open transaction, if any. False when the commit failed.
    bool save();

private:
    class Statement;

    bool execute(const char* sql);
    sqlite3_stmt* prepared(const std::string& sql);
    bool beginChange();
    template <typename Bind>
    bool update(RowId row, Column column, Bind&& bind);
    void close();
    // Drops the kept counts when another connection changed the file.
    void checkCountsCurrent();
    void adjustCount(const std::string& clientId, bool incomingFlag, std::int64_t by);

    mutable std::recursive_mutex mutex_;
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
    std::map<std::pair<std::string, bool>, std::uint64_t> counts_;
    std::optional<std::int64_t> dataVersion_;
    // Only a file has other connections that may change it.
    bool onFile_ = false;
};

}  // namespace ambrell
