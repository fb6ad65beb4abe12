#include "engine/CzechSortKey.h"

#include <array>
#include <cstdint>
#include <cstring>

#include <QChar>
#include <QList>
#include <QString>

#include "engine/Utf8Folding.h"

namespace zeplo::czech {

namespace {

// The key is three levels, each a run of weights, joined by kLevelSeparator:
// level 1 the letters (base letters of the Czech alphabet), level 2 the accents,
// level 3 the case. Every level-1 unit has one byte at levels 2 and 3, so texts
// equal at level 1 have levels 2 and 3 of equal length. A level-1 unit's length
// follows from its first byte, so the units never run into each other.
//
// Level 1, in order: spaces, punctuation and controls of ASCII one byte each
// by code point (0x03..0x44); other punctuation kPunctuation and 3 bytes of
// the code point; digits; the alphabet; every other character kOther and 3
// bytes of the code point.

constexpr unsigned char kLevelSeparator = 0x02;
constexpr unsigned char kAsciiPunctuation = 0x03;
constexpr unsigned char kPunctuation = 0x45; // then 3 bytes of the code point
constexpr unsigned char kDigitZero = 0x46;   // '0'..'9' are 0x46..0x4F
constexpr unsigned char kLetterA = 0x50;     // the alphabet, one byte per letter
constexpr unsigned char kOther = 0x7E;       // then 3 bytes of the code point

// Weight of an ASCII letter (lower case) in the alphabet
// a b c č d e f g h ch i j k l m n o p q r ř s š t u v w x y z ž.
constexpr unsigned char letterWeight(char lower)
{
    int w = lower - 'a';
    if (lower > 'c')
        ++w; // č
    if (lower > 'h')
        ++w; // ch
    if (lower > 'r')
        ++w; // ř
    if (lower > 's')
        ++w; // š
    return static_cast<unsigned char>(kLetterA + w);
}
constexpr unsigned char kCh = letterWeight('h') + 1;
static_assert(letterWeight('z') + 1 < kOther);

constexpr bool takesOwnCaron(unsigned char weight)
{
    return weight == letterWeight('c') || weight == letterWeight('r') || weight == letterWeight('s')
        || weight == letterWeight('z');
}

// Level 2: no accent first, then acute before caron and ring (é before ě, ú before ů).
constexpr unsigned char kPlain = 0x03;
constexpr unsigned char kStroke = 0x11;   // ł, ø, đ ...: letters without a decomposition
constexpr unsigned char kLigature = 0x12; // ß, æ, œ ...: one character written as two letters
constexpr unsigned char kOtherMark = 0x13;

constexpr unsigned char accentWeight(char32_t mark)
{
    switch (mark) {
    case 0x301: return 0x04; // acute
    case 0x30C: return 0x05; // caron
    case 0x30A: return 0x06; // ring above
    case 0x300: return 0x07; // grave
    case 0x302: return 0x08; // circumflex
    case 0x308: return 0x09; // diaeresis
    case 0x30B: return 0x0A; // double acute
    case 0x303: return 0x0B; // tilde
    case 0x327: return 0x0C; // cedilla
    case 0x328: return 0x0D; // ogonek
    case 0x304: return 0x0E; // macron
    case 0x306: return 0x0F; // breve
    case 0x307: return 0x10; // dot above
    default: return kOtherMark;
    }
}

constexpr bool isCombiningMark(char32_t c) { return c >= 0x300 && c < 0x370; }

// Level 3.
constexpr unsigned char kLower = 0x03;
constexpr unsigned char kUpper = 0x04;

// How a Latin letter outside ASCII sorts: one or two alphabet letters and an accent.
struct LatinLetter {
    unsigned char primary[2] = {0, 0}; // primary[0] == 0: not a letter we place in the alphabet
    unsigned char secondary = kPlain;
    bool upper = false;
};

// Latin-1 Supplement, Latin Extended-A and -B, and Latin Extended Additional.
constexpr char32_t kLatinFirst = 0xC0, kLatinEnd = 0x250;
constexpr char32_t kAdditionalFirst = 0x1E00, kAdditionalEnd = 0x1F00;
constexpr std::size_t kLatinCount = (kLatinEnd - kLatinFirst) + (kAdditionalEnd - kAdditionalFirst);

void decomposeFully(char32_t c, QList<char32_t> &out)
{
    const QChar::Decomposition tag = QChar::decompositionTag(c);
    const QString parts = tag == QChar::Canonical || tag == QChar::Compat ? QChar::decomposition(c) : QString();
    if (parts.isEmpty()) {
        out.append(c);
        return;
    }
    for (char32_t part : parts.toUcs4())
        decomposeFully(part, out);
}

LatinLetter placeLatinLetter(char32_t c)
{
    LatinLetter letter;
    const char32_t lower = QChar::toLower(c);
    letter.upper = lower != c;

    auto set = [&](char a, char b, unsigned char secondary) {
        letter.primary[0] = letterWeight(a);
        letter.primary[1] = b ? letterWeight(b) : 0;
        letter.secondary = secondary;
        return letter;
    };
    switch (lower) {
    case 0xDF: return set('s', 's', kLigature);  // ß
    case 0xE6: return set('a', 'e', kLigature);  // æ
    case 0x153: return set('o', 'e', kLigature); // œ
    case 0xFE: return set('t', 'h', kLigature);  // þ
    case 0xF0: return set('d', 0, kLigature);    // ð
    case 0xF8: return set('o', 0, kStroke);      // ø
    case 0x111: return set('d', 0, kStroke);     // đ
    case 0x127: return set('h', 0, kStroke);     // ħ
    case 0x131: return set('i', 0, kStroke);     // dotless i
    case 0x138: return set('k', 0, kLigature);   // kra
    case 0x140: return set('l', 0, kStroke);     // ŀ
    case 0x142: return set('l', 0, kStroke);     // ł
    case 0x167: return set('t', 0, kStroke);     // ŧ
    case 0x180: return set('b', 0, kStroke);     // ƀ
    case 0x19A: return set('l', 0, kStroke);     // ƚ
    default: break;
    }

    QList<char32_t> parts;
    decomposeFully(lower, parts);
    if (parts.size() == 1 && parts.front() == lower)
        return {};
    // A base letter first (the only capital among the parts is İ's I), then
    // a second letter or accents.
    int units = 0;
    for (char32_t part : parts) {
        const bool lowerCase = part >= 'a' && part <= 'z';
        if (lowerCase || (part >= 'A' && part <= 'Z')) {
            if (units == 2)
                return {};   // three letters in one: no character of the tables' ranges
            letter.primary[units++] = letterWeight(static_cast<char>(lowerCase ? part : part - 'A' + 'a'));
        } else if (isCombiningMark(part) && units > 0) {
            // Only the first accent counts; č, ř, š, ž are letters of their own.
            if (letter.secondary != kPlain)
                continue;
            unsigned char &base = letter.primary[units - 1];
            if (part == 0x30C && takesOwnCaron(base))
                ++base;
            else
                letter.secondary = accentWeight(part);
        } else {
            return {};
        }
    }
    return letter;
}

const LatinLetter *latinLetter(char32_t c)
{
    static const std::array<LatinLetter, kLatinCount> table = [] {
        std::array<LatinLetter, kLatinCount> t{};
        std::size_t i = 0;
        for (char32_t ch = kLatinFirst; ch < kLatinEnd; ++ch)
            t[i++] = placeLatinLetter(ch);
        for (char32_t ch = kAdditionalFirst; ch < kAdditionalEnd; ++ch)
            t[i++] = placeLatinLetter(ch);
        return t;
    }();
    const LatinLetter *entry = nullptr;
    if (c >= kLatinFirst && c < kLatinEnd)
        entry = &table[c - kLatinFirst];
    else if (c >= kAdditionalFirst && c < kAdditionalEnd)
        entry = &table[(kLatinEnd - kLatinFirst) + (c - kAdditionalFirst)];
    return entry && entry->primary[0] ? entry : nullptr;
}

bool isSpaceOrPunctuation(char32_t c)
{
    if (QChar::isSpace(c) || QChar::isPunct(c) || QChar::isSymbol(c))
        return true;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

// Levels 2 and 3 of texts with fewer level-1 units are written sparsely; the
// position bytes 0x7F - position stay above every weight and separator.
constexpr std::size_t kSparseUnits = 0x6B;
static_assert(0x7F - kSparseUnits > 0x13, "position bytes above the accent weights");

// How an ASCII character sorts: one level-1 byte, plain, and its case.
struct AsciiWeight {
    unsigned char weight = 0;
    unsigned char tertiary = 0;
    bool c = false;   // c or C, which may start the letter ch
};

const AsciiWeight *asciiWeights()
{
    static const std::array<AsciiWeight, 128> table = [] {
        std::array<AsciiWeight, 128> t{};
        unsigned char punctuation = kAsciiPunctuation;
        for (int c = 0; c < 128; ++c) {
            const bool upper = c >= 'A' && c <= 'Z';
            if (upper || (c >= 'a' && c <= 'z'))
                t[size_t(c)] = {letterWeight(char(upper ? c - 'A' + 'a' : c)), upper ? kUpper : kLower, c == 'c' || c == 'C'};
            else if (c >= '0' && c <= '9')
                t[size_t(c)] = {static_cast<unsigned char>(kDigitZero + (c - '0')), kLower, false};
            else
                t[size_t(c)] = {punctuation++, kLower, false};
        }
        return t;
    }();
    return table.data();
}
static_assert(kAsciiPunctuation + 66 == kPunctuation, "128 ASCII codes less 62 letters and digits");

} // namespace

std::string sortKey(std::string_view textUtf8)
{
    std::string key;
    key.resize(sortKeyInto(textUtf8, key));
    return key;
}

namespace {

// Levels 2 and 3 are compared only between texts equal at level 1, whose
// levels have equal lengths and are mostly the lowest weight (no accent,
// lower case). A level keeps only what differs from that: its trailing lowest
// weights go, and a level left empty its separator, since the separator sorts
// below every weight. Up to kSparseUnits units a level is written as pairs of
// (0x7F - position, weight) for the other weights alone: where two texts first
// differ, the one with the weight at the earlier position has the larger
// position byte, so the order is that of the whole levels. Both texts compared
// have the same units, so they always take the same form.

// Gathers the pairs as the units come: for texts too short to reach kSparseUnits.
class SparseLevels {
public:
    SparseLevels(unsigned char *room, std::size_t n) : accents_(room), cases_(room + 2 * n + 2) {}
    void add(std::size_t unit, unsigned char accent, unsigned char tertiary)
    {
        if (accent != kPlain)
            this->accent(unit, accent);
        if (tertiary != kLower) {
            cases_[cased_++] = static_cast<unsigned char>(0x7F - unit);
            cases_[cased_++] = tertiary;
        }
    }
    bool plainAt(std::size_t unit) const
    {
        return accented_ == 0 || accents_[accented_ - 2] != 0x7F - unit;
    }
    void accent(std::size_t unit, unsigned char weight)
    {
        accents_[accented_++] = static_cast<unsigned char>(0x7F - unit);
        accents_[accented_++] = weight;
    }
    std::size_t write(unsigned char *key, std::size_t len, std::size_t) const
    {
        if (accented_ > 0 || cased_ > 0) {
            key[len++] = kLevelSeparator;
            std::memmove(key + len, accents_, accented_);
            len += accented_;
        }
        if (cased_ > 0) {
            key[len++] = kLevelSeparator;
            std::memmove(key + len, cases_, cased_);
            len += cased_;
        }
        return len;
    }

private:
    unsigned char *accents_, *cases_;
    std::size_t accented_ = 0, cased_ = 0;   // bytes of pairs
};

// Gathers every unit's weights: for texts that may reach kSparseUnits.
class FullLevels {
public:
    FullLevels(unsigned char *room, std::size_t n) : accents_(room), cases_(room + n + 1) {}
    void add(std::size_t unit, unsigned char accent, unsigned char tertiary)
    {
        accents_[unit] = accent;
        cases_[unit] = tertiary;
        if (accent != kPlain)
            accented_ = unit + 1;
        if (tertiary != kLower)
            cased_ = unit + 1;
    }
    bool plainAt(std::size_t unit) const { return accents_[unit] == kPlain; }
    void accent(std::size_t unit, unsigned char weight)
    {
        accents_[unit] = weight;
        accented_ = unit + 1;
    }
    std::size_t write(unsigned char *key, std::size_t len, std::size_t units) const
    {
        const bool sparse = units < kSparseUnits;
        const auto level = [&](const unsigned char *weights, std::size_t end, unsigned char lowest) {
            key[len++] = kLevelSeparator;
            if (!sparse) {
                std::memmove(key + len, weights, end);
                len += end;
                return;
            }
            for (std::size_t u = 0; u < end; ++u) {
                if (weights[u] != lowest) {
                    key[len++] = static_cast<unsigned char>(0x7F - u);
                    key[len++] = weights[u];
                }
            }
        };
        if (accented_ > 0 || cased_ > 0)
            level(accents_, accented_, kPlain);
        if (cased_ > 0)
            level(cases_, cased_, kLower);
        return len;
    }

private:
    unsigned char *accents_, *cases_;
    std::size_t accented_ = 0, cased_ = 0;   // units up to the last accent, the last capital
};

template <class Levels>
std::size_t buildKey(const unsigned char *s, std::size_t n, unsigned char *key, Levels &levels)
{
    const AsciiWeight *const ascii = asciiWeights();
    std::size_t len = 0, units = 0;
    unsigned char lastLetter = 0;   // weight of the last unit when it is one byte

    const auto unit = [&](unsigned char weight, unsigned char accent, unsigned char tertiary) {
        key[len++] = weight;
        levels.add(units++, accent, tertiary);
        lastLetter = weight;
    };
    const auto codePoint = [&](unsigned char group, char32_t c, unsigned char tertiary) {
        // Three digits in base 126, each written as 0x02..0x7F: order is
        // kept and the key stays within ASCII.
        key[len++] = group;
        key[len++] = static_cast<unsigned char>(c / (126 * 126) + 2);
        key[len++] = static_cast<unsigned char>(c / 126 % 126 + 2);
        key[len++] = static_cast<unsigned char>(c % 126 + 2);
        levels.add(units++, kPlain, tertiary);
        lastLetter = 0;
    };

    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            ++i;
            const AsciiWeight &w = ascii[b];
            if (w.c && i < n && (s[i] == 'h' || s[i] == 'H')) {
                // ch < cH < Ch < CH
                const int caseBits = (w.tertiary == kUpper ? 2 : 0) + (s[i] == 'H' ? 1 : 0);
                unit(kCh, kPlain, static_cast<unsigned char>(kLower + caseBits));
                ++i;
            } else {
                unit(w.weight, kPlain, w.tertiary);
            }
            continue;
        }
        std::size_t length;
        const char32_t c = decodeUtf8(s + i, n - i, length);
        i += length;
        if (c >= kInvalidByte) {
            codePoint(kOther, c, kLower);
            continue;
        }
        if (isCombiningMark(c) && units > 0) {
            // An accent after a character changes that character's accent, or
            // makes c, r, s, z into č, ř, š, ž; only the first one counts.
            if (levels.plainAt(units - 1)) {
                if (c == 0x30C && takesOwnCaron(lastLetter))
                    key[len - 1] = ++lastLetter;
                else
                    levels.accent(units - 1, accentWeight(c));
            }
            continue;
        }
        if (const LatinLetter *letter = latinLetter(c)) {
            const unsigned char tertiary = letter->upper ? kUpper : kLower;
            unit(letter->primary[0], letter->secondary, tertiary);
            if (letter->primary[1])
                unit(letter->primary[1], letter->secondary, tertiary);
            continue;
        }
        if (isSpaceOrPunctuation(c)) {
            codePoint(kPunctuation, c, kLower);
            continue;
        }
        const char32_t lower = QChar::toLower(c);
        codePoint(kOther, lower, lower != c ? kUpper : kLower);
    }
    return levels.write(key, len, units);
}

} // namespace

std::size_t sortKeyInto(std::string_view textUtf8, std::string &buffer)
{
    const std::size_t n = textUtf8.size();
    if (n == 0)
        return 0;
    // Level 1 takes at most 4 bytes for a byte of text, and there are no more
    // units than bytes; levels 2 and 3 are gathered behind the room for level
    // 1 (at most two bytes a unit each) and moved up to it at the end. One
    // pass, no allocation once the buffer has grown.
    if (buffer.size() < 8 * n + 8)
        buffer.resize(8 * n + 8);
    auto *const key = reinterpret_cast<unsigned char *>(buffer.data());
    const auto *s = reinterpret_cast<const unsigned char *>(textUtf8.data());
    if (n < kSparseUnits) {
        SparseLevels levels(key + 4 * n + 4, n);
        return buildKey(s, n, key, levels);
    }
    FullLevels levels(key + 4 * n + 4, n);
    return buildKey(s, n, key, levels);
}

} // namespace zeplo::czech
