// Search over the sample solution's 100,000-location variant: the location
// store against a plain linear scan of the same data (the floor any index must
// beat), and its index build and text queries against SQLite FTS5 over the
// same texts (the yardstick of a ready-made full-text index). Each pair of
// arms runs in turns, one whole set of queries each a round, and every
// round's answers are checked: the scan must give the store's very answer;
// FTS5, asked for the same work, the store's locations (a ranked best few
// where the store is asked for its best few, every match in no order where
// the store answers in store order). The closing table gives, per query, the
// store's time and the other arm's and the median of the rounds' ratios; the
// closing line, the index build's ratio against FTS5's and its goal. The
// three index builds run in turns within each iteration.
//
//     search [benchmark flags] [locations.json]
//
// The build writes the variant with
//
//     python3 examples/sample-solution/generate.py --locations 100000 --out <build>/bench/sample-solution-100k
//
// and this program reads its service/sync/locations_en.json unless given
// another locations document. The document goes through the library's own
// location model (CVLocationDataset, then each location's search-engine
// record) before anything is measured. Every query is derived from that data:
// the commonest word beginnings of the names, names picked across the data,
// map windows inside the venues on floors they have, and the categories and
// types that occur together.

#include "Source/AXCommon/AXLocationService.h"
#include "Source/AXCommon/AXOrdering.h"
#include "Source/AXCommon/AXSearchText.h"
#include "bench/BenchSupport.h"
#include "data/CVLocationInternal.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace ambrell {
namespace {

constexpr double kMetresPerDegree = 111'320.0;

// The extent of one venue's locations and the floors its indoor locations stand on.
struct Venue {
    std::string key;
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;
    std::vector<int> floors;  // ascending
};

struct Solution {
    std::string path;
    std::size_t features = 0;
    // Locations whose id hashed to one an earlier location already had.
    std::size_t replaced = 0;
    std::vector<AXLocation> locations;
    std::vector<Venue> venues;  // by key
};

double metresPerDegreeOfLongitude(const Venue& venue) {
    return kMetresPerDegree * std::cos((venue.south + venue.north) / 2 * std::numbers::pi / 180.0);
}

Solution& loaded() {
    static Solution solution;
    return solution;
}

const std::vector<AXLocation>& solution() { return loaded().locations; }

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "search: %s\n", message.c_str());
    std::exit(1);
}

// Maps the document as the SDK does, outside any measurement. The store keeps
// one location per id, a later one replacing the earlier in its place; the
// records here are kept the same way, so that the scan sees what the store holds.
void load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fail("cannot read " + path);
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const auto dataset = CVLocationDataset::fromData({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    if (!dataset || !dataset->list || dataset->list->empty()) {
        fail(path + " holds no locations");
    }

    Solution& solution = loaded();
    solution.path = path;
    solution.features = dataset->list->size();
    std::unordered_map<std::int32_t, std::size_t> indexById;
    std::map<std::string, Venue> venues;
    for (const auto& location : *dataset->list) {
        AXLocation record = location->axLocation();
        const auto [found, isNew] = indexById.emplace(record.locationId, solution.locations.size());

        const auto& bounds = record.geometry.bounds;
        auto [entry, first] = venues.try_emplace(location->venue);
        Venue& extent = entry->second;
        const double west = std::min(bounds.southwest.lng, bounds.northeast.lng);
        const double east = std::max(bounds.southwest.lng, bounds.northeast.lng);
        const double south = std::min(bounds.southwest.lat, bounds.northeast.lat);
        const double north = std::max(bounds.southwest.lat, bounds.northeast.lat);
        if (first) {
            extent = {location->venue, west, south, east, north, {}};
        } else {
            extent.west = std::min(extent.west, west);
            extent.south = std::min(extent.south, south);
            extent.east = std::max(extent.east, east);
            extent.north = std::max(extent.north, north);
        }
        if (record.isIndoor) {
            extent.floors.push_back(static_cast<int>(std::round(record.altitude)));
        }

        if (isNew) {
            solution.locations.push_back(std::move(record));
        } else {
            solution.locations[found->second] = std::move(record);
            ++solution.replaced;
        }
    }
    for (auto& [key, venue] : venues) {
        std::sort(venue.floors.begin(), venue.floors.end());
        venue.floors.erase(std::unique(venue.floors.begin(), venue.floors.end()), venue.floors.end());
        if (!venue.floors.empty()) {
            solution.venues.push_back(std::move(venue));
        }
    }
    if (solution.venues.empty()) {
        fail(path + " holds no indoor locations");
    }
}

const AXLocationService& store() {
    static const AXLocationService service = [] {
        auto built = AXLocationService::create();
        built.addOrUpdateLocations(solution());
        return built;
    }();
    return service;
}

// ---------------------------------------------------------------------------
// The linear scan: the same rules, no index. Words are folded once up front,
// as any sensible scan would, so it is measured at its best.

struct ScannedText {
    std::string word;
    std::uint32_t weight;
};

struct ScannedLocation {
    std::vector<ScannedText> words;
    // Each name's words joined by one space.
    std::vector<std::string> wholeNames;
};

std::uint32_t weightOf(const std::string& foldedKey) {
    return foldedKey == "name" ? 4 : foldedKey == "aliases" ? 3 : foldedKey == "externalid" ? 2 : 1;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) {
        text += text.empty() ? word : " " + word;
    }
    return text;
}

