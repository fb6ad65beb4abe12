#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zeplo::tool {

// Looks at the bytes of an XML part on their way to the XML reader and refuses,
// before the reader has to hold or work through them, what no spreadsheet
// program writes and what would make the reader's memory or time grow without
// bound: a DTD (<!DOCTYPE ...>, the only place entities are declared), a zero
// byte (UTF-16 or UTF-32 text, which spreadsheets never write and whose tags
// this watch could not see), a token (a text, a tag, a comment) longer than
// kLongestToken, a tag with more attributes than kMostAttributes (the reader
// compares each with every other), elements nested deeper than kDeepestNesting,
// and more elements than kMostElements, each of which costs the reader time
// however little it holds (a workbook of 100,000 books has about 3 million).
class XmlGuard {
public:
    static constexpr std::uint64_t kLongestToken = 16u << 20;
    static constexpr int kMostAttributes = 256;
    static constexpr int kDeepestNesting = 256;
    static constexpr std::uint64_t kMostElements = 16u << 20;

    // Why the bytes are refused, as what the part does ("declares a DTD ..."),
    // in the chosen language; empty while they pass. Once refused, it stays so.
    const std::string &scan(const char *data, std::size_t size);

private:
    enum class State { Text, Tag, Comment, CData, Instruction };
    void refuse(const std::string &why);
    void enterTag();
    // A byte of a tag's first nine, which say what kind of markup it is.
    void tagOpening(char c);

    State state_ = State::Text;
    std::uint64_t token_ = 0; // bytes of the token being read
    char opening_[9] = {};    // the first bytes of the markup from its '<'
    int opened_ = 0;
    char quote_ = 0;          // inside an attribute's value
    char last_ = 0, beforeLast_ = 0;
    int attributes_ = 0;
    int depth_ = 0;
    std::uint64_t elements_ = 0;
    bool endTag_ = false;
    std::string refusal_;
};

} // namespace zeplo::tool
