#pragma once

#include "Source/AXCommon/AXPropertyKeys.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ambrell::axsearch {

// A place in the location store; slots count up in store order.
using Slot = std::uint32_t;

// One searchable word of a location and the key of the text it came from.
struct Term {
    std::string token;
    KeyId key = 0;

    friend bool operator==(const Term&, const Term&) = default;
    friend auto operator<=>(const Term&, const Term&) = default;
};

// Inverted index from words to the slots that contain them, ordered by word
// so that every word starting with a prefix is one contiguous range.
// Each posting remembers where its slot keeps the way back to it, so removing
// a location costs the number of its own words, not the length of the
// (possibly huge) posting lists of common words like "room".
class AXTokenIndex {
public:
    AXTokenIndex() = default;
    // The word lookup points into the postings, which a copy would not own.
    AXTokenIndex(const AXTokenIndex&) = delete;
    AXTokenIndex& operator=(const AXTokenIndex&) = delete;
    AXTokenIndex(AXTokenIndex&&) noexcept = default;
    AXTokenIndex& operator=(AXTokenIndex&&) noexcept = default;
    ~AXTokenIndex() = default;

    // The slot must hold no terms yet; terms must be sorted and unique.
    void add(Slot slot, const std::vector<Term>& terms);
    void remove(Slot slot);
    void clear();
    // After the store compacts: newSlotOf[old] is the new slot of every slot
    // that still holds terms (removed slots are not looked at).
    void renumber(const std::vector<Slot>& newSlotOf, std::size_t newSlotCount);

    // Calls visit(slot, key, exact) for every posting of every word that
    // starts with prefix; exact is true when the word is the prefix itself.
    template <class Visit>
    void forEachPrefixMatch(std::string_view prefix, Visit&& visit) const {
        for (auto it = postings_.lower_bound(prefix); it != postings_.end() && it->first.starts_with(prefix); ++it) {
            const bool exact = it->first.size() == prefix.size();
            for (const Posting& posting : it->second) {
                visit(posting.slot, posting.key, exact);
            }
        }
    }

    // How many postings forEachPrefixMatch would visit, counted only until
    // `limit` is reached or many words have been looked at; `limit` then
    // stands for "at least that many". Cheap enough to ask for every word of
    // a query to pick the most selective one.
    [[nodiscard]] std::size_t postingCount(std::string_view prefix, std::size_t limit) const;

    [[nodiscard]] std::size_t wordCount() const { return postings_.size(); }

private:
    struct Posting {
        Slot slot;
        std::uint32_t ordinal;  // index into handles_[slot]
        KeyId key;
    };
    using Postings = std::map<std::string, std::vector<Posting>, std::less<>>;
    struct Handle {
        Postings::iterator word;
        std::uint32_t position;  // index into word->second
    };

    Postings postings_;
    // Each word of postings_ by its hash: a load adds hundreds of thousands of
    // words, nearly all of them already there, and a walk down the ordered
    // map for each costs more than the rest of the adding.
    std::unordered_map<std::string_view, Postings::iterator> byWord_;
    std::vector<std::vector<Handle>> handles_;  // by slot
};

}  // namespace ambrell::axsearch
