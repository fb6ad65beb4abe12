#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The `like` comparison the catalogue's searches use on Czech text stored as UTF-8.
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

} // namespace zeplo::czech
