#pragma once

#include <QString>
#include <QStringView>

namespace zeplo {

// Sizes count characters: a character beyond the Basic Multilingual Plane (an
// emoji, a rare CJK character) is two UTF-16 units of a QString but one
// character, as the server's varchar(n) counts it too.
qsizetype characterCount(QStringView text);

// The first `characters` characters of `text`, never half of one.
QString leftCharacters(const QString &text, qsizetype characters);

} // namespace zeplo
