#include "Source/AXCommon/AXLocationService.h"

#include "Source/AXCommon/AXBoxTree.h"
#include "Source/AXCommon/AXFilterMatcher.h"
#include "Source/AXCommon/AXGeodesy.h"
#include "Source/AXCommon/AXPropertyKeys.h"
#include "Source/AXCommon/AXSearchText.h"
#include "Source/AXCommon/AXTokenIndex.h"
#include "platform/runtime/SpreadOverPool.h"

#include <boost/iterator/function_output_iterator.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace ambrell {

using axsearch::KeyId;
using axsearch::Slot;
using axsearch::Term;

namespace {

// Removed locations leave holes so that slot order stays store order; the
// store closes them once they outnumber the live ones.
constexpr std::size_t kMinHolesBeforeCompaction = 1024;

// A whole name that equals the whole query earns this on top of the per-word score.
constexpr std::uint32_t kExactNameBonus = 8;

struct SearchTexts {
    std::vector<Term> terms;
    // Each name's words joined by one space, to spot a query that is the whole name.
    std::vector<std::string> foldedNames;
};

struct Entry {
    AXLocation location;
    axgeo::AXBox box;
    std::vector<Term> terms;  // sorted, unique
    std::vector<std::string> foldedNames;
    bool live = false;
};

// Kept apart from the entries so that a filter over every location walks a
// small dense array.
struct SlotFields {
    axsearch::AXFilterFields fields;
    bool live = false;
    // A bit per whole name, so that looking for the exact-name bonus seldom
    // has to reach into the entry.
    std::uint64_t nameBits = 0;
};

std::uint64_t nameBit(const std::string& foldedName) {
    return std::uint64_t{1} << (std::hash<std::string>{}(foldedName) % 64);
}

std::uint64_t nameBits(const std::vector<std::string>& foldedNames) {
    std::uint64_t bits = 0;
    for (const auto& name : foldedNames) {
        bits |= nameBit(name);
    }
    return bits;
}

struct Ranked {
    std::uint32_t score = 0;
    double distance = 0;
    Slot slot = 0;
};

// Candidates in store order, so that ranking can keep it without comparing
// slots: a few are sorted, many are read back from the per-slot scores.
void inStoreOrder(std::vector<Slot>& candidates, const std::vector<std::uint32_t>& best) {
    if (candidates.size() < best.size() / 64) {
        std::sort(candidates.begin(), candidates.end());
        return;
    }
    candidates.clear();
    for (std::size_t slot = 0; slot < best.size(); ++slot) {
        if (best[slot] != 0) {
            candidates.push_back(static_cast<Slot>(slot));
        }
    }
}

// Best score first, store order kept among equals. A score is a sum of a few
// small weights, so there are few distinct ones: ranks are bucketed by score
// instead of compared, which matters when a short prefix finds most of the store.
void sortByScoreKeepingOrder(std::vector<Ranked>& ranked) {
    constexpr std::size_t kMostBuckets = 32;
    std::vector<std::uint32_t> scores;
    for (const Ranked& item : ranked) {
        if (std::find(scores.begin(), scores.end(), item.score) != scores.end()) {
            continue;
        }
        if (scores.size() == kMostBuckets) {
            std::stable_sort(ranked.begin(), ranked.end(),
                             [](const Ranked& a, const Ranked& b) { return a.score > b.score; });
            return;
        }
        scores.push_back(item.score);
    }
    std::sort(scores.begin(), scores.end(), std::greater<>());
    const auto bucketOf = [&scores](std::uint32_t score) {
        return static_cast<std::size_t>(std::find(scores.begin(), scores.end(), score) - scores.begin());
    };
    std::vector<std::size_t> next(scores.size() + 1, 0);
    for (const Ranked& item : ranked) {
        ++next[bucketOf(item.score) + 1];
    }
    std::partial_sum(next.begin(), next.end(), next.begin());
    std::vector<Ranked> sorted(ranked.size());
    for (const Ranked& item : ranked) {
        sorted[next[bucketOf(item.score)]++] = item;
    }
    ranked = std::move(sorted);
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) {
        if (!text.empty()) {
            text += ' ';
        }
        text += word;
    }
    return text;
}

bool sameTexts(const AXLocation& a, const AXLocation& b) {
    return a.properties == b.properties && a.aliases == b.aliases;
}