std::vector<ScannedLocation> prepareScan(const std::vector<AXLocation>& locations) {
    std::vector<ScannedLocation> scanned;
    scanned.reserve(locations.size());
    for (const auto& location : locations) {
        ScannedLocation entry;
        for (const auto& property : location.properties) {
            const std::string key = axsearch::foldedKey(property.key);
            const auto words = axsearch::searchTokens(property.value);
            for (const auto& word : words) {
                entry.words.push_back({word, weightOf(key)});
            }
            if (key == "name" && !words.empty()) {
                entry.wholeNames.push_back(joined(words));
            }
        }
        for (const auto& alias : location.aliases) {
            for (const auto& word : axsearch::searchTokens(alias)) {
                entry.words.push_back({word, 3});
            }
        }
        scanned.push_back(std::move(entry));
    }
    return scanned;
}

const std::vector<ScannedLocation>& scanData() {
    static const auto data = prepareScan(solution());
    return data;
}

bool visibleStatus(std::uint32_t status) { return (status & 1) != 0 && (status & 4) == 0 && (status & 2) != 0; }

std::vector<std::int32_t> scanText(const std::string& text) {
    const auto& locations = solution();
    const auto& scanned = scanData();
    const auto queryWords = axsearch::searchTokens(text);
    const std::string wholeQuery = joined(queryWords);
    struct Hit {
        std::uint32_t score;
        std::size_t index;
    };
    std::vector<Hit> hits;
    for (std::size_t i = 0; i < locations.size(); ++i) {
        if (!visibleStatus(locations[i].status)) {
            continue;
        }
        std::uint32_t score = 0;
        bool all = true;
        for (const auto& query : queryWords) {
            std::uint32_t best = 0;
            for (const auto& [word, weight] : scanned[i].words) {
                if (word.starts_with(query)) {
                    best = std::max(best, weight * (word.size() == query.size() ? 2u : 1u));
                }
            }
            if (best == 0) {
                all = false;
                break;
            }
            score += best;
        }
        if (all) {
            const auto& names = scanned[i].wholeNames;
            const bool wholeName = std::find(names.begin(), names.end(), wholeQuery) != names.end();
            hits.push_back({score + (wholeName ? 8u : 0u), i});
        }
    }
    std::sort(hits.begin(), hits.end(),
              [](const Hit& a, const Hit& b) { return a.score != b.score ? a.score > b.score : a.index < b.index; });
    std::vector<std::int32_t> ids;
    ids.reserve(hits.size());
    for (const auto& hit : hits) {
        ids.push_back(locations[hit.index].locationId);
    }
    return ids;
}

std::vector<std::int32_t> scanFilter(const AXFilter& filter) {
    std::vector<std::int32_t> ids;
    for (const auto& location : solution()) {
        if (!visibleStatus(location.status | (filter.ignoreSearchableStatus ? 2u : 0u))) {
            continue;
        }
        if (filter.floor && location.isIndoor && std::round(location.altitude) != *filter.floor) {
            continue;
        }
        if (filter.groups && std::none_of(location.groups.begin(), location.groups.end(), [&](std::int32_t g) {
                return std::find(filter.groups->begin(), filter.groups->end(), g) != filter.groups->end();
            })) {
            continue;
        }
        if (filter.typeIds &&
            std::find(filter.typeIds->begin(), filter.typeIds->end(), location.typeId) == filter.typeIds->end()) {
            continue;
        }
        if (filter.bounds) {
            // Either corner order is a box; touching counts.
            const auto& b = location.geometry.bounds;
            const auto& f = *filter.bounds;
            if (std::min(b.southwest.lng, b.northeast.lng) > std::max(f.southwest.lng, f.northeast.lng) ||
                std::min(f.southwest.lng, f.northeast.lng) > std::max(b.southwest.lng, b.northeast.lng) ||
                std::min(b.southwest.lat, b.northeast.lat) > std::max(f.southwest.lat, f.northeast.lat) ||
                std::min(f.southwest.lat, f.northeast.lat) > std::max(b.southwest.lat, b.northeast.lat)) {
                continue;
            }
        }
        ids.push_back(location.locationId);
    }
    return ids;
}

// ---------------------------------------------------------------------------
// The queries, derived from the data and each set asked whole so that no
// single answer is measured.

const std::string* nameOf(const AXLocation& location) {
    for (const auto& property : location.properties) {
        if (axsearch::foldedKey(property.key) == "name") {
            return &property.value;
        }
    }
    return nullptr;
}

// The first `count` characters of a folded word, whole UTF-8 sequences only.
std::string firstCharacters(const std::string& word, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t characters = 0; end < word.size() && characters < count; ++characters) {
        ++end;
        while (end < word.size() && (static_cast<unsigned char>(word[end]) & 0xC0) == 0x80) {
            ++end;
        }
    }
    return word.substr(0, end);
}

