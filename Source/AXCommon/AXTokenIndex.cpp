#include "Source/AXCommon/AXTokenIndex.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace ambrell::axsearch {

void AXTokenIndex::add(Slot slot, std::vector<Term> terms) {
    std::sort(terms.begin(), terms.end());
    terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
    if (handles_.size() <= slot) {
        handles_.resize(static_cast<std::size_t>(slot) + 1);
    }
    auto& handles = handles_[slot];
    assert(handles.empty());
    handles.reserve(terms.size());
    for (Term& term : terms) {
        auto word = postings_.try_emplace(std::move(term.token)).first;
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
            postings_.erase(handle.word);
        }
    }
    handles_[slot].clear();
    handles_[slot].shrink_to_fit();
}

void AXTokenIndex::clear() {
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