std::uint32_t saturatingAdd(std::uint32_t a, std::uint32_t b) {
    return b > std::numeric_limits<std::uint32_t>::max() - a ? std::numeric_limits<std::uint32_t>::max() : a + b;
}

void validateGeometry(const AXLocation& location) {
    const auto& geometry = location.geometry;
    if (!axgeo::isFinite(geometry.position) || !axgeo::isFinite(geometry.bounds.northeast) ||
        !axgeo::isFinite(geometry.bounds.southwest) || !std::isfinite(location.altitude)) {
        throw std::invalid_argument("AXLocation " + std::to_string(location.locationId) +
                                    ": coordinates and altitude must be finite");
    }
}

}  // namespace

struct AXLocationService::Impl {
    using Tree = axgeo::AXFloorBoxTree<Slot>;

    std::vector<Entry> entries;      // by slot
    std::vector<SlotFields> fields;  // by slot
    std::size_t liveCount = 0;
    std::unordered_map<std::int32_t, Slot> slotById;
    axsearch::AXPropertyKeys keys;
    axsearch::AXTokenIndex words;
    Tree tree;

    // A location's place in the tree: its box, on its floor when indoors.
    static Tree::value_type treeValue(const axgeo::AXBox& box, const axsearch::AXFilterFields& fields, Slot slot) {
        return {axgeo::floorTreeBox(box, floorOf(fields)), slot};
    }
    static std::optional<double> floorOf(const axsearch::AXFilterFields& fields) {
        if (!fields.isIndoor) {
            return std::nullopt;
        }
        return static_cast<double>(std::round(fields.altitude));
    }

    // The words of a location's texts, each under the key of its text.
    // keyOf(index, property) gives a property's key and whether it is the
    // name; aliasKey() the key of the aliases. Throws std::invalid_argument
    // for text that is not UTF-8.
    template <class KeyOf, class AliasKey>
    static SearchTexts textsOf(const AXLocation& location, KeyOf&& keyOf, AliasKey&& aliasKey) {
        SearchTexts texts;
        std::string_view currentKey;
        try {
            for (std::size_t index = 0; index < location.properties.size(); ++index) {
                const auto& property = location.properties[index];
                currentKey = property.key;
                const auto [key, isName] = keyOf(index, property);
                auto tokens = axsearch::searchTokens(property.value);
                if (isName && !tokens.empty()) {
                    texts.foldedNames.push_back(joined(tokens));
                }
                for (auto& token : tokens) {
                    texts.terms.push_back({std::move(token), key});
                }
            }
            currentKey = axsearch::kAliasesKey;
            const KeyId key = aliasKey();
            for (const auto& alias : location.aliases) {
                for (auto& token : axsearch::searchTokens(alias)) {
                    texts.terms.push_back({std::move(token), key});
                }
            }
        } catch (const std::invalid_argument&) {
            throw std::invalid_argument("AXLocation " + std::to_string(location.locationId) + ": text of \"" +
                                        std::string(currentKey) + "\" is not valid UTF-8");
        }
        std::sort(texts.terms.begin(), texts.terms.end());
        texts.terms.erase(std::unique(texts.terms.begin(), texts.terms.end()), texts.terms.end());
        return texts;
    }

    SearchTexts searchTexts(const AXLocation& location) {
        return textsOf(
            location,
            [this](std::size_t /*index*/, const AXTextProperty& property) {
                const std::string folded = axsearch::foldedKey(property.key);
                return std::pair<KeyId, bool>(keys.intern(folded), folded == axsearch::kNameKey);
            },
            [this] { return keys.intern(axsearch::kAliasesKey); });
    }

    void insertNew(AXLocation location, SearchTexts texts, bool maintainTree) {
        if (entries.size() >= std::numeric_limits<Slot>::max()) {
            throw std::length_error("AXLocationService holds too many locations");
        }
        const auto slot = static_cast<Slot>(entries.size());
        const auto box = axgeo::AXBox::fromBounds(location.geometry.bounds);
        words.add(slot, texts.terms);
        fields.push_back({axsearch::AXFilterFields::of(location), true, nameBits(texts.foldedNames)});
        const auto id = location.locationId;
        entries.push_back({std::move(location), box, std::move(texts.terms), std::move(texts.foldedNames), true});
        slotById.emplace(id, slot);
        if (maintainTree) {
            tree.insert(treeValue(box, fields.back().fields, slot));
        }
        ++liveCount;
    }