// What a person starts typing for a name: each name word's first three
// characters (the whole word when shorter), counted once per location that a
// search can find. The commonest beginning of each initial letter, for the
// ten initials whose commonest beginning is commonest. Words that start with
// a digit are left out: they begin room numbers, which people type whole (the
// exact queries cover those).
const std::vector<std::string>& prefixQueries() {
    static const std::vector<std::string> prefixes = [] {
        std::map<std::string, std::size_t> counts;
        for (const auto& location : solution()) {
            const std::string* name = nameOf(location);
            if (name == nullptr || !visibleStatus(location.status)) {
                continue;
            }
            std::vector<std::string> beginnings;
            for (const auto& word : axsearch::searchTokens(*name)) {
                if (word[0] >= 'a' && word[0] <= 'z') {
                    beginnings.push_back(firstCharacters(word, 3));
                }
            }
            std::sort(beginnings.begin(), beginnings.end());
            beginnings.erase(std::unique(beginnings.begin(), beginnings.end()), beginnings.end());
            for (const auto& beginning : beginnings) {
                ++counts[beginning];
            }
        }
        std::vector<std::pair<std::string, std::size_t>> ranked(counts.begin(), counts.end());
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        std::vector<std::string> picked;
        std::string initials;
        for (const auto& [beginning, count] : ranked) {
            if (picked.size() < 10 && initials.find(beginning[0]) == std::string::npos) {
                initials += beginning[0];
                picked.push_back(beginning);
            }
        }
        if (picked.empty()) {
            fail("no name in " + loaded().path + " starts with a letter");
        }
        return picked;
    }();
    return prefixes;
}

// Whole names, spread evenly over the data.
const std::vector<std::string>& exactQueries() {
    static const std::vector<std::string> names = [] {
        const auto& locations = solution();
        std::vector<std::string> picked;
        for (std::size_t i = 0; i < 32; ++i) {
            const std::string* name = nameOf(locations[i * locations.size() / 32]);
            if (name != nullptr && !axsearch::searchTokens(*name).empty()) {
                picked.push_back(*name);
            }
        }
        if (picked.empty()) {
            fail("the locations of " + loaded().path + " have no names");
        }
        return picked;
    }();
    return names;
}

// A visible map region of about 150 m x 150 m on one floor, as a render asks:
// placed inside a venue's extent (centred on it where the venue is smaller),
// on a floor the venue has.
std::vector<AXFilter> boundsFilters() {
    std::vector<AXFilter> filters;
    const auto& venues = loaded().venues;
    for (int i = 0; i < 16; ++i) {
        const Venue& venue = venues[static_cast<std::size_t>(i) % venues.size()];
        const double height = 150.0 / kMetresPerDegree;
        const double width = 150.0 / metresPerDegreeOfLongitude(venue);
        // Steps of irrational fractions spread the windows over the extent without a random generator.
        const double alongX = std::fmod(i * 0.6180339887, 1.0);
        const double alongY = std::fmod(i * 0.4142135624, 1.0);
        const double spareX = venue.east - venue.west - width;
        const double spareY = venue.north - venue.south - height;
        const double west = spareX > 0 ? venue.west + alongX * spareX : venue.west + spareX / 2;
        const double south = spareY > 0 ? venue.south + alongY * spareY : venue.south + spareY / 2;
        AXFilter filter;
        filter.bounds = AXCoordinateBounds{{south + height, west + width}, {south, west}};
        const std::size_t round = static_cast<std::size_t>(i) / venues.size();
        filter.floor = venue.floors[round % venue.floors.size()];
        filter.ignoreSearchableStatus = true;
        filters.push_back(filter);
    }
    return filters;
}

// A category menu: one group with a type or two, on one floor, from the
// combinations of group, type and floor that occur, commonest first.
std::vector<AXFilter> categoryFilters() {
    std::map<std::tuple<std::int32_t, std::int32_t, int>, std::size_t> counts;
    for (const auto& location : solution()) {
        for (const auto group : location.groups) {
            ++counts[{group, location.typeId, static_cast<int>(std::round(location.altitude))}];
        }
    }
    if (counts.empty()) {
        fail("no location of " + loaded().path + " is in a category");
    }
    std::vector<std::pair<std::tuple<std::int32_t, std::int32_t, int>, std::size_t>> ranked(counts.begin(),
                                                                                            counts.end());
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<AXFilter> filters;
    for (std::size_t i = 0; i < 15; ++i) {
        const auto& [group, typeId, floor] = ranked[i % ranked.size()].first;
        const std::int32_t otherType = std::get<1>(ranked[(i + 7) % ranked.size()].first);
        AXFilter filter;
        filter.groups = std::vector<std::int32_t>{group};
        filter.typeIds =
            otherType == typeId ? std::vector<std::int32_t>{typeId} : std::vector<std::int32_t>{typeId, otherType};
        filter.floor = floor;
        filters.push_back(filter);
    }
    return filters;
}

