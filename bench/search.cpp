// Search over the sample solution's 100,000-location variant: the location
// store against a plain linear scan of the same data (the floor any index must
// beat), and its index build and text queries against SQLite FTS5 over the
// same texts (the yardstick of a ready-made full-text index). Each iteration
// asks a whole set of queries once and the figures are given per query; the
// closing table gives the scan's and FTS5's times divided by the store's, and
// whether FTS5 answered each text query with as many locations as the store;
// the closing line, the index build's ratio against FTS5's and its goal. The
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
#include <iterator>
#include <map>
#include <numbers>
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
// text queries. One row per record, its texts in columns weighed as the store
// weighs them (name, aliases, external id, the rest); every query word is a
// prefix, as it is for the store, and the answers are ranked by bm25. A column
// FTS5 does not tokenise keeps the hidden locations out, as the store does.
// The query words are the store's own folded tokens, so that both engines are
// asked for the same words and any difference in the answers lies in the index.

struct FtsRow {
    std::int64_t id = 0;
    std::string name;
    std::string aliases;
    std::string externalId;
    std::string other;
    bool visible = false;
};

void appendFtsText(std::string& column, const std::string& text) {
    // A line break separates two values the way a space would, for unicode61.
    column += column.empty() ? text : "\n" + text;
}

// Sorting the texts into columns is not indexing, so it is done once here and
// the build is measured from these rows.
std::vector<FtsRow> prepareFtsRows(const std::vector<AXLocation>& locations) {
    std::vector<FtsRow> rows;
    rows.reserve(locations.size());
    for (const auto& location : locations) {
        FtsRow row;
        row.id = location.locationId;
        row.visible = visibleStatus(location.status);
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
    return rows;
}

const std::vector<FtsRow>& ftsRows() {
    static const auto rows = prepareFtsRows(solution());
    return rows;
}

// An in-memory database holding one FTS5 table, and its ranked text query.
class FtsIndex {
public:
    FtsIndex() {
        if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            failed("cannot open an in-memory database");
        }
        execute(
            "CREATE VIRTUAL TABLE places USING fts5(name, aliases, externalid, other, visible UNINDEXED, "
            "tokenize = 'unicode61 remove_diacritics 2')");
    }

    ~FtsIndex() {
        sqlite3_finalize(query_);
        sqlite3_close_v2(db_);
    }

    explicit FtsIndex(const std::vector<FtsRow>& rows) : FtsIndex() { add(rows); }

    FtsIndex(const FtsIndex&) = delete;
    FtsIndex& operator=(const FtsIndex&) = delete;

    void add(const std::vector<FtsRow>& rows) {
        sqlite3_stmt* insert = nullptr;
        const char* sql =
            "INSERT INTO places(rowid, name, aliases, externalid, other, visible) VALUES (?, ?, ?, ?, ?, ?)";
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
            sqlite3_bind_int(insert, 6, row.visible ? 1 : 0);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                sqlite3_finalize(insert);
                failed("cannot insert location " + std::to_string(row.id));
            }
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        execute("COMMIT");
    }

    // The ids of the visible rows that match, best first.
    std::vector<std::int32_t> match(const std::string& expression) {
        if (query_ == nullptr) {
            const char* sql =
                "SELECT rowid FROM places WHERE places MATCH ?1 AND visible = 1 "
                "ORDER BY bm25(places, 4.0, 3.0, 2.0, 1.0)";
            if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &query_, nullptr) != SQLITE_OK) {
                failed("cannot prepare the query");
            }
        }
        bindText(query_, 1, expression);
        std::vector<std::int32_t> ids;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(query_)) == SQLITE_ROW) {
            ids.push_back(static_cast<std::int32_t>(sqlite3_column_int64(query_, 0)));
        }
        sqlite3_reset(query_);
        if (step != SQLITE_DONE) {
            failed("cannot query " + expression);
        }
        return ids;
    }

private:
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
    sqlite3_stmt* query_ = nullptr;
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