    void replace(Slot slot, AXLocation location, std::optional<SearchTexts> texts, bool maintainTree) {
        Entry& entry = entries[slot];
        if (!sameTexts(entry.location, location)) {
            // Texts of a location already stored once were valid, so this
            // cannot throw for bad input (only a duplicate id within one
            // batch gets here without prepared texts).
            if (!texts) {
                texts = searchTexts(location);
            }
            words.remove(slot);
            words.add(slot, texts->terms);
            entry.terms = std::move(texts->terms);
            entry.foldedNames = std::move(texts->foldedNames);
            fields[slot].nameBits = nameBits(entry.foldedNames);
        }
        const auto box = axgeo::AXBox::fromBounds(location.geometry.bounds);
        const auto newFields = axsearch::AXFilterFields::of(location);
        if (maintainTree && (box != entry.box || floorOf(newFields) != floorOf(fields[slot].fields))) {
            tree.remove(treeValue(entry.box, fields[slot].fields, slot));
            tree.insert(treeValue(box, newFields, slot));
        }
        entry.box = box;
        entry.location = std::move(location);
        fields[slot].fields = newFields;
    }

    void remove(Slot slot) {
        Entry& entry = entries[slot];
        tree.remove(treeValue(entry.box, fields[slot].fields, slot));
        words.remove(slot);
        slotById.erase(entry.location.locationId);
        entry = Entry{};
        fields[slot] = SlotFields{};
        --liveCount;
    }

    void rebuildTree() {
        std::vector<Tree::value_type> values;
        values.reserve(liveCount);
        for (std::size_t slot = 0; slot < entries.size(); ++slot) {
            if (entries[slot].live) {
                values.push_back(treeValue(entries[slot].box, fields[slot].fields, static_cast<Slot>(slot)));
            }
        }
        // The range constructor packs the tree in one go, far faster than
        // inserting one box after another.
        tree = Tree(values.begin(), values.end());
    }

    void clear() {
        entries.clear();
        fields.clear();
        liveCount = 0;
        slotById.clear();
        words.clear();
        tree.clear();
    }

    void compactIfSparse() {
        if (liveCount == 0) {
            clear();
            return;
        }
        const std::size_t holes = entries.size() - liveCount;
        if (holes < kMinHolesBeforeCompaction || holes <= liveCount) {
            return;
        }
        std::vector<Slot> newSlotOf(entries.size(), 0);
        std::vector<Entry> kept;
        std::vector<SlotFields> keptFields;
        kept.reserve(liveCount);
        keptFields.reserve(liveCount);
        for (std::size_t old = 0; old < entries.size(); ++old) {
            if (entries[old].live) {
                newSlotOf[old] = static_cast<Slot>(kept.size());
                kept.push_back(std::move(entries[old]));
                keptFields.push_back(fields[old]);
            }
        }
        words.renumber(newSlotOf, kept.size());
        entries = std::move(kept);
        fields = std::move(keptFields);
        for (auto& [id, slot] : slotById) {
            slot = newSlotOf[slot];
        }
        rebuildTree();
    }

    // `insideBounds`: the spatial index found the slot, so its box needs no
    // second look (nor its entry a read, unless groups are asked for).
    bool passes(const axsearch::AXFilterMatcher& matcher, Slot slot, bool insideBounds = false) const {
        if (!fields[slot].live || !matcher.matchesFields(fields[slot].fields)) {
            return false;
        }
        const Entry& entry = entries[slot];
        return insideBounds ? matcher.matchesGroups(entry.location.groups)
                            : matcher.matchesGroupsAndBox(entry.location.groups, entry.box);
    }