void checkScanAgreesWithStore() {
    for (const auto& texts : {prefixQueries(), exactQueries()}) {
        for (const auto& text : texts) {
            if (store().locationIdsForQuery({.text = text}, {}) != scanText(text)) {
                std::fprintf(stderr, "scan and store disagree on \"%s\"\n", text.c_str());
                std::abort();
            }
        }
    }
    for (const auto& filters : {boundsFilters(), categoryFilters()}) {
        for (const auto& filter : filters) {
            if (store().locationIdsForQuery({}, filter) != scanFilter(filter)) {
                std::fprintf(stderr, "scan and store disagree on a filter\n");
                std::abort();
            }
        }
    }
}

// ---------------------------------------------------------------------------
// SQLite FTS5 over the same texts: the yardstick for the index build and the
// text queries. One row per location a search can find, its texts in columns
// weighed as the store weighs them (name, aliases, external id, the rest);
// every query word is a prefix, as it is for the store. The hidden locations
// are left out, as a user of FTS5 keeps them out of a text index: a filter on
// a stored column would have SQLite read the row of every match, and a
// visibility token in the match would add to every query a list of nearly
// every row. The store holds the hidden ones too (a map window shows
// locations a search cannot find), so its build indexes a few more. The query
// words are the store's own folded tokens, so that both engines are asked for
// the same words and any difference in the answers lies in the index.
//
// Each engine is asked for the same work: the best few ranked (the store
// with a take, FTS5 by bm25 with a limit), or every match in no particular
// order (the store in store order, FTS5 in rowid order).

// The answers of a ranked text query a search list shows first.
constexpr std::uint32_t kTopAnswers = 20;

struct FtsRow {
    std::int64_t id = 0;
    std::string name;
    std::string aliases;
    std::string externalId;
    std::string other;
};

void appendFtsText(std::string& column, const std::string& text) {
    // A line break separates two values the way a space would, for unicode61.
    column += column.empty() ? text : "\n" + text;
}

// Sorting the texts into columns is not indexing, so it is done once here and
// the build is measured from these rows. They go in in rowid order, as a bulk
// load into FTS5 should: rows in random rowid order make it flush its pending
// index again and again, which slows its build and leaves its index in many
// segments that every query then reads.
std::vector<FtsRow> prepareFtsRows(const std::vector<AXLocation>& locations) {
    std::vector<FtsRow> rows;
    rows.reserve(locations.size());
    for (const auto& location : locations) {
        if (!visibleStatus(location.status)) {
            continue;
        }
        FtsRow row;
        row.id = location.locationId;
        for (const auto& property : location.properties) {
            const std::string key = axsearch::foldedKey(property.key);
            appendFtsText(key == "name"         ? row.name
                          : key == "aliases"    ? row.aliases
                          : key == "externalid" ? row.externalId
                                                : row.other,
                          property.value);
        }
        for (const auto& alias : location.aliases) {
            appendFtsText(row.aliases, alias);
        }
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end(), [](const FtsRow& a, const FtsRow& b) { return a.id < b.id; });
    return rows;
}

const std::vector<FtsRow>& ftsRows() {
    static const auto rows = prepareFtsRows(solution());
    return rows;
}

// An in-memory database holding one FTS5 table, and its text queries.
class FtsIndex {
public:
    FtsIndex() {
        if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            failed("cannot open an in-memory database");
        }
        execute(
            "CREATE VIRTUAL TABLE places USING fts5(name, aliases, externalid, other, "
            "tokenize = 'unicode61 remove_diacritics 2')");
    }

    ~FtsIndex() {
        sqlite3_finalize(all_);
        sqlite3_finalize(top_);
        sqlite3_close_v2(db_);
    }

    explicit FtsIndex(const std::vector<FtsRow>& rows) : FtsIndex() { add(rows); }

    FtsIndex(const FtsIndex&) = delete;
    FtsIndex& operator=(const FtsIndex&) = delete;

    void add(const std::vector<FtsRow>& rows) {
        sqlite3_stmt* insert = nullptr;
        const char* sql = "INSERT INTO places(rowid, name, aliases, externalid, other) VALUES (?, ?, ?, ?, ?)";
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &insert, nullptr) != SQLITE_OK) {
            failed("cannot prepare the insert");
        }
        execute("BEGIN");
        for (const auto& row : rows) {
            sqlite3_bind_int64(insert, 1, row.id);
            bindText(insert, 2, row.name);
            bindText(insert, 3, row.aliases);
            bindText(insert, 4, row.externalId);
            bindText(insert, 5, row.other);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                sqlite3_finalize(insert);
                failed("cannot insert location " + std::to_string(row.id));
            }
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        execute("COMMIT");
    }

    // The rows the index holds.
    std::size_t rowCount() {
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM places", -1, &count, nullptr) != SQLITE_OK ||
            sqlite3_step(count) != SQLITE_ROW) {
            sqlite3_finalize(count);
            failed("cannot count the rows");
        }
        const auto rows = static_cast<std::size_t>(sqlite3_column_int64(count, 0));
        sqlite3_finalize(count);
        return rows;
    }

    // The ids of every row that matches, in rowid order.
    std::vector<std::int32_t> matchAll(const std::string& expression) {
        return run(all_, "SELECT rowid FROM places WHERE places MATCH ?1", expression, 0);
    }

    // The ids of the best `limit` rows that match, best first.
    std::vector<std::int32_t> matchTop(const std::string& expression, std::uint32_t limit) {
        return run(top_,
                   "SELECT rowid FROM places WHERE places MATCH ?1 "
                   "ORDER BY bm25(places, 4.0, 3.0, 2.0, 1.0) LIMIT ?2",
                   expression, limit);
    }

