#include "shell/Placeholder.h"

#include <algorithm>

#include "shell/Codec.h"

namespace {

// First occurrence of `pattern` at a character start at or after `from`.
// `cursor` is a character start not beyond any candidate still to come; it
// is advanced as the search walks on, so a run of searches over one text
// with growing `from` walks the text once.
std::size_t FindFrom(std::string_view text, std::string_view pattern, std::size_t from, std::size_t& cursor) {
    if (pattern.empty()) return std::string_view::npos;
    while (from <= text.size()) {
        std::size_t c = text.find(pattern, from);
        if (c == std::string_view::npos) return c;
        while (cursor < c) cursor += SjisCharLen(text, cursor);
        if (cursor == c) return c;
        from = cursor;  // c sat on a second byte; the next start is the cursor
    }
    return std::string_view::npos;
}

bool Passes(long long s, long long len, long long c, PlaceholderSearch kind) {
    switch (kind) {
        case PlaceholderSearch::Inside: return s < c && c < s + len;
        case PlaceholderSearch::Backspace: return s < c && c <= s + len;
        case PlaceholderSearch::Delete: return s <= c && c < s + len;
    }
    return false;
}

}  // namespace

std::string MakePlaceholder(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 4);
    out += "[[";
    out += name;
    out += "]]";
    return out;
}

std::string FieldPlaceholder(const std::vector<std::string>& fieldNames, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= fieldNames.size()) return std::string();
    return MakePlaceholder(fieldNames[index]);
}

std::size_t SjisFind(std::string_view text, std::string_view pattern, std::size_t from) {
    std::size_t cursor = 0;
    return FindFrom(text, pattern, from, cursor);
}

std::optional<PlaceholderSpan> FindPlaceholder(std::string_view text, const std::vector<std::string>& fieldNames,
                                               int caret, PlaceholderSearch kind) {
    const std::size_t fields = std::min<std::size_t>(PlaceholderFieldCount, fieldNames.size());
    for (std::size_t f = 0; f < fields; ++f) {
        const std::string ph = MakePlaceholder(fieldNames[f]);
        std::size_t cursor = 0;
        std::size_t s = FindFrom(text, ph, 0, cursor);
        while (s != std::string_view::npos) {
            if (static_cast<long long>(s) > caret) break;  // every test needs s <= caret
            if (Passes(static_cast<long long>(s), static_cast<long long>(ph.size()), caret, kind))
                return PlaceholderSpan{static_cast<int>(s), static_cast<int>(ph.size())};
            s = FindFrom(text, ph, s + ph.size(), cursor);
        }
    }
    return std::nullopt;
}

WidenResult WidenToPlaceholders(std::string_view text, const std::vector<std::string>& fieldNames, int caret,
                                int length, PlaceholderSearch startSearch, PlaceholderSearch endSearch) {
    WidenResult r;
    const auto first = FindPlaceholder(text, fieldNames, caret, startSearch);
    r.start = first ? first->start : caret;
    if (length > 0) {
        const int selEnd = caret + length;
        const auto last = FindPlaceholder(text, fieldNames, selEnd, endSearch);
        const int end = last ? last->start + last->length : selEnd;
        r.length = end - r.start;
    } else {
        r.length = first ? first->length : 0;
    }
    r.moved = r.start != caret;
    return r;
}