    // Every location whose words start with each query word, with its score:
    // per query word the best weight of a key times 2 for a whole-word match
    // or 1 for a prefix match. Only the most selective word goes through the
    // index; the few locations it finds are then checked word by word.
    std::vector<Ranked> textMatches(const std::vector<std::string>& queryWords, const AXQuery& query,
                                    const axsearch::AXFilterMatcher& matcher) const {
        const bool restricted = !query.propertyKeys.empty();
        std::vector<char> allowedKeys(keys.size(), restricted ? 0 : 1);
        for (const auto& key : query.propertyKeys) {
            std::string folded;
            try {
                folded = axsearch::foldedKey(key);
            } catch (const std::invalid_argument&) {
                throw std::invalid_argument("AXQuery property key is not valid UTF-8");
            }
            if (const auto id = keys.find(folded)) {
                allowedKeys[*id] = 1;
            }
        }
        const auto nameKey = keys.find(axsearch::kNameKey);
        const bool namesCount = !restricted || (nameKey && allowedKeys[*nameKey] != 0);
        const auto value = [&](KeyId key, bool exact) -> std::uint32_t {
            return allowedKeys[key] != 0 ? keys.weight(key) * (exact ? 2 : 1) : 0;
        };

        std::size_t first = 0;
        std::size_t firstCount = std::numeric_limits<std::size_t>::max();
        for (std::size_t k = 0; k < queryWords.size(); ++k) {
            const std::size_t count = words.postingCount(queryWords[k], firstCount);
            // Among prefixes too common to count, a longer one is likely rarer.
            if (count < firstCount || (count == firstCount && queryWords[k].size() > queryWords[first].size())) {
                first = k;
                firstCount = count;
            }
        }

        std::vector<std::uint32_t> best(entries.size(), 0);  // weights are at least 1, so 0 means not found
        std::vector<Slot> candidates;
        words.forEachPrefixMatch(queryWords[first], [&](Slot slot, KeyId key, bool exact) {
            const std::uint32_t v = value(key, exact);
            if (v == 0) {
                return;
            }
            if (best[slot] == 0) {
                candidates.push_back(slot);
            }
            best[slot] = std::max(best[slot], v);
        });

        inStoreOrder(candidates, best);

        const std::string wholeQuery = joined(queryWords);
        const std::uint64_t wholeQueryBit = nameBit(wholeQuery);
        std::vector<Ranked> ranked;
        for (const Slot slot : candidates) {
            if (!passes(matcher, slot)) {
                continue;
            }
            const Entry& entry = entries[slot];
            std::uint32_t score = best[slot];
            bool matchesAll = true;
            for (std::size_t k = 0; k < queryWords.size() && matchesAll; ++k) {
                if (k == first) {
                    continue;
                }
                std::uint32_t wordBest = 0;
                for (const Term& term : entry.terms) {
                    if (term.token.starts_with(queryWords[k])) {
                        wordBest = std::max(wordBest, value(term.key, term.token.size() == queryWords[k].size()));
                    }
                }
                matchesAll = wordBest != 0;
                score = saturatingAdd(score, wordBest);
            }
            if (!matchesAll) {
                continue;
            }
            if (namesCount && (fields[slot].nameBits & wholeQueryBit) != 0 &&
                std::find(entry.foldedNames.begin(), entry.foldedNames.end(), wholeQuery) != entry.foldedNames.end()) {
                score = saturatingAdd(score, kExactNameBonus);
            }
            ranked.push_back({score, 0, slot});
        }
        return ranked;
    }

    // The slots a filter-only query needs to test, in store order; none when
    // no index narrows the filter and every slot must be tested.
    std::optional<std::vector<Slot>> candidateSlots(const AXFilter& filter,
                                                    const axsearch::AXFilterMatcher& matcher) const {
        std::vector<Slot> candidates;
        if (matcher.bounds()) {
            // A map viewport often holds much of a venue: marking the hits
            // and reading the marks back in order beats sorting them.
            std::vector<std::uint64_t> hit((fields.size() + 63) / 64, 0);
            const auto mark = boost::make_function_output_iterator([&hit](const Tree::value_type& value) {
                hit[value.second / 64] |= std::uint64_t{1} << (value.second % 64);
            });
            const auto floor = filter.floor ? std::optional<double>(*filter.floor) : std::nullopt;
            tree.query(boost::geometry::index::intersects(axgeo::floorTreeBox(*matcher.bounds(), floor)), mark);
            for (std::size_t word = 0; word < hit.size(); ++word) {
                for (std::uint64_t bits = hit[word]; bits != 0; bits &= bits - 1) {
                    const auto bit = static_cast<std::size_t>(std::countr_zero(bits));
                    candidates.push_back(static_cast<Slot>(word * 64 + bit));
                }
            }
        } else if (filter.locationIds && filter.locationIds->size() < liveCount) {
            for (const auto id : *filter.locationIds) {
                if (const auto it = slotById.find(id); it != slotById.end()) {
                    candidates.push_back(it->second);
                }
            }
            std::sort(candidates.begin(), candidates.end());
            candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
        } else {
            return std::nullopt;
        }
        return candidates;
    }