std::vector<std::string> ftsExpressions(const std::vector<std::string>& texts) {
    std::vector<std::string> expressions;
    for (const auto& text : texts) {
        expressions.push_back(ftsExpression(text));
    }
    return expressions;
}

// How many answers each engine gives to each text query of a set.
struct AnswerCounts {
    std::vector<std::size_t> store;
    std::vector<std::size_t> fts;

    std::size_t mismatches() const {
        std::size_t differing = 0;
        for (std::size_t i = 0; i < store.size(); ++i) {
            differing += store[i] != fts[i] ? 1 : 0;
        }
        return differing;
    }
    double meanStore() const { return mean(store); }
    double meanFts() const { return mean(fts); }

private:
    static double mean(const std::vector<std::size_t>& counts) {
        double sum = 0;
        for (const auto count : counts) {
            sum += static_cast<double>(count);
        }
        return counts.empty() ? 0.0 : sum / static_cast<double>(counts.size());
    }
};

AnswerCounts countAnswers(const std::vector<std::string>& texts) {
    AnswerCounts counts;
    for (const auto& text : texts) {
        counts.store.push_back(store().locationIdsForQuery({.text = text}, {}).size());
        counts.fts.push_back(ftsIndex().match(ftsExpression(text)).size());
    }
    return counts;
}

const AnswerCounts& prefixAnswerCounts() {
    static const auto counts = countAnswers(prefixQueries());
    return counts;
}

