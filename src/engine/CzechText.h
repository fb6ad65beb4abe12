#pragma once

#include <string>
#include <string_view>

// Text rules the catalogue applies to Czech text stored as UTF-8: the `like`
// comparison used by the searches and the key that gives Czech alphabetical order.
namespace zeplo::czech {

// SQL LIKE over UTF-8: '%' matches any run of characters (also none), '_' exactly
// one character (a whole code point). Letters compare without regard to case,
// Czech letters included. There is no escape character. Bytes that are not valid
// UTF-8 compare as themselves. Allocates nothing: it runs once per row of a scan.
bool likeMatch(std::string_view patternUtf8, std::string_view textUtf8);

// A byte string whose memcmp order is Czech alphabetical order:
//   a á b c č d ď e é ě f g h ch i í j k l m n ň o ó p q r ř s š t ť u ú ů v w x y ý z ž
// č, ř, š, ž and the digraph ch are letters of their own; the other accents, and
// then case (lower before upper), decide only between otherwise equal texts.
// Spaces and punctuation come before digits, digits before letters, and every
// other character after ž by code point. The empty text gives the empty key.
// The key holds no zero byte.
std::string sortKey(std::string_view textUtf8);

} // namespace zeplo::czech
