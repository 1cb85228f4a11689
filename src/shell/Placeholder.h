#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Merge-field placeholders: "[[" + field name + "]]".
// Only fields 1 to 10 (index 0 to 9) are searched, inserted or offered.
// All positions are CP932 byte positions counted from 0; texts are CP932.

constexpr int PlaceholderFieldCount = 10;

// "[[" + name + "]]".
std::string MakePlaceholder(std::string_view name);

// Placeholder of field `index` (0-based); empty text when `index` is not a
// valid index of `fieldNames`.
std::string FieldPlaceholder(const std::vector<std::string>& fieldNames, int index);

// Multibyte-aware search: the first occurrence of `pattern` in `text` that
// starts at or after `from` and at a character start (never at the second
// byte of a double-byte character); std::string_view::npos when none.
// An empty pattern is never found.
std::size_t SjisFind(std::string_view text, std::string_view pattern, std::size_t from = 0);

enum class PlaceholderSearch {
    Inside,     // s <  c <  s + L   (typing, mouse selection, insertion)
    Backspace,  // s <  c <= s + L   (inside or just after)
    Delete,     // s <= c <  s + L   (just before or inside)
};

struct PlaceholderSpan {
    int start = 0;
    int length = 0;
    bool operator==(const PlaceholderSpan&) const = default;
};

// Runs over field names 1 to 10 in order and, for each, over the occurrences
// of its placeholder from left to right; returns the first occurrence that
// passes the test of `kind` for caret `caret`, or nothing.
std::optional<PlaceholderSpan> FindPlaceholder(std::string_view text, const std::vector<std::string>& fieldNames,
                                               int caret, PlaceholderSearch kind);

inline std::optional<PlaceholderSpan> FindPlaceholderInside(std::string_view text,
                                                            const std::vector<std::string>& fieldNames, int caret) {
    return FindPlaceholder(text, fieldNames, caret, PlaceholderSearch::Inside);
}
inline std::optional<PlaceholderSpan> FindPlaceholderBackspace(std::string_view text,
                                                               const std::vector<std::string>& fieldNames, int caret) {
    return FindPlaceholder(text, fieldNames, caret, PlaceholderSearch::Backspace);
}
inline std::optional<PlaceholderSpan> FindPlaceholderDelete(std::string_view text,
                                                            const std::vector<std::string>& fieldNames, int caret) {
    return FindPlaceholder(text, fieldNames, caret, PlaceholderSearch::Delete);
}

struct WidenResult {
    int start = 0;       // new selection start
    int length = 0;      // new selection length
    bool moved = false;  // start != caret (the caret lay inside a placeholder, for the Inside search)
    bool operator==(const WidenResult&) const = default;
};

// WidenToPlaceholders:
// 1. start = start of the placeholder found around `caret` with `startSearch`,
//    or `caret` when none;
// 2. length > 0: end = end of the placeholder found around caret + length
//    with `endSearch`, or caret + length; length = end - start;
// 3. length == 0: length = the length of the placeholder of step 1, or 0.
// Typing, mouse selection and insertion: Inside / Inside. Backspace:
// Backspace / Backspace. Delete: Delete / Backspace.
WidenResult WidenToPlaceholders(std::string_view text, const std::vector<std::string>& fieldNames, int caret,
                                int length, PlaceholderSearch startSearch, PlaceholderSearch endSearch);
