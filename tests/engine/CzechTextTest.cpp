#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/CzechLike.h"
#include "engine/CzechSortKey.h"

using namespace zeplo;

using czech::likeMatch;
using czech::sortKey;

namespace {

// The order the key promises is memcmp order, so compare exactly that way.
int compareKeys(const std::string &a, const std::string &b)
{
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0)
        return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

::testing::AssertionResult sortsBefore(const std::string &a, const std::string &b)
{
    if (compareKeys(sortKey(a), sortKey(b)) < 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << '"' << a << "\" does not sort before \"" << b << '"';
}

// Checks that every text sorts strictly before the next one, as it is and
// after a beginning long enough that the keys take their long form.
void expectAscending(const std::vector<std::string> &texts)
{
    const std::string beginning(150, 'e');
    for (std::size_t i = 1; i < texts.size(); ++i) {
        EXPECT_TRUE(sortsBefore(texts[i - 1], texts[i]));
        EXPECT_TRUE(sortsBefore(beginning + texts[i - 1], beginning + texts[i]));
    }
}

} // namespace

TEST(CzechTextLike, Wildcards)
{
    EXPECT_TRUE(likeMatch("%", ""));
    EXPECT_TRUE(likeMatch("%", "cokoli"));
    EXPECT_TRUE(likeMatch("", ""));
    EXPECT_FALSE(likeMatch("", "a"));
    EXPECT_FALSE(likeMatch("a", ""));
    EXPECT_TRUE(likeMatch("%%", ""));

    EXPECT_TRUE(likeMatch("Pra%", "Praha"));
    EXPECT_FALSE(likeMatch("Pra%", "Stará Praha"));
    EXPECT_TRUE(likeMatch("%ha", "Praha"));
    EXPECT_FALSE(likeMatch("%ha", "Prahou"));
    EXPECT_TRUE(likeMatch("%ra%", "Praha"));
    EXPECT_FALSE(likeMatch("%xy%", "Praha"));

    EXPECT_TRUE(likeMatch("a_c", "abc"));
    EXPECT_FALSE(likeMatch("a_c", "ac"));
    EXPECT_FALSE(likeMatch("a_c", "abbc"));
    EXPECT_TRUE(likeMatch("a%c", "ac"));
    EXPECT_TRUE(likeMatch("%_", "x"));
    EXPECT_FALSE(likeMatch("%_", ""));

    // Needs going back after a partial match.
    EXPECT_TRUE(likeMatch("%aab", "aaab"));
    EXPECT_TRUE(likeMatch("a%b%c", "aXbYbZc"));
    EXPECT_FALSE(likeMatch("a%b%c", "aXbYbZ"));
    EXPECT_TRUE(likeMatch("%ab%ab", "abxabab"));
    EXPECT_FALSE(likeMatch("%ab%ab", "abxaba"));

    // No escape character: the backslash is an ordinary character.
    EXPECT_TRUE(likeMatch("50\\%", "50\\ procent"));
    EXPECT_FALSE(likeMatch("50\\%", "50 procent"));
}

TEST(CzechTextLike, IgnoresCaseOfEveryCzechLetter)
{
    const std::vector<std::string> lower = {"a", "á", "b", "c", "č", "d", "ď", "e", "é", "ě", "f",
                                            "g", "h", "i", "í", "j", "k", "l", "m", "n", "ň", "o",
                                            "ó", "p", "q", "r", "ř", "s", "š", "t", "ť", "u", "ú",
                                            "ů", "v", "w", "x", "y", "ý", "z", "ž"};
    const std::vector<std::string> upper = {"A", "Á", "B", "C", "Č", "D", "Ď", "E", "É", "Ě", "F",
                                            "G", "H", "I", "Í", "J", "K", "L", "M", "N", "Ň", "O",
                                            "Ó", "P", "Q", "R", "Ř", "S", "Š", "T", "Ť", "U", "Ú",
                                            "Ů", "V", "W", "X", "Y", "Ý", "Z", "Ž"};
    ASSERT_EQ(lower.size(), upper.size());
    for (std::size_t i = 0; i < lower.size(); ++i) {
        EXPECT_TRUE(likeMatch(lower[i], upper[i])) << lower[i];
        EXPECT_TRUE(likeMatch(upper[i], lower[i])) << upper[i];
        EXPECT_TRUE(likeMatch("%" + lower[i] + "%", "x" + upper[i] + "x")) << lower[i];
    }
    EXPECT_TRUE(likeMatch("%Čapek%", "Karel čapek"));
    EXPECT_TRUE(likeMatch("%čapek%", "ČAPEK Karel"));
    EXPECT_TRUE(likeMatch("%ŘÍŠE%", "Říše loutek"));
    // Other Latin letters and other scripts fold too.
    EXPECT_TRUE(likeMatch("müller", "MÜLLER"));
    EXPECT_TRUE(likeMatch("%łódź%", "ŁÓDŹ"));
    EXPECT_TRUE(likeMatch("толстой", "Толстой"));
    // Accents are not ignored.
    EXPECT_FALSE(likeMatch("%capek%", "Čapek"));
    EXPECT_FALSE(likeMatch("dama", "dáma"));
    // The letter after a '%' is looked for first, by its forms: of three
    // bytes, of first bytes that differ (ß, ẞ), beyond the Basic Multilingual
    // Plane; a first byte it shares with another letter, also cut off at the end.
    EXPECT_TRUE(likeMatch("%ⓐ%", "xⒶx"));
    EXPECT_TRUE(likeMatch("%ß%", "STRAẞE"));
    EXPECT_TRUE(likeMatch("%\U00010428%", "x\U00010400"));   // Deseret
    EXPECT_TRUE(likeMatch("%ž%", "řeka Žije"));
    EXPECT_FALSE(likeMatch("%ž%", "řeka\xc5"));
    EXPECT_TRUE(likeMatch("%_b%c", "abxC"));
    EXPECT_FALSE(likeMatch("%_b%c", "bxc"));
}

TEST(CzechTextLike, UnderscoreIsOneWholeCharacter)
{
    EXPECT_TRUE(likeMatch("_apek", "Čapek"));
    EXPECT_FALSE(likeMatch("__apek", "Čapek"));
    EXPECT_TRUE(likeMatch("_", "ř"));
    EXPECT_TRUE(likeMatch("_", "€"));       // three bytes
    EXPECT_TRUE(likeMatch("_", "\U0001F600")); // four bytes
    EXPECT_FALSE(likeMatch("_", "řa"));
    EXPECT_TRUE(likeMatch("ko_ka", "kočka"));
    EXPECT_TRUE(likeMatch("%_ka", "kočka"));
}

TEST(CzechTextLike, InvalidUtf8ComparesByteForByte)
{
    EXPECT_TRUE(likeMatch("%", "\xff\xfe"));
    EXPECT_TRUE(likeMatch("__", "\xff\xfe"));
    EXPECT_FALSE(likeMatch("_", "\xff\xfe"));
    EXPECT_TRUE(likeMatch("%\xff%", "a\xff" "b"));
    EXPECT_FALSE(likeMatch("%\xfe%", "a\xff" "b"));
    // A lone lead byte at the end, in either argument.
    EXPECT_TRUE(likeMatch("ab\xc5", "AB\xc5"));
    EXPECT_FALSE(likeMatch("\xc5", "ř"));
    EXPECT_FALSE(likeMatch("ř", "\xc5"));
    EXPECT_TRUE(likeMatch("%_", "abc\xe2\x82"));
    // An overlong "A" is two invalid bytes, not a letter.
    EXPECT_FALSE(likeMatch("a", "\xc1\x81"));
    EXPECT_TRUE(likeMatch("__", "\xc1\x81"));
    // So is every byte of an overlong "€", a surrogate, a sequence cut short and one past the last
    // character; the real "€" and a real four-byte character are one character each.
    for (const std::string odd : {"\xe0\x82\xac", "\xed\xa0\x80", "\xe2\x82" "a", "\xe2" "aa", "\xf0\x9f\x98" "a",
                                  "\xf0" "aaa", "\xf4\x90\x80\x80"}) {
        EXPECT_TRUE(likeMatch(std::string(odd.size(), '_'), odd)) << odd;
        EXPECT_FALSE(likeMatch(std::string(odd.size() - 1, '_'), odd)) << odd;
    }
    EXPECT_TRUE(likeMatch("_", "\xe2\x82\xac"));
    EXPECT_TRUE(likeMatch("_", "\xf0\x9f\x98\x80"));
}

TEST(CzechTextSortKey, AlphabetIsInCzechOrder)
{
    expectAscending({"a", "á", "b", "c", "č", "d", "ď", "e", "é", "ě", "f", "g", "h", "ch",
                     "i", "í", "j", "k", "l", "m", "n", "ň", "o", "ó", "p", "q", "r", "ř",
                     "s", "š", "t", "ť", "u", "ú", "ů", "v", "w", "x", "y", "ý", "z", "ž"});
}

TEST(CzechTextSortKey, CaronLettersAndChAreLettersOfTheirOwn)
{
    expectAscending({"cukr", "čaj", "dům"});
    expectAscending({"hrad", "chata", "idea"});
    expectAscending({"Hrabal", "Chalupa", "Ibsen"});
    expectAscending({"rychlý", "řeka", "sako"});
    expectAscending({"syn", "šál", "tma"});
    expectAscending({"zvon", "žába"});
    expectAscending({"Cyril", "CHARVÁT", "Chvojka"});
    // A decomposed caron makes the same letter as the composed one.
    EXPECT_EQ(sortKey("c\xcc\x8c" "apek"), sortKey("čapek"));
    EXPECT_EQ(sortKey("S\xcc\x8c" "ebek"), sortKey("Šebek"));
    for (std::size_t length = 100; length < 112; ++length)   // around where long keys change their form
        EXPECT_EQ(sortKey(std::string(length, 'e') + "e\xcc\x81" "c\xcc\x8c"), sortKey(std::string(length, 'e') + "éč"));
}

TEST(CzechTextSortKey, AccentsAndCaseDecideOnlyBetweenEqualLetters)
{
    expectAscending({"dama", "dáma", "damy"});
    expectAscending({"sele", "selé", "selě", "selka"});
    expectAscending({"kura", "kúra", "kůra", "kurt"});
    expectAscending({"novák", "Novák", "nováka"});
    expectAscending({"chata", "cHata", "Chata", "CHATA", "chaty"});
    expectAscending({"dama", "Dama", "dáma"});
    // Between equal letters the first difference decides, wherever it stands,
    // in short texts and in long ones alike.
    expectAscending({"damá", "dáma", "dámá"});
    expectAscending({"daMa", "Dama", "DAMA"});
    const std::string longText(150, 'e');
    expectAscending({longText + "e", longText + "é", "é" + longText});
    // Foreign letters sort with their base letter.
    expectAscending({"Muller", "Müller", "Mullerová"});
    expectAscending({"Lukas", "Łukasz", "Lukáš"});
    expectAscending({"Strasse", "Straße", "Strassen"});
    expectAscending({"Nguyen", "Nguyễn", "Nguyenová"});   // Latin Extended Additional
    expectAscending({"Istanbul", "İstanbul", "Istanbuly"});
    // A capital in a long text, as in a short one.
    expectAscending({longText + "e", longText + "E", "E" + longText});
}

TEST(CzechTextSortKey, PunctuationThenDigitsThenLettersThenOtherScripts)
{
    expectAscending({"", " ", "!", "-", "0", "1", "10", "2", "9", "a", "ž", "Ωmega", "Алёна"});
    expectAscending({"Jan Neruda", "Jan-Neruda", "Jana"});
    expectAscending({"Алёна", "алёнка"});
    // Other spaces, controls, punctuation and symbols before the digits, by code point.
    expectAscending({"~", "\u0080", "\u00a0", "\u00a7", "\u200b", "\u2013", "\u201e", "\u20ac", "0"});
    EXPECT_TRUE(sortKey("").empty());
}

TEST(CzechTextSortKey, InvalidUtf8AndControlCharactersAreSafe)
{
    const std::vector<std::string> odd = {std::string("a\0b", 3), "\xff", "\xc5", "ab\xe2\x82",
                                          "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x01"};
    for (const std::string &text : odd) {
        const std::string key = sortKey(text);
        EXPECT_FALSE(key.empty());
        EXPECT_EQ(key.find('\0'), std::string::npos);
        EXPECT_EQ(key, sortKey(text));
    }
    // Bytes that are no character sort after every letter, in short keys and long ones.
    expectAscending({"ab", "ab\xe2\x82", "ž", "\xfe", "\xff"});
    // A combining mark with no letter before it is a sign of its own, after the letters.
    EXPECT_TRUE(sortsBefore("ž", "\xcc\x81"));
    expectAscending({"a\xff", "a\xff\xcc\x81"});
}
