#include "engine/Utf8Folding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include <QChar>

namespace zeplo::czech {

char32_t foldOutsideTable(char32_t c)
{
    if (c >= kInvalidByte)
        return c;
    const char32_t folded = QChar::toCaseFolded(c);
    return folded < 0x80 ? c : folded;
}

const char32_t *foldTable()
{
    static const std::array<char32_t, kFoldTableSize> table = [] {
        std::array<char32_t, kFoldTableSize> t{};
        for (char32_t c = 0; c < kFoldTableSize; ++c)
            t[c] = c < 0x80 ? ((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c) : foldOutsideTable(c);
        return t;
    }();
    return table.data();
}

std::size_t findFolded(const char32_t *table, char32_t folded, const unsigned char *t,
                       std::size_t from, std::size_t n)
{
    if (folded < 0x80) {
        // ASCII bytes never occur inside a longer character, and only ASCII folds to ASCII.
        if (folded >= 'a' && folded <= 'z') {
            for (std::size_t i = from; i < n; ++i)
                if ((t[i] | 0x20) == folded)
                    return i;
            return kNotFound;
        }
        const void *hit = std::memchr(t + from, static_cast<int>(folded), n - from);
        return hit ? static_cast<std::size_t>(static_cast<const unsigned char *>(hit) - t) : kNotFound;
    }
    std::size_t len;
    for (std::size_t i = from; i < n; i += len)
        if (foldCase(table, decodeUtf8(t + i, n - i, len)) == folded)
            return i;
    return kNotFound;
}

// Every character that folds to `folded`, a character of the Basic
// Multilingual Plane (itself included when it folds to itself), found in a
// table of the plane's characters that fold to another, made on first use.
std::vector<char32_t> foldedForms(char32_t folded)
{
    static const std::vector<std::pair<char32_t, char32_t>> folding = [] {
        const char32_t *table = foldTable();
        std::vector<std::pair<char32_t, char32_t>> pairs;
        // The Basic Multilingual Plane only: no character beyond it folds into it.
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            if (c == 0xD800)
                c = 0xE000;   // surrogates are no characters
            const char32_t f = foldCase(table, c);
            if (f != c)
                pairs.emplace_back(f, c);
        }
        std::sort(pairs.begin(), pairs.end());
        return pairs;
    }();
    std::vector<char32_t> forms;
    if (foldCase(foldTable(), folded) == folded)
        forms.push_back(folded);
    auto it = std::lower_bound(folding.begin(), folding.end(), std::make_pair(folded, char32_t(0)));
    for (; it != folding.end() && it->first == folded; ++it)
        forms.push_back(it->second);
    return forms;
}

} // namespace zeplo::czech
