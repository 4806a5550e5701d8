#include "routing/CVIndexSet.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace ambrell {

CVIndexSet::CVIndexSet(std::vector<Range> ranges) {
    std::ranges::sort(ranges);
    for (const auto& range : ranges) {
        // Adjacent ranges merge too: "1-2,3" is the one range 1 to 3.
        if (!ranges_.empty() && (ranges_.back().second == std::numeric_limits<std::uint64_t>::max() ||
                                 range.first <= ranges_.back().second + 1)) {
            ranges_.back().second = std::max(ranges_.back().second, range.second);
        } else {
            ranges_.push_back(range);
        }
    }
}

bool CVIndexSet::contains(std::uint64_t index) const {
    const auto after = std::ranges::upper_bound(ranges_, index, {}, &Range::first);
    return after != ranges_.begin() && index <= std::prev(after)->second;
}

std::uint64_t CVIndexSet::count() const {
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    for (const auto& [first, last] : ranges_) {
        const std::uint64_t size = last - first;  // one less than the range's count
        if (size == kMax || total > kMax - size - 1) return kMax;
        total += size + 1;
    }
    return total;
}

namespace {

// A cursor over the text that skips blanks and line breaks before each token.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    [[nodiscard]] bool atEnd() {
        skipBlanks();
        return position_ == text_.size();
    }

    // A signed decimal integer; none when there is none or it does not fit.
    std::optional<std::int64_t> integer() {
        skipBlanks();
        std::size_t start = position_;
        if (start < text_.size() && text_[start] == '+') ++start;
        std::int64_t value = 0;
        const auto* first = text_.data() + start;
        const auto* last = text_.data() + text_.size();
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end == first) return std::nullopt;
        position_ = static_cast<std::size_t>(end - text_.data());
        return value;
    }

    // The run of "-" and "," characters at the cursor (maybe empty).
    std::string_view separators() {
        skipBlanks();
        const std::size_t start = position_;
        while (position_ < text_.size() && (text_[position_] == '-' || text_[position_] == ',')) ++position_;
        return text_.substr(start, position_ - start);
    }

private:
    void skipBlanks() {
        while (position_ < text_.size()) {
            const char c = text_[position_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') break;
            ++position_;
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::optional<CVIndexSet> cvNewWithImmutableNodesString(std::optional<std::string_view> text) {
    if (!text) return std::nullopt;
    Scanner scanner(*text);
    std::vector<CVIndexSet::Range> ranges;
    while (!scanner.atEnd()) {
        const auto start = scanner.integer();
        if (!start || *start < 0) return std::nullopt;
        auto end = *start;
        if (!scanner.atEnd()) {
            const auto separator = scanner.separators();
            if (separator == "-") {
                const auto last = scanner.integer();
                if (!last || *last < *start) return std::nullopt;
                end = *last;
                if (!scanner.atEnd() && scanner.separators() != ",") return std::nullopt;
            } else if (separator != ",") {
                return std::nullopt;
            }
        }
        ranges.emplace_back(static_cast<std::uint64_t>(*start), static_cast<std::uint64_t>(end));
    }
    return CVIndexSet(std::move(ranges));
}

}  // namespace ambrell
