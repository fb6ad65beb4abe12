#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text rules the catalogue applies to Czech text stored as UTF-8: the `like`
// comparison used by the searches and the key that gives Czech alphabetical order.
namespace zeplo::czech {

// SQL LIKE over UTF-8: '%' matches any run of characters (also none), '_' exactly
// one character (a whole code point). Letters compare without regard to case,
// Czech letters included. There is no escape character. Bytes that are not valid
// UTF-8 compare as themselves.
bool likeMatch(std::string_view patternUtf8, std::string_view textUtf8);

// The same comparison with the pattern prepared once, for a scan that matches
// one pattern against many texts.
class LikePattern {
public:
    explicit LikePattern(std::string_view patternUtf8);
    bool matches(std::string_view textUtf8) const;

private:
    struct Form {
        std::array<unsigned char, 4> bytes{};
        std::size_t length = 0;
    };
    // The first character after a run of '%', looked for before anything is compared.
    struct Anchor {
        std::size_t at = 0;          // its offset in the pattern
        char32_t folded = 0;
        std::array<Form, 4> forms;   // its UTF-8 forms when they share a first byte
        std::size_t formCount = 0;   // 0: look for it character by character
    };
    static void placeAnchor(Anchor &anchor);
    static std::size_t find(const Anchor &anchor, const unsigned char *text, std::size_t from, std::size_t n);
    const Anchor *anchorAt(std::size_t at) const;

    std::string pattern_;
    const char32_t *table_;        // case folding of the first characters
    std::vector<Anchor> anchors_;
    std::vector<int> anchorAt_;    // by offset in the pattern: index into anchors_, or -1
};

// A byte string whose memcmp order is Czech alphabetical order:
//   a á b c č d ď e é ě f g h ch i í j k l m n ň o ó p q r ř s š t ť u ú ů v w x y ý z ž
// č, ř, š, ž and the digraph ch are letters of their own; the other accents, and
// then case (lower before upper), decide only between otherwise equal texts.
// Spaces and punctuation come before digits, digits before letters, and every
// other character after ž by code point. The empty text gives the empty key.
// The key's bytes are ASCII from 0x02 to 0x7F, so a byte below 0x02 appended
// to it sorts it before every longer key it begins, and the key keeps its order
// as text in any encoding.
std::string sortKey(std::string_view textUtf8);
// The same key written into `buffer` (grown when needed, never shrunk): the
// key is its first bytes, as many as returned. For a key per row of a scan.
std::size_t sortKeyInto(std::string_view textUtf8, std::string &buffer);

} // namespace zeplo::czech