private:
    std::vector<std::int32_t> run(sqlite3_stmt*& statement, const char* sql, const std::string& expression,
                                  std::uint32_t limit) {
        if (statement == nullptr &&
            sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
            failed("cannot prepare the query");
        }
        bindText(statement, 1, expression);
        if (limit > 0) {
            sqlite3_bind_int64(statement, 2, limit);
        }
        std::vector<std::int32_t> ids;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            ids.push_back(static_cast<std::int32_t>(sqlite3_column_int64(statement, 0)));
        }
        sqlite3_reset(statement);
        if (step != SQLITE_DONE) {
            failed("cannot query " + expression);
        }
        return ids;
    }

    static void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
        sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
    }

    void execute(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            failed(sql);
        }
    }

    [[noreturn]] void failed(const std::string& what) const {
        fail("SQLite: " + what + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* all_ = nullptr;
    sqlite3_stmt* top_ = nullptr;
};

FtsIndex& ftsIndex() {
    static FtsIndex index{ftsRows()};
    return index;
}

// Each query word quoted (a quote in it doubled) and marked as a prefix; FTS5
// ands the words.
std::string ftsExpression(const std::string& text) {
    std::string expression;
    for (const auto& word : axsearch::searchTokens(text)) {
        expression += expression.empty() ? "\"" : " \"";
        for (const char c : word) {
            expression += c;
            if (c == '"') {
                expression += '"';
            }
        }
        expression += "\"*";
    }
    return expression;
}

std::vector<std::int32_t> sorted(std::vector<std::int32_t> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The store's ranked answer, the first `take` of it.
std::vector<std::int32_t> storeRanked(const std::string& text, std::uint32_t take) {
    AXFilter filter;
    filter.take = take;
    return store().locationIdsForQuery({.text = text}, filter);
}

// The store's answer in store order: no text ranking, and with no point to
// be near, no distance either.
std::vector<std::int32_t> storeUnordered(const std::string& text) {
    return store().locationIdsForQuery({.text = text, .ordering = AXOrdering::distance}, {});
}

// A set of text queries as both engines are asked it. Only the queries that
// FTS5 answers with the store's very locations are compared: for the others
// the two indexes tokenise differently, and their times would be of
// different work. The rest are listed with both counts.
struct TextQueries {
    std::vector<std::string> texts;
    std::vector<std::string> expressions;
    // Each text's matching locations, sorted by id: what both engines give.
    std::vector<std::vector<std::int32_t>> matches;
    struct Differing {
        std::string text;
        std::size_t store = 0;
        std::size_t fts = 0;
    };
    std::vector<Differing> differing;
};

TextQueries agreedQueries(const std::vector<std::string>& texts) {
    TextQueries queries;
    for (const auto& text : texts) {
        auto storeIds = sorted(storeUnordered(text));
        const std::string expression = ftsExpression(text);
        const auto ftsIds = sorted(ftsIndex().matchAll(expression));
        if (storeIds != ftsIds) {
            queries.differing.push_back({text, storeIds.size(), ftsIds.size()});
            continue;
        }
        queries.texts.push_back(text);
        queries.expressions.push_back(expression);
        queries.matches.push_back(std::move(storeIds));
    }
    return queries;
}

const TextQueries& agreedPrefixQueries() {
    static const auto queries = agreedQueries(prefixQueries());
    return queries;
}

const TextQueries& agreedExactQueries() {
    static const auto queries = agreedQueries(exactQueries());
    return queries;
}

// What the queries are, so that a reader can judge the times.
void describeData() {
    const Solution& data = loaded();
    std::printf("document: %s\n", data.path.c_str());
    std::printf("locations: %zu features, %zu records in the store", data.features, store().count());
    if (data.replaced > 0) {
        std::printf(" (%zu ids hashed to one an earlier location had: the store kept the later)", data.replaced);
    }
    // The table below gives the mean over all prefixes; these are each one's.
    std::printf("\nprefix queries (answers; the store's ranked answer, mean time of 10 runs):");
    for (const auto& text : prefixQueries()) {
        std::size_t answers = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int run = 0; run < 10; ++run) {
            answers = store().locationIdsForQuery({.text = text}, {}).size();
        }
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("\n  %-6s %7zu answers %9.3f ms", text.c_str(), answers, elapsed.count() / 10);
    }
    std::printf("\nexact queries: %zu names, such as \"%s\"\n", exactQueries().size(), exactQueries().back().c_str());
    std::printf("FTS5 indexes the %zu locations a search can find\n", ftsRows().size());
    for (const auto* set : {&agreedPrefixQueries(), &agreedExactQueries()}) {
        const bool prefixes = set == &agreedPrefixQueries();
        std::printf("FTS5 finds the store's locations for %zu of the %zu %s queries\n", set->texts.size(),
                    set->texts.size() + set->differing.size(), prefixes ? "prefix" : "exact");
        for (const auto& differing : set->differing) {
            std::printf("  \"%s\": store %zu answers, FTS5 %zu: left out of the comparison with FTS5\n",
                        differing.text.c_str(), differing.store, differing.fts);
        }
    }
    for (const auto& venue : data.venues) {
        std::printf("venue %s: %.0f m x %.0f m, floors %d to %d\n", venue.key.c_str(),
                    (venue.east - venue.west) * metresPerDegreeOfLongitude(venue),
                    (venue.north - venue.south) * kMetresPerDegree, venue.floors.front(), venue.floors.back());
    }
    std::printf("\n");
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Each comparison runs its two arms in turns, the store first in one round
// and second in the next, each arm asking the whole set of queries once a
// round, so that the mean weighs each query alike. Every round's answers are
// checked, outside the timing, against what both arms must give (the scan's,
// the very answers the store gave before anything was measured, which the
// scan was found to give too); the closing table gives the median of the
// rounds' ratios, kept over every repetition.

using Answers = std::vector<std::vector<std::int32_t>>;

struct Comparison {
    std::string operation;
    std::string other;  // the arm set against the store
    std::size_t queries = 0;
    bench::ArmsInTurns arms;  // the store first
};

// In the order they first ran.
std::vector<std::unique_ptr<Comparison>>& comparisons() {
    static std::vector<std::unique_ptr<Comparison>> all;
    return all;
}

Comparison& comparison(const std::string& operation, const std::string& other, std::size_t queries) {
    auto& all = comparisons();
    for (const auto& known : all) {
        if (known->operation == operation) {
            return *known;
        }
    }
    all.push_back(std::make_unique<Comparison>(Comparison{operation, other, queries, {}}));
    return *all.back();
}

// An empty text when every answer of an arm's round is as it should be;
// else what is wrong.
using Check = std::function<std::string(const Answers& answers)>;

// Each arm checks its round's answers before letting them go: the check is
// left out of its time, the letting go is not.
template <class Store, class Other>
void compareInTurns(benchmark::State& state, Comparison& comparison, Store askStore, Other askOther,
                    const Check& check) {
    const std::size_t queries = comparison.queries;
    std::string fault;
    const auto arm = [&](auto ask) {
        return bench::secondsToMake(
            [&] {
                Answers answers;
                answers.reserve(queries);
                for (std::size_t i = 0; i < queries; ++i) {
                    answers.push_back(ask(i));
                }
                return answers;
            },
            [&](const Answers& answers) {
                if (std::string wrong = check(answers); !wrong.empty() && fault.empty()) {
                    fault = std::move(wrong);
                }
            });
    };
    bench::ArmsInTurns repetition;
    for (auto _ : state) {
        repetition.runBothTimed([&] { return arm(askStore); }, [&] { return arm(askOther); });
        if (!comparison.arms.keepRound(repetition, fault)) {
            state.SkipWithError(comparison.arms.fault.c_str());
            return;
        }
    }
    const auto perQuery = [&](const std::vector<double>& seconds) {
        return bench::medianOf(seconds) * 1e6 / static_cast<double>(queries);
    };
    state.counters["queries"] = static_cast<double>(queries);
    state.counters["store us/query"] = perQuery(repetition.firstSeconds);
    state.counters[comparison.other + " us/query"] = perQuery(repetition.secondSeconds);
    state.counters[comparison.other + " / store"] = repetition.medianInverseRatio();
}

// The very answers given, which the scan and the store were found to agree
// on before anything was measured.
Check sameAnswers(const Answers& expected) {
    return [&expected](const Answers& answers) -> std::string {
        for (std::size_t i = 0; i < answers.size(); ++i) {
            if (answers[i] != expected[i]) {
                return "query " + std::to_string(i) + ": the answers differ";
            }
        }
        return {};
    };
}

// The same locations both engines match, in whatever order.
Check sameLocations(const TextQueries& queries) {
    return [&queries](const Answers& answers) -> std::string {
        for (std::size_t i = 0; i < answers.size(); ++i) {
            if (sorted(answers[i]) != queries.matches[i]) {
                return "\"" + queries.texts[i] + "\": the locations differ";
            }
        }
        return {};
    };
}

// As many as were asked for (or every match when fewer), all of them
// matches: which of equally good matches comes first is each ranking's own.
Check bestMatches(const TextQueries& queries) {
    return [&queries](const Answers& answers) -> std::string {
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const auto& matches = queries.matches[i];
            const std::size_t expected = std::min<std::size_t>(kTopAnswers, matches.size());
            const auto ids = sorted(answers[i]);
            const bool allMatch = std::all_of(ids.begin(), ids.end(), [&](std::int32_t id) {
                return std::binary_search(matches.begin(), matches.end(), id);
            });
            if (ids.size() != expected || !allMatch || std::adjacent_find(ids.begin(), ids.end()) != ids.end()) {
                return "\"" + queries.texts[i] + "\": not the best " + std::to_string(expected) + " matches";
            }
        }
        return {};
    };
}

// The store's answers to a set of queries, asked once before the timing.
template <class Queries, class Ask>
Answers storeAnswers(const Queries& queries, Ask ask) {
    Answers answers;
    for (const auto& query : queries) {
        answers.push_back(ask(query));
    }
    return answers;
}

void compareTextWithScan(benchmark::State& state, const std::string& operation, const std::vector<std::string>& texts,
                         const Answers& expected) {
    compareInTurns(
        state, comparison(operation, "scan", texts.size()),
        [&](std::size_t i) { return store().locationIdsForQuery({.text = texts[i]}, {}); },
        [&](std::size_t i) { return scanText(texts[i]); }, sameAnswers(expected));
}

void compareFilterWithScan(benchmark::State& state, const std::string& operation, const std::vector<AXFilter>& filters,
                           const Answers& expected) {
    compareInTurns(
        state, comparison(operation, "scan", filters.size()),
        [&](std::size_t i) { return store().locationIdsForQuery({}, filters[i]); },
        [&](std::size_t i) { return scanFilter(filters[i]); }, sameAnswers(expected));
}

void compareTopWithFts(benchmark::State& state, const std::string& operation, const TextQueries& queries) {
    compareInTurns(
        state, comparison(operation, "FTS5", queries.texts.size()),
        [&](std::size_t i) { return storeRanked(queries.texts[i], kTopAnswers); },
        [&](std::size_t i) { return ftsIndex().matchTop(queries.expressions[i], kTopAnswers); }, bestMatches(queries));
}

void compareUnorderedWithFts(benchmark::State& state, const std::string& operation, const TextQueries& queries) {
    compareInTurns(
        state, comparison(operation, "FTS5", queries.texts.size()),
        [&](std::size_t i) { return storeUnordered(queries.texts[i]); },
        [&](std::size_t i) { return ftsIndex().matchAll(queries.expressions[i]); }, sameLocations(queries));
}

const std::string kPrefixRanked = "prefix, every answer ranked";
const std::string kPrefixTop = "prefix, best " + std::to_string(kTopAnswers);
const std::string kPrefixUnordered = "prefix, unordered";
const std::string kExactRanked = "exact, every answer ranked";
const std::string kExactTop = "exact, best " + std::to_string(kTopAnswers);
const std::string kExactUnordered = "exact, unordered";

// The store's every answer ranked, and its answers to filters.
Answers rankedAnswers(const std::vector<std::string>& texts) {
    return storeAnswers(texts, [](const std::string& text) { return store().locationIdsForQuery({.text = text}, {}); });
}

Answers filterAnswers(const std::vector<AXFilter>& filters) {
    return storeAnswers(filters, [](const AXFilter& filter) { return store().locationIdsForQuery({}, filter); });
}

void PrefixQuery_scan(benchmark::State& state) {
    static const Answers expected = rankedAnswers(prefixQueries());
    compareTextWithScan(state, kPrefixRanked, prefixQueries(), expected);
}
void PrefixQuery_fts5Top(benchmark::State& state) { compareTopWithFts(state, kPrefixTop, agreedPrefixQueries()); }
void PrefixQuery_fts5Unordered(benchmark::State& state) {
    compareUnorderedWithFts(state, kPrefixUnordered, agreedPrefixQueries());
}
void ExactQuery_scan(benchmark::State& state) {
    static const Answers expected = rankedAnswers(exactQueries());
    compareTextWithScan(state, kExactRanked, exactQueries(), expected);
}
void ExactQuery_fts5Top(benchmark::State& state) { compareTopWithFts(state, kExactTop, agreedExactQueries()); }
void ExactQuery_fts5Unordered(benchmark::State& state) {
    compareUnorderedWithFts(state, kExactUnordered, agreedExactQueries());
}
void BoundsQuery_scan(benchmark::State& state) {
    static const auto filters = boundsFilters();
    static const Answers expected = filterAnswers(filters);
    compareFilterWithScan(state, "map window", filters, expected);
}
void FilterOnlyQuery_scan(benchmark::State& state) {
    static const auto filters = categoryFilters();
    static const Answers expected = filterAnswers(filters);
    compareFilterWithScan(state, "category menu", filters, expected);
}

// The three index builds, over every repetition: the store's, the scan's
// preparation and FTS5's.
struct BuildTimes {
    std::vector<double> store;
    std::vector<double> scan;
    std::vector<double> fts;
    std::string fault;
};

BuildTimes& buildTimes() {
    static BuildTimes times;
    return times;
}

// The three builds in turns within each iteration, the one that goes first
// changing from iteration to iteration, so that a load that comes and goes on
// the machine weighs on all alike. Each build is checked to hold every record
// it was given (FTS5 the searchable ones) before it is let go of: the check
// is left out of its time, the letting go is not.
void IndexBuild_inTurns(benchmark::State& state) {
    const auto& locations = solution();
    const auto& rows = ftsRows();
    BuildTimes& times = buildTimes();
    std::size_t turn = 0;
    for (auto _ : state) {
        bool sound = true;
        double seconds[3] = {};
        for (std::size_t step = 0; step < 3; ++step) {
            const std::size_t arm = (turn + step) % 3;
            if (arm == 0) {
                seconds[0] = bench::secondsToMake(
                    [&] {
                        auto service = AXLocationService::create();
                        service.addOrUpdateLocations(locations);
                        return service;
                    },
                    [&](const AXLocationService& service) { sound = service.count() == store().count() && sound; });
            } else if (arm == 1) {
                seconds[1] = bench::secondsToMake([&] { return prepareScan(locations); },
                                                  [&](const std::vector<ScannedLocation>& scanned) {
                                                      sound = scanned.size() == locations.size() && sound;
                                                  });
            } else {
                seconds[2] = bench::secondsToMake(
                    [&] { return std::make_unique<FtsIndex>(rows); },
                    [&](const std::unique_ptr<FtsIndex>& index) { sound = index->rowCount() == rows.size() && sound; });
            }
        }
        ++turn;
        if (!sound) {
            times.fault = "an index does not hold every record";
            state.SkipWithError(times.fault.c_str());
            return;
        }
        times.store.push_back(seconds[0]);
        times.scan.push_back(seconds[1]);
        times.fts.push_back(seconds[2]);
    }
    state.counters["store ms"] = bench::medianOf(times.store) * 1e3;
    state.counters["scan ms"] = bench::medianOf(times.scan) * 1e3;
    state.counters["fts5 ms"] = bench::medianOf(times.fts) * 1e3;
    state.counters["store / fts5"] = bench::medianOfRatios(times.store, times.fts);
}

BENCHMARK(IndexBuild_inTurns)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(PrefixQuery_scan)->Unit(benchmark::kMillisecond);
BENCHMARK(PrefixQuery_fts5Top)->Unit(benchmark::kMillisecond);
BENCHMARK(PrefixQuery_fts5Unordered)->Unit(benchmark::kMillisecond);
BENCHMARK(ExactQuery_scan)->Unit(benchmark::kMillisecond);
BENCHMARK(ExactQuery_fts5Top)->Unit(benchmark::kMillisecond);
BENCHMARK(ExactQuery_fts5Unordered)->Unit(benchmark::kMillisecond);
BENCHMARK(BoundsQuery_scan)->Unit(benchmark::kMillisecond);
BENCHMARK(FilterOnlyQuery_scan)->Unit(benchmark::kMillisecond);

// After the usual table: for each comparison, the store's time per query
// beside the other arm's and the median of the rounds' ratios, other arm over
// store, over every repetition's rounds; last the index build's ratio against
// FTS5 and its goal.
void printClosingFigures() {
    std::printf("\n%-28s %7s %12s %-6s %12s %14s\n", "operation", "queries", "store (us)", "arm", "arm (us)",
                "arm / store");
    std::printf("(per query, medians of the rounds in turns; the ratio the median of the rounds' ratios)\n");
    for (const auto& compared : comparisons()) {
        const auto& arms = compared->arms;
        if (arms.failed()) {
            std::printf("%-28s no figures, the answers were wrong: %s\n", compared->operation.c_str(),
                        arms.fault.c_str());
            continue;
        }
        if (arms.rounds() == 0 || compared->queries == 0) {
            continue;
        }
        const double queries = static_cast<double>(compared->queries);
        std::printf("%-28s %7zu %12.1f %-6s %12.1f %14.2f\n", compared->operation.c_str(), compared->queries,
                    bench::medianOf(arms.firstSeconds) * 1e6 / queries, compared->other.c_str(),
                    bench::medianOf(arms.secondSeconds) * 1e6 / queries, arms.medianInverseRatio());
    }
    const BuildTimes& build = buildTimes();
    if (!build.fault.empty()) {
        std::printf("\nindex build: no ratio, a round went wrong: %s\n", build.fault.c_str());
    } else if (!build.store.empty()) {
        std::printf(
            "\nindex build, in turns, medians: store %.1f ms, linear scan's preparation %.1f ms, FTS5 %.1f ms; "
            "store / FTS5 %.2f (median of %zu rounds' ratios; goal <= 1: no slower than FTS5)\n",
            bench::medianOf(build.store) * 1e3, bench::medianOf(build.scan) * 1e3, bench::medianOf(build.fts) * 1e3,
            bench::medianOfRatios(build.store, build.fts), build.store.size());
    }
}

}  // namespace
}  // namespace ambrell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [locations.json]\n", argv[0]);
        return 2;
    }
    ambrell::load(argc == 2 ? argv[1] : AMBRELL_SEARCH_DOCUMENT);
    ambrell::checkScanAgreesWithStore();
    ambrell::describeData();
    benchmark::RunSpecifiedBenchmarks();
    ambrell::printClosingFigures();
    benchmark::Shutdown();
    return 0;
}
