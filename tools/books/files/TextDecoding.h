#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeplo::tool {

// A text file turned into UTF-8, and the encoding it was read in, as the user
// is told it ("UTF-8", "UTF-16LE", "Windows-1250", or the name asked for).
struct DecodedText {
    std::string utf8;
    std::string encoding;
};

// Decodes a whole text file. Without `encoding`: by its byte-order mark (UTF-8,
// UTF-16LE or UTF-16BE); else as UTF-8 when it is UTF-8; else as Windows-1250,
// what Czech spreadsheet programs write. A file that is none of these, or not
// in the encoding asked for, fails with BadLine at the line of its first bad byte.
// A text larger than kLargestText in UTF-8 is refused.
DecodedText decodeText(std::string_view bytes, const std::string &encoding);
inline constexpr std::size_t kLargestText = 128u << 20;

} // namespace zeplo::tool
