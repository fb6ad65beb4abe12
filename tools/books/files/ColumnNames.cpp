#include "ColumnNames.h"

#include <QString>

#include "books/Books.h"

namespace zeplo::tool {

namespace {

QString folded(std::string_view name)
{
    const QString decomposed = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
                                   .normalized(QString::NormalizationForm_KD);
    QString out;
    for (const QChar c : decomposed)
        if (!c.isMark() && !c.isSpace() && c != QLatin1Char('_'))
            out += c.toLower();
    return out;
}

} // namespace

const char *czechName(std::size_t column)
{
    static const char *const names[kColumnCount] = {"id",    "Autor",    "Název",    "Žánr",   "Rok vydání",
                                                    "Popis", "Vlastním", "Přečteno", "Půjčeno"};
    return names[column];
}

std::string columnTitle(std::size_t column) { return say(kColumns[column].name, czechName(column)); }

int columnNamed(std::string_view header)
{
    const QString name = folded(header);
    for (std::size_t i = 0; i < kColumnCount; ++i)
        if (name == folded(kColumns[i].name))
            return static_cast<int>(i);
    return -1;
}

} // namespace zeplo::tool
