#pragma once

#include <cstddef>
#include <vector>

// UTF-8 as the Czech text rules read it: one character at a time, invalid
// bytes as characters of their own, and simple case folding.
namespace zeplo::czech {

// A byte that does not start a valid UTF-8 sequence decodes to this value plus
// the byte, which no real character can equal.
inline constexpr char32_t kInvalidByte = 0x110000;

// Decodes one character at `s` (n > 0 bytes available) and stores its length.
// Overlong forms, surrogates and truncated sequences count as single invalid bytes.
inline char32_t decodeUtf8(const unsigned char *s, std::size_t n, std::size_t &len)
{
    const unsigned b0 = s[0];
    len = 1;
    if (b0 < 0x80)
        return b0;
    auto cont = [&](std::size_t i) { return i < n && (s[i] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 < 0xE0) {
        if (cont(1)) {
            len = 2;
            return ((b0 & 0x1F) << 6) | (s[1] & 0x3F);
        }
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        if (cont(1) && cont(2)) {
            const char32_t c = ((b0 & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
            if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
                len = 3;
                return c;
            }
        }
    } else if (b0 >= 0xF0 && b0 < 0xF5) {
        if (cont(1) && cont(2) && cont(3)) {
            const char32_t c = ((b0 & 0x07) << 18) | ((s[1] & 0x3F) << 12) | ((s[2] & 0x3F) << 6)
                | (s[3] & 0x3F);
            if (c >= 0x10000 && c <= 0x10FFFF) {
                len = 4;
                return c;
            }
        }
    }
    return kInvalidByte + b0;
}

// Simple case folding, with one rule of our own: a character outside ASCII never
// folds into ASCII (as the Kelvin sign would into "k"), so an ASCII letter of a
// pattern can be looked for byte by byte.
char32_t foldOutsideTable(char32_t c);

inline constexpr char32_t kFoldTableSize = 0x250; // through Latin Extended-B

const char32_t *foldTable();

inline char32_t foldCase(const char32_t *table, char32_t c)
{
    return c < kFoldTableSize ? table[c] : foldOutsideTable(c);
}

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// The first position from `from` of a character that folds to `folded`.
std::size_t findFolded(const char32_t *table, char32_t folded, const unsigned char *t,
                       std::size_t from, std::size_t n);

// Every character that folds to `folded`, a character of the Basic
// Multilingual Plane (itself included when it folds to itself), found in a
// table of the plane's characters that fold to another, made on first use.
std::vector<char32_t> foldedForms(char32_t folded);

} // namespace zeplo::czech