const AnswerCounts& exactAnswerCounts() {
    static const auto counts = countAnswers(exactQueries());
    return counts;
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
    std::printf("\nprefix queries (answers, mean time of 10 runs; store, then FTS5):");
    const auto& prefixCounts = prefixAnswerCounts();
    for (std::size_t i = 0; i < prefixQueries().size(); ++i) {
        const std::string& text = prefixQueries()[i];
        std::size_t answers = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int run = 0; run < 10; ++run) {
            answers = store().locationIdsForQuery({.text = text}, {}).size();
        }
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("\n  %-6s %7zu answers %9.3f ms", text.c_str(), answers, elapsed.count() / 10);
        const std::string expression = ftsExpression(text);
        const auto ftsStart = std::chrono::steady_clock::now();
        for (int run = 0; run < 10; ++run) {
            benchmark::DoNotOptimize(ftsIndex().match(expression).data());
        }
        const std::chrono::duration<double, std::milli> ftsElapsed = std::chrono::steady_clock::now() - ftsStart;
        std::printf("  | FTS5 %7zu answers %9.3f ms%s", prefixCounts.fts[i], ftsElapsed.count() / 10,
                    prefixCounts.fts[i] != prefixCounts.store[i] ? "  <- the counts differ" : "");
    }
    std::printf("\nexact queries: %zu names, such as \"%s\"\n", exactQueries().size(), exactQueries().back().c_str());
    const auto& exactCounts = exactAnswerCounts();
    std::printf("  FTS5 gives the store's answer count to %zu of them\n",
                exactQueries().size() - exactCounts.mismatches());
    for (std::size_t i = 0; i < exactQueries().size(); ++i) {
        if (exactCounts.fts[i] != exactCounts.store[i]) {
            std::printf("  \"%s\": store %zu answers, FTS5 %zu <- the counts differ\n", exactQueries()[i].c_str(),
                        exactCounts.store[i], exactCounts.fts[i]);
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

// The three builds in turns within each iteration, the one that goes first
// changing from iteration to iteration, so that a load that comes and goes on
// the machine weighs on all alike. Their medians are counters ("store ms",
// "scan ms", "fts5 ms"); the closing table and line are made from them.
void IndexBuild_inTurns(benchmark::State& state) {
    const auto& locations = solution();
    const auto& rows = ftsRows();
    std::vector<double> times[3];
    const auto timed = [](auto&& build) {
        const auto start = std::chrono::steady_clock::now();
        build();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    std::size_t turn = 0;
    for (auto _ : state) {
        for (std::size_t step = 0; step < 3; ++step) {
            const std::size_t arm = (turn + step) % 3;
            if (arm == 0) {
                times[0].push_back(timed([&] {
                    auto service = AXLocationService::create();
                    service.addOrUpdateLocations(locations);
                    benchmark::DoNotOptimize(service.count());
                }));
            } else if (arm == 1) {
                times[1].push_back(timed([&] {
                    auto scanned = prepareScan(locations);
                    benchmark::DoNotOptimize(scanned.data());
                }));
            } else {
                times[2].push_back(timed([&] {
                    FtsIndex index{rows};
                    benchmark::DoNotOptimize(&index);
                }));
            }
        }
        ++turn;
    }
    state.counters["store ms"] = bench::medianOf(times[0]);
    state.counters["scan ms"] = bench::medianOf(times[1]);
    state.counters["fts5 ms"] = bench::medianOf(times[2]);
    state.counters["store / fts5"] = times[2].empty() ? 0.0 : bench::medianOf(times[0]) / bench::medianOf(times[2]);
}

// One iteration asks every query of a set once, so that the mean weighs each
// query alike; a count of single queries that stopped inside a set would
// weigh its first queries more. Figures are still given per query: items are
// queries, and "queries" lets the closing table turn time per set into time per query.
template <class Query>
void measure(benchmark::State& state, std::size_t queries, Query query) {
    std::size_t answered = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < queries; ++i) {
            const auto ids = query(i);
            answered += ids.size();
            benchmark::DoNotOptimize(ids.data());
        }
    }
    const auto asked = static_cast<double>(state.iterations()) * static_cast<double>(queries);
    state.SetItemsProcessed(static_cast<std::int64_t>(asked));
    state.counters["ids/query"] = static_cast<double>(answered) / asked;
    state.counters["queries"] = static_cast<double>(queries);
}

void PrefixQuery_store(benchmark::State& state) {
    measure(state, prefixQueries().size(),
            [](std::size_t i) { return store().locationIdsForQuery({.text = prefixQueries()[i]}, {}); });
}
void PrefixQuery_scan(benchmark::State& state) {
    measure(state, prefixQueries().size(), [](std::size_t i) { return scanText(prefixQueries()[i]); });
}
void ExactQuery_store(benchmark::State& state) {
    measure(state, exactQueries().size(),
            [](std::size_t i) { return store().locationIdsForQuery({.text = exactQueries()[i]}, {}); });
}
void ExactQuery_scan(benchmark::State& state) {
    measure(state, exactQueries().size(), [](std::size_t i) { return scanText(exactQueries()[i]); });
}
// Besides its own answers, the count the store gives, so that a difference
// shows beside the time.
void measureFts(benchmark::State& state, const std::vector<std::string>& texts, const AnswerCounts& counts) {
    const auto expressions = ftsExpressions(texts);
    measure(state, expressions.size(), [&](std::size_t i) { return ftsIndex().match(expressions[i]); });
    state.counters["store ids/query"] = counts.meanStore();
    state.counters["count mismatches"] = static_cast<double>(counts.mismatches());
}

void PrefixQuery_fts5(benchmark::State& state) { measureFts(state, prefixQueries(), prefixAnswerCounts()); }
void ExactQuery_fts5(benchmark::State& state) { measureFts(state, exactQueries(), exactAnswerCounts()); }
void BoundsQuery_store(benchmark::State& state) {
    static const auto filters = boundsFilters();
    measure(state, filters.size(), [](std::size_t i) { return store().locationIdsForQuery({}, filters[i]); });
}
void BoundsQuery_scan(benchmark::State& state) {
    static const auto filters = boundsFilters();
    measure(state, filters.size(), [](std::size_t i) { return scanFilter(filters[i]); });
}
void FilterOnlyQuery_store(benchmark::State& state) {
    static const auto filters = categoryFilters();
    measure(state, filters.size(), [](std::size_t i) { return store().locationIdsForQuery({}, filters[i]); });
}
void FilterOnlyQuery_scan(benchmark::State& state) {
    static const auto filters = categoryFilters();
    measure(state, filters.size(), [](std::size_t i) { return scanFilter(filters[i]); });
}

BENCHMARK(IndexBuild_inTurns)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(PrefixQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(PrefixQuery_scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(PrefixQuery_fts5)->Unit(benchmark::kMicrosecond);
BENCHMARK(ExactQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(ExactQuery_scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(ExactQuery_fts5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BoundsQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(BoundsQuery_scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(FilterOnlyQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(FilterOnlyQuery_scan)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then each operation's store time per query beside
// the scan's and FTS5's, and whether FTS5 gave the store's answer counts,
// and last the index build's ratio against FTS5 and its goal. Under
// repetitions the table takes each benchmark's median row, which is there
// also when only the aggregates are reported; without them, its one run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                                run.aggregate_unit == benchmark::kTime;
            if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            const auto split = name.rfind('_');
            if (split == std::string::npos) {
                continue;
            }
            const std::string operation = name.substr(0, split);
            if (name.substr(split + 1) == "inTurns") {
                for (const char* arm : {"store", "scan", "fts5"}) {
                    const auto counter = run.counters.find(std::string(arm) + " ms");
                    if (counter != run.counters.end()) {
                        note(operation, arm, counter->second.value * 1000.0, median);
                    }
                }
                continue;
            }
            const auto queries = run.counters.find("queries");
            const double perIteration = queries == run.counters.end() ? 1.0 : queries->second.value;
            const double micros =
                run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond ? 1000.0 : 1.0) / perIteration;
            note(operation, name.substr(split + 1), micros, median);
            const auto mismatches = run.counters.find("count mismatches");
            if (mismatches != run.counters.end()) {
                mismatches_[operation] = mismatches->second.value;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-18s %14s %14s %14s %14s %14s  %s\n", "operation", "store (us)", "scan (us)", "scan / store",
                    "FTS5 (us)", "FTS5 / store", "FTS5's answer counts");
        std::printf("(per query; the index builds per build)\n");
        for (const auto& [operation, times] : times_) {
            const auto store = times.find("store");
            const auto scan = times.find("scan");
            if (store != times.end() && scan != times.end()) {
                std::printf("%-18s %14.1f %14.1f %14.2f", operation.c_str(), store->second.value(),
                            scan->second.value(), scan->second.value() / store->second.value());
                const auto fts = times.find("fts5");
                if (fts != times.end()) {
                    std::printf(" %14.1f %14.2f", fts->second.value(), fts->second.value() / store->second.value());
                    const auto mismatches = mismatches_.find(operation);
                    if (mismatches == mismatches_.end()) {
                        std::printf("\n");
                    } else if (mismatches->second == 0) {
                        std::printf("  the store's\n");
                    } else {
                        std::printf("  DIFFER for %.0f queries\n", mismatches->second);
                    }
                } else {
                    std::printf(" %14s %14s\n", "-", "-");
                }
            }
        }
        const auto build = times_.find("IndexBuild");
        if (build != times_.end() && build->second.contains("store") && build->second.contains("fts5")) {
            const double store = build->second.at("store").value() / 1000.0;
            const double fts = build->second.at("fts5").value() / 1000.0;
            std::printf("\nindex build: store %.1f ms, FTS5 %.1f ms, ratio %.2f (goal <= 1: no slower than FTS5)\n",
                        store, fts, store / fts);
        }
    }

private:
    // A median row, once one comes, replaces what the runs gave.
    struct Mean {
        double sum = 0;
        int count = 0;
        bool fromMedian = false;
        double value() const { return sum / count; }
    };
    void note(const std::string& operation, const std::string& arm, double micros, bool median) {
        Mean& mean = times_[operation][arm];
        if (median) {
            mean = {micros, 1, true};
        } else if (!mean.fromMedian) {
            mean.sum += micros;
            ++mean.count;
        }
    }
    std::map<std::string, std::map<std::string, Mean>> times_;
    std::map<std::string, double> mismatches_;
};

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
    ambrell::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
