#include "XmlGuard.h"

#include <cstring>

#include "books/Books.h"

namespace zeplo::tool {

void XmlGuard::refuse(const std::string &why)
{
    if (refusal_.empty())
        refusal_ = why;
}

void XmlGuard::enterTag()
{
    state_ = State::Tag;
    token_ = 1;
    opening_[0] = '<';
    opened_ = 1;
    quote_ = 0;
    last_ = beforeLast_ = 0;
    attributes_ = 0;
    endTag_ = false;
}

void XmlGuard::tagOpening(char c)
{
    opening_[opened_++] = c;
    const auto opens = [&](const char *markup) {
        return static_cast<std::size_t>(opened_) == std::strlen(markup) && std::memcmp(opening_, markup, opened_) == 0;
    };
    State special = State::Tag;
    if (opens("<?"))
        special = State::Instruction;
    else if (opens("<!--"))
        special = State::Comment;
    else if (opens("<![CDATA["))
        special = State::CData;
    else if (opens("</"))
        endTag_ = true;
    else if (opens("<!DOCTYPE"))
        refuse(say("declares a DTD (<!DOCTYPE …>), which spreadsheet programs never write",
                   "deklaruje DTD (<!DOCTYPE …>), které tabulkové programy nikdy nezapisují"));
    if (special != State::Tag) {
        state_ = special;
        last_ = beforeLast_ = 0;
    }
}

const std::string &XmlGuard::scan(const char *data, std::size_t size)
{
    if (!refusal_.empty() || size == 0)
        return refusal_;
    if (std::memchr(data, 0, size))
        refuse(say("holds a zero byte: it is not UTF-8 text, as spreadsheet programs write",
                   "obsahuje nulový bajt: není to text UTF-8, jak ho zapisují tabulkové programy"));
    std::size_t i = 0;
    while (i < size && refusal_.empty()) {
        if (state_ == State::Text) {
            const auto *open = static_cast<const char *>(std::memchr(data + i, '<', size - i));
            const std::size_t end = open ? static_cast<std::size_t>(open - data) : size;
            token_ += end - i;
            i = end;
            if (token_ > kLongestToken)
                break;
            if (open) {
                enterTag();
                ++i;
            }
            continue;
        }
        const char c = data[i++];
        ++token_;
        if (state_ == State::Tag) {
            if (opened_ < static_cast<int>(sizeof opening_)) {
                tagOpening(c);
                if (state_ != State::Tag)
                    continue;
            }
            if (quote_) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '"' || c == '\'') {
                quote_ = c;
            } else if (c == '=') {
                if (++attributes_ > kMostAttributes)
                    refuse(say("has an element with more than 256 attributes", "má prvek s víc než 256 atributy"));
            } else if (c == '>') {
                if (endTag_)
                    --depth_;
                else if (last_ != '/' && ++depth_ > kDeepestNesting)
                    refuse(say("nests its elements more than 256 deep",
                               "vnořuje prvky víc než 256 úrovní hluboko"));
                if (!endTag_ && ++elements_ > kMostElements)
                    refuse(say("has more than 16,777,216 elements, more than a workbook of books holds",
                               "má víc než 16 777 216 prvků, víc, než má sešit knih"));
                state_ = State::Text;
                token_ = 0;
            }
        } else if (c == '>'
                   && ((state_ == State::Comment && last_ == '-' && beforeLast_ == '-')
                       || (state_ == State::CData && last_ == ']' && beforeLast_ == ']')
                       || (state_ == State::Instruction && last_ == '?'))) {
            state_ = State::Text;
            token_ = 0;
        }
        beforeLast_ = last_;
        last_ = c;
        if (token_ > kLongestToken)
            break;
    }
    if (token_ > kLongestToken)
        refuse(say("holds a text or a tag longer than 16 MiB", "obsahuje text nebo značku delší než 16 MiB"));
    return refusal_;
}

} // namespace zeplo::tool
