#include "livedata/mqtt/MQTTFlowDatabase.h"

#include <sqlite3.h>

#include <array>
#include <limits>
#include <utility>

#include "platform/Logger.h"

namespace ambrell {

namespace {

const platform::Logger& logger() {
    static const platform::Logger log("MQTT");
    return log;
}

constexpr std::array<const char*, 9> kColumnNames = {
    "clientId", "incomingFlag", "retainedFlag", "commandType", "qosLevel", "messageId", "topic", "data", "deadline"};

const char* nameOf(MQTTFlowDatabase::Column column) { return kColumnNames.at(static_cast<std::size_t>(column)); }

// The row layout the store writes. Opening a file whose table lacks a column
// fails the check query, and the store is then left without a database.
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS MQTTFlow ("
    "clientId TEXT, incomingFlag INTEGER, retainedFlag INTEGER, commandType INTEGER, qosLevel INTEGER, "
    "messageId INTEGER, topic TEXT, data BLOB, deadline INTEGER, "
    "UNIQUE(clientId, incomingFlag, messageId))";
// Listing a direction's flows in deadline order walks this index instead of
// sorting every row on each call; files written before it get it on opening.
constexpr const char* kCreateDeadlineIndex =
    "CREATE INDEX IF NOT EXISTS MQTTFlowDeadline ON MQTTFlow (clientId, incomingFlag, deadline)";
// Counting the outgoing flows in flight reads only their entries, not those
// of the queued ones.
constexpr const char* kCreateStepIndex =
    "CREATE INDEX IF NOT EXISTS MQTTFlowStep ON MQTTFlow (clientId, incomingFlag, commandType)";
constexpr const char* kCheckColumns =
    "SELECT clientId, incomingFlag, retainedFlag, commandType, qosLevel, messageId, topic, data, deadline "
    "FROM MQTTFlow LIMIT 0";

// Another connection committing holds the file for a moment.
constexpr int kBusyTimeoutMilliseconds = 2000;

}  // namespace

namespace flow_database {

std::optional<std::int64_t> integerColumn(sqlite3_stmt* statement, int column) {
    if (sqlite3_column_type(statement, column) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(statement, column);
}

std::optional<std::string> textColumn(sqlite3_stmt* statement, int column) {
    if (sqlite3_column_type(statement, column) != SQLITE_TEXT) return std::nullopt;
    const auto* bytes = sqlite3_column_text(statement, column);
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

std::optional<std::vector<std::uint8_t>> blobColumn(sqlite3_stmt* statement, int column) {
    if (sqlite3_column_type(statement, column) != SQLITE_BLOB) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    if (bytes == nullptr) return std::vector<std::uint8_t>{};
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

}  // namespace flow_database

// A cached prepared statement, reset and unbound when the scope ends so the
// next user finds it clean.
class MQTTFlowDatabase::Statement {
public:
    Statement(MQTTFlowDatabase& database, const std::string& sql) : statement_(database.prepared(sql)) {}
    ~Statement() {
        if (statement_ != nullptr) {
            sqlite3_reset(statement_);
            sqlite3_clear_bindings(statement_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }

    void bind(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }
    void bind(int index, const std::string& value) {
        sqlite3_bind_text64(statement_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    void bind(int index, const std::vector<std::uint8_t>& value) {
        // A zero-length blob, not NULL: empty data is a value.
        sqlite3_bind_blob64(statement_, index, value.empty() ? "" : static_cast<const void*>(value.data()),
                            value.size(), SQLITE_TRANSIENT);
    }
    void bindNull(int index) { sqlite3_bind_null(statement_, index); }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(statement_); }

private:
    sqlite3_stmt* statement_;
};

MQTTFlowDatabase::MQTTFlowDatabase(const std::optional<std::filesystem::path>& file) : onFile_(file.has_value()) {
    const std::string name = file ? file->string() : std::string(":memory:");
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        logger().error("The MQTT flow store {} can't be opened: {}", name, db_ ? sqlite3_errmsg(db_) : "no memory");
        close();
        return;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMilliseconds);
    if (!execute(kCreateTable) || !execute(kCheckColumns)) {
        logger().error("The MQTT flow store {} is not usable; flows are not stored", name);
        close();
        return;
    }
    // Without the indexes (a file that can't be written, say) listing and
    // counting are only slower; the failure is logged.
    execute(kCreateDeadlineIndex);
    execute(kCreateStepIndex);
    // Nothing outlives a database in memory, so there is nothing to roll
    // back to and nothing deleted to wipe: copying each changed page aside
    // first, or zeroing what a delete frees, is wasted work.
    if (!onFile_) {
        execute("PRAGMA journal_mode = OFF");
        execute("PRAGMA secure_delete = OFF");
    }
}

MQTTFlowDatabase::~MQTTFlowDatabase() { close(); }

void MQTTFlowDatabase::close() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    counts_.clear();
    // An open transaction is rolled back: changes never saved are dropped.
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool MQTTFlowDatabase::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    logger().error("MQTT flow store: {}", message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

sqlite3_stmt* MQTTFlowDatabase::prepared(const std::string& sql) {
    if (db_ == nullptr) return nullptr;
    if (const auto found = statements_.find(sql); found != statements_.end()) return found->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                           nullptr) != SQLITE_OK) {
        logger().error("MQTT flow store: {}", sqlite3_errmsg(db_));
        sqlite3_finalize(statement);
        return nullptr;
    }
    statements_.emplace(sql, statement);
    return statement;
}

bool MQTTFlowDatabase::beginChange() {
    if (db_ == nullptr) return false;
    if (sqlite3_get_autocommit(db_) == 0) return true;
    return execute("BEGIN");
}

bool MQTTFlowDatabase::hasChanges() const {
    auto guard = lock();
    return db_ != nullptr && sqlite3_get_autocommit(db_) == 0;
}

bool MQTTFlowDatabase::save() {
    auto guard = lock();
    if (!hasChanges()) return true;
    // A failed commit that SQLite rolled back leaves autocommit on; one it
    // kept open is tried again at the next save.
    if (execute("COMMIT")) return true;
    if (sqlite3_get_autocommit(db_) != 0) counts_.clear();
    return false;
}

std::optional<MQTTFlowDatabase::RowId> MQTTFlowDatabase::findRow(const std::string& clientId, bool incomingFlag,
                                                                 std::uint16_t messageId) {
    auto guard = lock();
    Statement statement(*this,
                        "SELECT rowid FROM MQTTFlow WHERE clientId = ?1 AND incomingFlag = ?2 AND messageId = ?3 "
                        "ORDER BY rowid DESC LIMIT 1");
    if (!statement) return std::nullopt;
    statement.bind(1, clientId);
    statement.bind(2, std::int64_t{incomingFlag});
    statement.bind(3, std::int64_t{messageId});
    if (statement.step() != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(statement.get(), 0);
}

std::vector<MQTTFlowDatabase::RowId> MQTTFlowDatabase::rows(const std::string& clientId, bool incomingFlag) {
    auto guard = lock();
    std::vector<RowId> found;
    Statement statement(
        *this, "SELECT rowid FROM MQTTFlow WHERE clientId = ?1 AND incomingFlag = ?2 ORDER BY deadline ASC, rowid ASC");
    if (!statement) return found;
    statement.bind(1, clientId);
    statement.bind(2, std::int64_t{incomingFlag});
    int status = SQLITE_ROW;
    while ((status = statement.step()) == SQLITE_ROW) found.push_back(sqlite3_column_int64(statement.get(), 0));
    // A fetch that fails part-way reads as no flows at all.
    if (status != SQLITE_DONE) found.clear();
    return found;
}

void MQTTFlowDatabase::checkCountsCurrent() {
    if (!onFile_) return;
    Statement statement(*this, "PRAGMA data_version");
    if (!statement || statement.step() != SQLITE_ROW) {
        counts_.clear();
        return;
    }
    const auto version = sqlite3_column_int64(statement.get(), 0);
    if (dataVersion_ != version) counts_.clear();
    dataVersion_ = version;
}

void MQTTFlowDatabase::adjustCount(const std::string& clientId, bool incomingFlag, std::int64_t by) {
    const auto found = counts_.find({clientId, incomingFlag});
    if (found == counts_.end()) return;
    if (by < 0 && found->second < static_cast<std::uint64_t>(-by)) {
        counts_.erase(found);
        return;
    }
    found->second = static_cast<std::uint64_t>(static_cast<std::int64_t>(found->second) + by);
}

std::uint64_t MQTTFlowDatabase::count(const std::string& clientId, bool incomingFlag) {
    auto guard = lock();
    checkCountsCurrent();
    if (const auto found = counts_.find({clientId, incomingFlag}); found != counts_.end()) return found->second;
    Statement statement(*this, "SELECT count(*) FROM MQTTFlow WHERE clientId = ?1 AND incomingFlag = ?2");
    if (!statement) return 0;
    statement.bind(1, clientId);
    statement.bind(2, std::int64_t{incomingFlag});
    if (statement.step() != SQLITE_ROW) return 0;
    const auto counted = static_cast<std::uint64_t>(sqlite3_column_int64(statement.get(), 0));
    counts_.insert_or_assign({clientId, incomingFlag}, counted);
    return counted;
}

std::uint64_t MQTTFlowDatabase::countInFlight(const std::string& clientId) {
    auto guard = lock();
    Statement statement(*this,
                        "SELECT count(*) FROM MQTTFlow WHERE clientId = ?1 AND incomingFlag = 0 AND commandType > 0");
    if (!statement) return 0;
    statement.bind(1, clientId);
    if (statement.step() != SQLITE_ROW) return 0;
    return static_cast<std::uint64_t>(sqlite3_column_int64(statement.get(), 0));
}

std::optional<MQTTFlowDatabase::RowId> MQTTFlowDatabase::insertRow(const std::string& clientId, bool incomingFlag,
                                                                   std::uint16_t messageId) {
    auto guard = lock();
    if (!beginChange()) return std::nullopt;
    Statement statement(*this, "INSERT INTO MQTTFlow (clientId, incomingFlag, messageId) VALUES (?1, ?2, ?3)");
    if (!statement) return std::nullopt;
    statement.bind(1, clientId);
    statement.bind(2, std::int64_t{incomingFlag});
    statement.bind(3, std::int64_t{messageId});
    if (statement.step() != SQLITE_DONE) {
        logger().error("MQTT flow store: {}", sqlite3_errmsg(db_));
        // A failure that rolled the transaction back undid earlier changes.
        if (sqlite3_get_autocommit(db_) != 0) counts_.clear();
        return std::nullopt;
    }
    adjustCount(clientId, incomingFlag, 1);
    return sqlite3_last_insert_rowid(db_);
}

std::optional<MQTTFlowDatabase::RowId> MQTTFlowDatabase::insertMessage(
    const std::string& clientId, bool incomingFlag, std::uint16_t messageId, const std::string& topic,
    const std::vector<std::uint8_t>& data, bool retainedFlag, std::uint8_t qosLevel, std::uint8_t commandType,
    std::int64_t deadline) {
    auto guard = lock();
    if (!beginChange()) return std::nullopt;
    Statement statement(*this,
                        "INSERT INTO MQTTFlow (clientId, incomingFlag, messageId, topic, data, retainedFlag, qosLevel, "
                        "commandType, deadline) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    if (!statement) return std::nullopt;
    statement.bind(1, clientId);
    statement.bind(2, std::int64_t{incomingFlag});
    statement.bind(3, std::int64_t{messageId});
    statement.bind(4, topic);
    statement.bind(5, data);
    statement.bind(6, std::int64_t{retainedFlag});
    statement.bind(7, std::int64_t{qosLevel});
    statement.bind(8, std::int64_t{commandType});
    statement.bind(9, deadline);
    if (statement.step() != SQLITE_DONE) {
        logger().error("MQTT flow store: {}", sqlite3_errmsg(db_));
        if (sqlite3_get_autocommit(db_) != 0) counts_.clear();
        return std::nullopt;
    }
    adjustCount(clientId, incomingFlag, 1);
    return sqlite3_last_insert_rowid(db_);
}

bool MQTTFlowDatabase::setMessage(RowId row, const std::string& topic, const std::vector<std::uint8_t>& data,
                                  bool retainedFlag, std::uint8_t qosLevel, std::uint8_t commandType,
                                  std::int64_t deadline) {
    auto guard = lock();
    if (!beginChange()) return false;
    Statement statement(*this,
                        "UPDATE MQTTFlow SET topic = ?1, data = ?2, retainedFlag = ?3, qosLevel = ?4, "
                        "commandType = ?5, deadline = ?6 WHERE rowid = ?7");
    if (!statement) return false;
    statement.bind(1, topic);
    statement.bind(2, data);
    statement.bind(3, std::int64_t{retainedFlag});
    statement.bind(4, std::int64_t{qosLevel});
    statement.bind(5, std::int64_t{commandType});
    statement.bind(6, deadline);
    statement.bind(7, row);
    if (statement.step() != SQLITE_DONE) {
        logger().error("MQTT flow store: {}", sqlite3_errmsg(db_));
        return false;
    }
    return sqlite3_changes(db_) == 1;
}

void MQTTFlowDatabase::deleteRow(RowId row) {
    auto guard = lock();
    if (!beginChange()) return;
    Statement statement(*this, "DELETE FROM MQTTFlow WHERE rowid = ?1 RETURNING clientId, incomingFlag");
    if (!statement) return;
    statement.bind(1, row);
    int status = statement.step();
    if (status == SQLITE_ROW) {
        const auto clientId = flow_database::textColumn(statement.get(), 0);
        const auto incomingFlag = flow_database::integerColumn(statement.get(), 1);
        if (clientId && incomingFlag) {
            adjustCount(*clientId, *incomingFlag != 0, -1);
        } else {
            counts_.clear();
        }
        status = statement.step();
    }
    if (status != SQLITE_DONE) {
        counts_.clear();
        logger().error("MQTT flow store: {}", sqlite3_errmsg(db_));
    }
}

void MQTTFlowDatabase::deleteRows(const std::string& clientId, bool incomingFlag) {
    auto guard = lock();
    if (!beginChange()) return;
    Statement statement(*this, "DELETE FROM MQTTFlow WHERE clientId = ?1 AND incomingFlag = ?2");
    if (!statement) return;
    statement.bind(1, clientId);
    statement.bind(2, std::int64_t{incomingFlag});
    if (statement.step() != SQLITE_DONE) {
        counts_.erase({clientId, incomingFlag});
        logger().error("MQTT flow store: {}", sqlite3_errmsg(db_));
        return;
    }
    counts_.insert_or_assign({clientId, incomingFlag}, 0);
}

std::optional<MQTTFlowDatabase::Record> MQTTFlowDatabase::record(RowId row) {
    auto guard = lock();
    Statement statement(*this,
                        "SELECT clientId, incomingFlag, retainedFlag, commandType, qosLevel, messageId, topic, data, "
                        "deadline FROM MQTTFlow WHERE rowid = ?1");
    if (!statement) return std::nullopt;
    statement.bind(1, row);
    if (statement.step() != SQLITE_ROW) return std::nullopt;
    auto* const raw = statement.get();
    return Record{flow_database::textColumn(raw, 0),    flow_database::integerColumn(raw, 1),
                  flow_database::integerColumn(raw, 2), flow_database::integerColumn(raw, 3),
                  flow_database::integerColumn(raw, 4), flow_database::integerColumn(raw, 5),
                  flow_database::textColumn(raw, 6),    flow_database::blobColumn(raw, 7),
                  flow_database::integerColumn(raw, 8)};
}

namespace {

std::string selectSql(MQTTFlowDatabase::Column column) {
    return std::string("SELECT ") + nameOf(column) + " FROM MQTTFlow WHERE rowid = ?1";
}

}  // namespace

std::optional<std::int64_t> MQTTFlowDatabase::integer(RowId row, Column column) {
    auto guard = lock();
    Statement statement(*this, selectSql(column));
    if (!statement) return std::nullopt;
    statement.bind(1, row);
    if (statement.step() != SQLITE_ROW || sqlite3_column_type(statement.get(), 0) != SQLITE_INTEGER) {
        return std::nullopt;
    }
    return sqlite3_column_int64(statement.get(), 0);
}

std::optional<std::string> MQTTFlowDatabase::text(RowId row, Column column) {
    auto guard = lock();
    Statement statement(*this, selectSql(column));
    if (!statement) return std::nullopt;
    statement.bind(1, row);
    if (statement.step() != SQLITE_ROW || sqlite3_column_type(statement.get(), 0) != SQLITE_TEXT) return std::nullopt;
    const auto* bytes = sqlite3_column_text(statement.get(), 0);
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement.get(), 0));
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

std::optional<std::vector<std::uint8_t>> MQTTFlowDatabase::blob(RowId row, Column column) {
    auto guard = lock();
    Statement statement(*this, selectSql(column));
    if (!statement) return std::nullopt;
    statement.bind(1, row);
    if (statement.step() != SQLITE_ROW || sqlite3_column_type(statement.get(), 0) != SQLITE_BLOB) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement.get(), 0));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement.get(), 0));
    if (bytes == nullptr) return std::vector<std::uint8_t>{};
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

template <typename Bind>
bool MQTTFlowDatabase::update(RowId row, Column column, Bind&& bind) {
    auto guard = lock();
    if (!beginChange()) return false;
    Statement statement(*this, std::string("UPDATE MQTTFlow SET ") + nameOf(column) + " = ?1 WHERE rowid = ?2");
    if (!statement) return false;
    bind(statement);
    statement.bind(2, row);
    if (statement.step() != SQLITE_DONE) {
        logger().error("MQTT flow store: {} not changed: {}", nameOf(column), sqlite3_errmsg(db_));
        return false;
    }
    // A flow moved to another client or direction: counted again when asked.
    if (column == Column::clientId || column == Column::incomingFlag) counts_.clear();
    return sqlite3_changes(db_) == 1;
}

bool MQTTFlowDatabase::setInteger(RowId row, Column column, std::optional<std::int64_t> value) {
    return update(row, column, [&](Statement& statement) {
        if (value) {
            statement.bind(1, *value);
        } else {
            statement.bindNull(1);
        }
    });
}

bool MQTTFlowDatabase::setText(RowId row, Column column, const std::optional<std::string>& value) {
    return update(row, column, [&](Statement& statement) {
        if (value) {
            statement.bind(1, *value);
        } else {
            statement.bindNull(1);
        }
    });
}

bool MQTTFlowDatabase::setBlob(RowId row, Column column, const std::optional<std::vector<std::uint8_t>>& value) {
    return update(row, column, [&](Statement& statement) {
        if (value) {
            statement.bind(1, *value);
        } else {
            statement.bindNull(1);
        }
    });
}

}  // namespace ambrell