    std::vector<Ranked> filterMatches(const AXFilter& filter, const axsearch::AXFilterMatcher& matcher) const {
        std::vector<Ranked> ranked;
        // With bounds the candidates come from the spatial index.
        const bool insideBounds = matcher.bounds().has_value();
        const auto keepIfPasses = [&](Slot slot) {
            if (passes(matcher, slot, insideBounds)) {
                ranked.push_back({0, 0, slot});
            }
        };
        if (const auto candidates = candidateSlots(filter, matcher)) {
            std::for_each(candidates->begin(), candidates->end(), keepIfPasses);
        } else {
            for (std::size_t slot = 0; slot < fields.size(); ++slot) {
                keepIfPasses(static_cast<Slot>(slot));
            }
        }
        return ranked;
    }

    // `owned`, when given, is `locations` itself, whose records may be moved
    // into the store rather than copied.
    std::vector<std::int32_t> addOrUpdate(const std::vector<AXLocation>& locations, std::vector<AXLocation>* owned) {
        // Check and tokenise everything before touching the store, so a refused
        // record changes nothing and the others still go in.
        enum Step : char { tokenise, unchanged, refusedGeometry };
        std::vector<Step> steps(locations.size(), tokenise);
        // The keys are interned here, one location after the other as they come,
        // so that a key's number does not hang on which thread met it first; the
        // texts are then tokenised on several threads.
        struct PropertyKey {
            KeyId id = 0;
            bool isName = false;
            bool valid = false;
        };
        std::vector<PropertyKey> propertyKeys;
        std::vector<std::size_t> firstPropertyKey(locations.size() + 1, 0);
        std::unordered_map<std::string_view, PropertyKey> keyBySpelling;
        std::optional<KeyId> aliasKey;
        for (std::size_t i = 0; i < locations.size(); ++i) {
            const auto& location = locations[i];
            firstPropertyKey[i] = propertyKeys.size();
            try {
                validateGeometry(location);
            } catch (const std::invalid_argument&) {
                steps[i] = refusedGeometry;
                continue;
            }
            const auto existing = slotById.find(location.locationId);
            if (existing != slotById.end() && sameTexts(entries[existing->second].location, location)) {
                steps[i] = unchanged;  // unchanged texts need no new words
                continue;
            }
            for (const auto& property : location.properties) {
                auto [known, isNew] = keyBySpelling.try_emplace(property.key);
                if (isNew) {
                    try {
                        const std::string folded = axsearch::foldedKey(property.key);
                        known->second = {keys.intern(folded), folded == axsearch::kNameKey, true};
                    } catch (const std::invalid_argument&) {
                        // Left invalid: the location is refused when its texts are read.
                    }
                }
                propertyKeys.push_back(known->second);
            }
            if (!aliasKey) {
                aliasKey = keys.intern(axsearch::kAliasesKey);
            }
        }
        firstPropertyKey[locations.size()] = propertyKeys.size();

        std::vector<std::optional<SearchTexts>> prepared(locations.size());
        std::vector<char> accepted(locations.size(), 1);
        // A few hundred locations make a range: enough work to pay for handing it to another thread.
        constexpr std::size_t kLocationsPerRange = 256;
        platform::spreadOverPool(locations.size(), kLocationsPerRange, [&](std::size_t first, std::size_t end) {
            for (std::size_t i = first; i < end; ++i) {
                if (steps[i] == refusedGeometry) {
                    accepted[i] = 0;
                } else if (steps[i] == tokenise) {
                    try {
                        const PropertyKey* ownKeys = propertyKeys.data() + firstPropertyKey[i];
                        prepared[i] = Impl::textsOf(
                            locations[i],
                            [ownKeys](std::size_t index, const AXTextProperty& /*property*/) {
                                if (!ownKeys[index].valid) {
                                    throw std::invalid_argument("property key is not valid UTF-8");
                                }
                                return std::pair<KeyId, bool>(ownKeys[index].id, ownKeys[index].isName);
                            },
                            [&aliasKey] { return *aliasKey; });
                    } catch (const std::invalid_argument&) {
                        accepted[i] = 0;
                    }
                }
            }
        });
        std::vector<std::int32_t> refused;
        for (std::size_t i = 0; i < locations.size(); ++i) {
            if (accepted[i] == 0) {
                refused.push_back(locations[i].locationId);
            }
        }

        const bool maintainTree = !tree.empty() || locations.size() < 64;
        // A first load knows its size; a later batch, often of a location or
        // two, must not cut the stores' growth short.
        if (entries.empty()) {
            entries.reserve(locations.size());
            fields.reserve(locations.size());
            slotById.reserve(locations.size());
        }
        try {
            for (std::size_t i = 0; i < locations.size(); ++i) {
                if (!accepted[i]) {
                    continue;
                }
                AXLocation location = owned != nullptr ? std::move((*owned)[i]) : locations[i];
                const auto existing = slotById.find(location.locationId);
                if (existing == slotById.end()) {
                    auto texts = prepared[i] ? std::move(*prepared[i]) : searchTexts(location);
                    insertNew(std::move(location), std::move(texts), maintainTree);
                } else {
                    replace(existing->second, std::move(location), std::move(prepared[i]), maintainTree);
                }
            }
        } catch (...) {
            // Only running out of memory gets here; whatever went in must at
            // least be found by bounds.
            if (!maintainTree) {
                rebuildTree();
            }
            throw;
        }
        if (!maintainTree) {
            rebuildTree();
        }
        return refused;
    }
};

