#include "engine/CzechText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <QChar>
#include <QList>
#include <QString>

namespace zeplo::czech {

namespace {

// A byte that does not start a valid UTF-8 sequence decodes to this value plus
// the byte, which no real character can equal.
constexpr char32_t kInvalidByte = 0x110000;

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
char32_t foldOutsideTable(char32_t c)
{
    if (c >= kInvalidByte)
        return c;
    const char32_t folded = QChar::toCaseFolded(c);
    return folded < 0x80 ? c : folded;
}

constexpr char32_t kFoldTableSize = 0x250; // through Latin Extended-B

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

inline char32_t foldCase(const char32_t *table, char32_t c)
{
    return c < kFoldTableSize ? table[c] : foldOutsideTable(c);
}

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// The first position from `from` of a character that folds to `folded`.
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

// ---- sort key -------------------------------------------------------------------
//
// The key is three levels, each a run of weights, joined by kLevelSeparator:
// level 1 the letters (base letters of the Czech alphabet), level 2 the accents,
// level 3 the case. Every level-1 unit has one byte at levels 2 and 3, so texts
// equal at level 1 have levels 2 and 3 of equal length. A level-1 unit's length
// follows from its first byte, so the units never run into each other.

constexpr unsigned char kLevelSeparator = 0x01;
constexpr unsigned char kPunctuation = 0x02; // then 3 bytes of the code point
constexpr unsigned char kDigitZero = 0x03;   // '0'..'9' are 0x03..0x0C
constexpr unsigned char kLetterA = 0x20;     // the alphabet, one byte per letter
constexpr unsigned char kOther = 0x60;       // then 3 bytes of the code point

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
constexpr unsigned char kPlain = 0x02;
constexpr unsigned char kStroke = 0x10;   // ł, ø, đ ...: letters without a decomposition
constexpr unsigned char kLigature = 0x11; // ß, æ, œ ...: one character written as two letters
constexpr unsigned char kOtherMark = 0x12;

constexpr unsigned char accentWeight(char32_t mark)
{
    switch (mark) {
    case 0x301: return 0x03; // acute
    case 0x30C: return 0x04; // caron
    case 0x30A: return 0x05; // ring above
    case 0x300: return 0x06; // grave
    case 0x302: return 0x07; // circumflex
    case 0x308: return 0x08; // diaeresis
    case 0x30B: return 0x09; // double acute
    case 0x303: return 0x0A; // tilde
    case 0x327: return 0x0B; // cedilla
    case 0x328: return 0x0C; // ogonek
    case 0x304: return 0x0D; // macron
    case 0x306: return 0x0E; // breve
    case 0x307: return 0x0F; // dot above
    default: return kOtherMark;
    }
}

constexpr bool isCombiningMark(char32_t c) { return c >= 0x300 && c < 0x370; }

// Level 3.
constexpr unsigned char kLower = 0x02;
constexpr unsigned char kUpper = 0x03;

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
    if (tag != QChar::Canonical && tag != QChar::Compat) {
        out.append(c);
        return;
    }
    const QString parts = QChar::decomposition(c);
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
    int units = 0;
    for (char32_t part : parts) {
        if (part >= 'a' && part <= 'z') {
            if (units == 2)
                return {};
            letter.primary[units++] = letterWeight(static_cast<char>(part));
        } else if (part >= 'A' && part <= 'Z') {
            if (units == 2)
                return {};
            letter.primary[units++] = letterWeight(static_cast<char>(part - 'A' + 'a'));
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
    if (units == 0)
        return {};
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

// Writes the key into buffers sized for the worst case up front: a text of n
// bytes has at most n level-1 units (of at most 4 bytes) and two bytes per unit at
// the other levels. Appending byte by byte to growing strings was most of the cost.
class KeyBuilder {
public:
    explicit KeyBuilder(std::size_t textSize) : key_(6 * textSize + 2, '\0')
    {
        out_ = key_.data();
        if (2 * textSize > small_.size()) {
            large_.resize(2 * textSize);
            marks_ = large_.data();
        } else {
            marks_ = small_.data();
        }
    }
    KeyBuilder(const KeyBuilder &) = delete;
    KeyBuilder &operator=(const KeyBuilder &) = delete;

    void letter(unsigned char weight, unsigned char secondary, unsigned char tertiary)
    {
        out_[length_++] = static_cast<char>(weight);
        addMarks(secondary, tertiary);
        lastLetter_ = weight;
    }

    void codePoint(unsigned char group, char32_t c, unsigned char tertiary)
    {
        // 7 bits a byte, never zero, so order is kept and no byte is 0.
        out_[length_++] = static_cast<char>(group);
        out_[length_++] = static_cast<char>(((c >> 14) & 0x7F) + 1);
        out_[length_++] = static_cast<char>(((c >> 7) & 0x7F) + 1);
        out_[length_++] = static_cast<char>((c & 0x7F) + 1);
        addMarks(kPlain, tertiary);
        lastLetter_ = 0;
    }

    // A combining accent after a character: it changes that character's accent,
    // or makes c, r, s, z into č, ř, š, ž. False when there is no character before it.
    bool combine(char32_t mark)
    {
        if (marksLength_ == 0)
            return false;
        char &secondary = marks_[marksLength_ - 2];
        if (static_cast<unsigned char>(secondary) != kPlain)
            return true;
        if (mark == 0x30C && takesOwnCaron(lastLetter_))
            out_[length_ - 1] = static_cast<char>(++lastLetter_);
        else
            secondary = static_cast<char>(accentWeight(mark));
        return true;
    }

    std::string finish()
    {
        out_[length_++] = static_cast<char>(kLevelSeparator);
        for (std::size_t i = 0; i < marksLength_; i += 2)
            out_[length_++] = marks_[i];
        out_[length_++] = static_cast<char>(kLevelSeparator);
        for (std::size_t i = 1; i < marksLength_; i += 2)
            out_[length_++] = marks_[i];
        key_.resize(length_);
        return std::move(key_);
    }

private:
    void addMarks(unsigned char secondary, unsigned char tertiary)
    {
        marks_[marksLength_++] = static_cast<char>(secondary);
        marks_[marksLength_++] = static_cast<char>(tertiary);
    }

    std::string key_; // level 1, then the others when finished
    char *out_;
    std::size_t length_ = 0;
    std::array<char, 256> small_;
    std::string large_;
    char *marks_;              // levels 2 and 3, a pair of bytes per level-1 unit
    std::size_t marksLength_ = 0;
    unsigned char lastLetter_ = 0; // weight of the last unit when it is a single letter
};

} // namespace

bool likeMatch(std::string_view patternUtf8, std::string_view textUtf8)
{
    const auto *p = reinterpret_cast<const unsigned char *>(patternUtf8.data());
    const auto *t = reinterpret_cast<const unsigned char *>(textUtf8.data());
    const std::size_t pn = patternUtf8.size(), tn = textUtf8.size();
    const char32_t *table = foldTable();

    // Greedy matching that returns to the last '%' on a mismatch: a later '%'
    // makes going back to an earlier one pointless, so one position is enough.
    // After a '%' the text is skipped straight to where the next pattern
    // character occurs, which is what makes "%word%" fast.
    std::size_t pi = 0, ti = 0;
    std::size_t afterPercent = kNotFound, retryFrom = 0;
    char32_t literalAfterPercent = 0;
    bool skipToLiteral = false;
    while (ti < tn) {
        if (pi < pn) {
            if (p[pi] == '%') {
                while (pi < pn && p[pi] == '%')
                    ++pi;
                if (pi == pn)
                    return true;
                afterPercent = pi;
                skipToLiteral = p[pi] != '_';
                if (skipToLiteral) {
                    std::size_t len;
                    literalAfterPercent = foldCase(table, decodeUtf8(p + pi, pn - pi, len));
                    ti = findFolded(table, literalAfterPercent, t, ti, tn);
                    if (ti == kNotFound)
                        return false;
                }
                retryFrom = ti;
                continue;
            }
            // One pattern character against one text character; '_' is ASCII,
            // so both are single bytes on the common path.
            std::size_t plen = 1, tlen = 1;
            bool same;
            if (p[pi] < 0x80 && t[ti] < 0x80) {
                same = p[pi] == '_' || table[p[pi]] == table[t[ti]];
            } else {
                const char32_t tc = decodeUtf8(t + ti, tn - ti, tlen);
                if (p[pi] == '_') {
                    same = true;
                } else {
                    const char32_t pc = decodeUtf8(p + pi, pn - pi, plen);
                    same = pc == tc || foldCase(table, pc) == foldCase(table, tc);
                }
            }
            if (same) {
                pi += plen;
                ti += tlen;
                continue;
            }
        }
        if (afterPercent == kNotFound)
            return false;
        std::size_t skip;
        decodeUtf8(t + retryFrom, tn - retryFrom, skip);
        retryFrom += skip;
        if (skipToLiteral) {
            retryFrom = findFolded(table, literalAfterPercent, t, retryFrom, tn);
            if (retryFrom == kNotFound)
                return false;
        }
        ti = retryFrom;
        pi = afterPercent;
    }
    while (pi < pn && p[pi] == '%')
        ++pi;
    return pi == pn;
}

std::string sortKey(std::string_view textUtf8)
{
    if (textUtf8.empty())
        return {};
    const auto *s = reinterpret_cast<const unsigned char *>(textUtf8.data());
    const std::size_t n = textUtf8.size();
    KeyBuilder key(n);

    std::size_t i = 0;
    while (i < n) {
        std::size_t len;
        const char32_t c = decodeUtf8(s + i, n - i, len);
        i += len;

        if (c < 0x80) {
            const bool upper = c >= 'A' && c <= 'Z';
            if (upper || (c >= 'a' && c <= 'z')) {
                const char lower = static_cast<char>(upper ? c - 'A' + 'a' : c);
                if (lower == 'c' && i < n && (s[i] == 'h' || s[i] == 'H')) {
                    // ch < cH < Ch < CH
                    const int caseBits = (upper ? 2 : 0) + (s[i] == 'H' ? 1 : 0);
                    key.letter(kCh, kPlain, static_cast<unsigned char>(kLower + caseBits));
                    ++i;
                } else {
                    key.letter(letterWeight(lower), kPlain, upper ? kUpper : kLower);
                }
            } else if (c >= '0' && c <= '9') {
                key.letter(static_cast<unsigned char>(kDigitZero + (c - '0')), kPlain, kLower);
            } else {
                key.codePoint(kPunctuation, c, kLower);
            }
            continue;
        }
        if (c >= kInvalidByte) {
            key.codePoint(kOther, c, kLower);
            continue;
        }
        if (isCombiningMark(c) && key.combine(c))
            continue;
        if (const LatinLetter *letter = latinLetter(c)) {
            const unsigned char tertiary = letter->upper ? kUpper : kLower;
            key.letter(letter->primary[0], letter->secondary, tertiary);
            if (letter->primary[1])
                key.letter(letter->primary[1], letter->secondary, tertiary);
            continue;
        }
        if (isSpaceOrPunctuation(c)) {
            key.codePoint(kPunctuation, c, kLower);
            continue;
        }
        const char32_t lower = QChar::toLower(c);
        key.codePoint(kOther, lower, lower != c ? kUpper : kLower);
    }
    return key.finish();
}

} // namespace zeplo::czech
