#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The key that gives Czech alphabetical order to text stored as UTF-8.
namespace zeplo::czech {

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
