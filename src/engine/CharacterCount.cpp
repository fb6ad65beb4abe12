#include "engine/CharacterCount.h"

namespace zeplo {

namespace {

// Where the character after `at` begins.
qsizetype nextCharacter(QStringView text, qsizetype at)
{
    return at + (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate() ? 2 : 1);
}

} // namespace

qsizetype characterCount(QStringView text)
{
    qsizetype count = 0;
    for (qsizetype at = 0; at < text.size(); at = nextCharacter(text, at))
        ++count;
    return count;
}

QString leftCharacters(const QString &text, qsizetype characters)
{
    qsizetype at = 0;
    for (qsizetype n = 0; n < characters && at < text.size(); ++n)
        at = nextCharacter(text, at);
    return text.left(at);
}

} // namespace zeplo