AXLocationService AXLocationService::create() { return AXLocationService(); }

AXLocationService::AXLocationService() : impl_(std::make_unique<Impl>()) {}
AXLocationService::AXLocationService(AXLocationService&&) noexcept = default;
AXLocationService& AXLocationService::operator=(AXLocationService&&) noexcept = default;
AXLocationService::~AXLocationService() = default;

std::vector<std::int32_t> AXLocationService::addOrUpdateLocations(const std::vector<AXLocation>& locations) {
    return impl_->addOrUpdate(locations, nullptr);
}

std::vector<std::int32_t> AXLocationService::addOrUpdateLocations(std::vector<AXLocation>&& locations) {
    return impl_->addOrUpdate(locations, &locations);
}

void AXLocationService::removeLocationsWithIds(const std::vector<std::int32_t>& locationIds) {
    for (const auto id : locationIds) {
        if (const auto it = impl_->slotById.find(id); it != impl_->slotById.end()) {
            impl_->remove(it->second);
        }
    }
    impl_->compactIfSparse();
}

void AXLocationService::removeAllLocations() { impl_->clear(); }

std::size_t AXLocationService::count() const { return impl_->liveCount; }

std::vector<std::int32_t> AXLocationService::locationIdsForQuery(const AXQuery& query, const AXFilter& filter) const {
    if (query.near && !axgeo::isFinite(*query.near)) {
        throw std::invalid_argument("AXQuery near must be a finite coordinate");
    }
    const axsearch::AXFilterMatcher matcher(filter);
    std::vector<std::string> queryWords;
    try {
        queryWords = axsearch::searchTokens(query.text);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("AXQuery text is not valid UTF-8");
    }

    std::vector<Ranked> ranked =
        queryWords.empty() ? impl_->filterMatches(filter, matcher) : impl_->textMatches(queryWords, query, matcher);

    const bool byScore = query.ordering == AXOrdering::relevance && !queryWords.empty();
    const bool byDistance = query.near.has_value();
    if (byDistance) {
        for (auto& item : ranked) {
            item.distance = axgeo::haversineMeters(*query.near, impl_->entries[item.slot].location.geometry.position);
        }
    }
    const auto before = [&](const Ranked& a, const Ranked& b) {
        if (byScore && a.score != b.score) {
            return a.score > b.score;
        }
        if (byDistance && a.distance != b.distance) {
            return a.distance < b.distance;
        }
        return a.slot < b.slot;
    };
    // Only the ranks up to skip + take are ever answered.
    const std::size_t end =
        static_cast<std::size_t>(std::min<std::uint64_t>(ranked.size(), std::uint64_t{filter.skip} + filter.take));
    const std::size_t begin = std::min<std::size_t>(ranked.size(), filter.skip);
    // Matches come out in slot order, which is store order already.
    if (byDistance && end < ranked.size()) {
        std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(end), ranked.end(), before);
    } else if (byDistance) {
        std::sort(ranked.begin(), ranked.end(), before);
    } else if (byScore) {
        sortByScoreKeepingOrder(ranked);
    }

    std::vector<std::int32_t> ids;
    ids.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        ids.push_back(impl_->entries[ranked[i].slot].location.locationId);
    }
    return ids;
}

}  // namespace ambrell
