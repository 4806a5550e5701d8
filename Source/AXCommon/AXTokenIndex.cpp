#include "Source/AXCommon/AXTokenIndex.h"

#include <algorithm>
#include <cassert>

namespace ambrell::axsearch {
namespace {

// Past this many words under one prefix, counting stops: the prefix is
// common, and the exact figure would cost as much as the search.
constexpr std::size_t kMaxWordsCounted = 256;

}  // namespace

void AXTokenIndex::add(Slot slot, const std::vector<Term>& terms) {
    assert(std::is_sorted(terms.begin(), terms.end()));
    if (handles_.size() <= slot) {
        handles_.resize(static_cast<std::size_t>(slot) + 1);
    }
    auto& handles = handles_[slot];
    assert(handles.empty());
    handles.reserve(terms.size());
    for (const Term& term : terms) {
        auto word = postings_.end();
        if (const auto known = byWord_.find(term.token); known != byWord_.end()) {
            word = known->second;
        } else {
            word = postings_.emplace(term.token, std::vector<Posting>{}).first;
            byWord_.emplace(word->first, word);
        }
        const auto ordinal = static_cast<std::uint32_t>(handles.size());
        handles.push_back({word, static_cast<std::uint32_t>(word->second.size())});
        word->second.push_back({slot, ordinal, term.key});
    }
}

void AXTokenIndex::remove(Slot slot) {
    if (slot >= handles_.size()) {
        return;
    }
    for (const Handle& handle : handles_[slot]) {
        auto& list = handle.word->second;
        // Fill the hole with the list's last posting and tell its owner where
        // it went; the order of a posting list carries no meaning.
        const Posting moved = list.back();
        list[handle.position] = moved;
        handles_[moved.slot][moved.ordinal].position = handle.position;
        list.pop_back();
        if (list.empty()) {
            byWord_.erase(handle.word->first);
            postings_.erase(handle.word);
        }
    }
    handles_[slot].clear();
    handles_[slot].shrink_to_fit();
}

std::size_t AXTokenIndex::postingCount(std::string_view prefix, std::size_t limit) const {
    std::size_t count = 0;
    std::size_t words = 0;
    for (auto it = postings_.lower_bound(prefix); it != postings_.end() && it->first.starts_with(prefix); ++it) {
        count += it->second.size();
        if (count >= limit || ++words > kMaxWordsCounted) {
            return limit;
        }
    }
    return count;
}

void AXTokenIndex::clear() {
    byWord_.clear();
    postings_.clear();
    handles_.clear();
}

void AXTokenIndex::renumber(const std::vector<Slot>& newSlotOf, std::size_t newSlotCount) {
    std::vector<std::vector<Handle>> renumbered(newSlotCount);
    for (std::size_t old = 0; old < handles_.size(); ++old) {
        if (!handles_[old].empty()) {
            renumbered[newSlotOf[old]] = std::move(handles_[old]);
        }
    }
    handles_ = std::move(renumbered);
    for (auto& [word, list] : postings_) {
        for (Posting& posting : list) {
            posting.slot = newSlotOf[posting.slot];
        }
    }
}

}  // namespace ambrell::axsearch
