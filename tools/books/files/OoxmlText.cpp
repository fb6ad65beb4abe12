#include "OoxmlText.h"

namespace zeplo::tool {

namespace {

// The character of an escape _xHHHH_ at `i`, or -1.
int escapeAt(const QString &text, qsizetype i)
{
    if (i + 6 >= text.size() || text[i] != QLatin1Char('_') || text[i + 1] != QLatin1Char('x')
        || text[i + 6] != QLatin1Char('_'))
        return -1;
    bool ok = false;
    const int code = text.mid(i + 2, 4).toInt(&ok, 16);
    return ok && !text[i + 2].isSpace() && text[i + 2] != QLatin1Char('+') && text[i + 2] != QLatin1Char('-') ? code
                                                                                                             : -1;
}

} // namespace

QString escapedOoxml(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (escapeAt(text, i) >= 0 || (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n')))
            out += QStringLiteral("_x") + QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper()
                   + QLatin1Char('_');
        else
            out += c;
    }
    return out;
}

QString unescapedOoxml(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int code = escapeAt(text, i);
        if (code >= 0) {
            out += QChar(static_cast<char16_t>(code));
            i += 6;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace zeplo::tool
