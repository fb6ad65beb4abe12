#include "WorkbookCells.h"

#include <QXmlStreamReader>

#include <zip.h>

namespace {

const QString kOffice = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString kTable = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString kText = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");

void trim(QList<SheetCell> &row)
{
    while (!row.isEmpty() && row.last().kind == SheetCell::Empty)
        row.removeLast();
}

// An OpenDocument cell's text: a paragraph a line, <text:s/> spaces and <text:tab/> tabs.
QString odsText(QXmlStreamReader &xml)
{
    QString text;
    int paragraphs = 0;
    while (xml.readNext() != QXmlStreamReader::Invalid && !(xml.isEndElement() && xml.name() == u"table-cell")) {
        if (xml.isStartElement() && xml.namespaceUri() == kText && xml.name() == u"p" && paragraphs++ > 0)
            text += QLatin1Char('\n');
        else if (xml.isStartElement() && xml.name() == u"s")
            text += QString(qMax(1, xml.attributes().value(kText, QLatin1String("c")).toInt()), QLatin1Char(' '));
        else if (xml.isStartElement() && xml.name() == u"tab")
            text += QLatin1Char('\t');
        else if (xml.isCharacters())
            text += xml.text();
    }
    return text;
}

SheetCells odsCells(const QByteArray &content)
{
    SheetCells rows;
    QXmlStreamReader xml(content);
    while (!xml.atEnd() && !(xml.isEndElement() && xml.name() == u"table")) {
        xml.readNext();
        if (xml.isStartElement() && xml.namespaceUri() == kTable && xml.name() == u"table-row") {
            rows.append(QList<SheetCell>());
        } else if (xml.isEndElement() && xml.name() == u"table-row") {
            trim(rows.last());
        } else if (xml.isStartElement() && xml.namespaceUri() == kTable && xml.name() == u"table-cell") {
            const QXmlStreamAttributes attributes = xml.attributes();
            const QStringView type = attributes.value(kOffice, QLatin1String("value-type"));
            SheetCell cell;
            if (type == u"string") {
                cell = {SheetCell::Text, odsText(xml)};
            } else if (type == u"float") {
                cell = {SheetCell::Number, attributes.value(kOffice, QLatin1String("value")).toString()};
            } else if (!type.isEmpty()) {
                cell = {SheetCell::Other, type.toString()};
            }
            for (int n = qMax(1, attributes.value(kTable, QLatin1String("number-columns-repeated")).toInt()); n > 0; --n)
                rows.last().append(cell);
        }
    }
    return rows;
}

// The texts of <si> or <is>: the concatenated <t> within, up to the element's end.
QString xlsxText(QXmlStreamReader &xml, QStringView end)
{
    QString text;
    while (xml.readNext() != QXmlStreamReader::Invalid && !(xml.isEndElement() && xml.name() == end))
        if (xml.isStartElement() && xml.name() == u"t")
            text += xml.readElementText();
    return text;
}

SheetCells xlsxCells(const QByteArray &sheet, const QByteArray &sharedStrings)
{
    QStringList shared;
    QXmlStreamReader strings(sharedStrings);
    while (!strings.atEnd())
        if (strings.readNext() == QXmlStreamReader::StartElement && strings.name() == u"si")
            shared << xlsxText(strings, u"si");

    SheetCells rows;
    QXmlStreamReader xml(sheet);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"row") {
            while (rows.size() < xml.attributes().value(QLatin1String("r")).toInt())
                rows.append(QList<SheetCell>());
        } else if (xml.isEndElement() && xml.name() == u"row") {
            trim(rows.last());
        } else if (xml.isStartElement() && xml.name() == u"c") {
            int column = 0;
            for (const QChar c : xml.attributes().value(QLatin1String("r")))
                if (c.isLetter())
                    column = column * 26 + (c.unicode() - u'A' + 1);
            const QString type = xml.attributes().value(QLatin1String("t")).toString();
            SheetCell cell;
            while (xml.readNext() != QXmlStreamReader::Invalid && !(xml.isEndElement() && xml.name() == u"c")) {
                if (xml.isStartElement() && xml.name() == u"is") {
                    cell = {SheetCell::Text, xlsxText(xml, u"is")};
                } else if (xml.isStartElement() && xml.name() == u"v") {
                    const QString v = xml.readElementText();
                    if (type == u"s")
                        cell = {SheetCell::Text, shared.value(v.toInt())};
                    else if (type == u"str")
                        cell = {SheetCell::Text, v};
                    else if (type.isEmpty() || type == u"n")
                        cell = {SheetCell::Number, v};
                    else
                        cell = {SheetCell::Other, type};
                }
            }
            QList<SheetCell> &row = rows.last();
            while (row.size() < column)
                row.append(SheetCell());
            row[column - 1] = cell;
        }
    }
    return rows;
}

} // namespace

QByteArray zipPart(const QString &path, const char *name)
{
    QByteArray bytes;
    zip_t *archive = zip_open(path.toLocal8Bit().constData(), ZIP_RDONLY, nullptr);
    if (!archive)
        return bytes;
    zip_stat_t stat;
    if (zip_stat(archive, name, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)) {
        if (zip_file_t *file = zip_fopen(archive, name, 0)) {
            bytes.resize(qsizetype(stat.size));
            if (zip_fread(file, bytes.data(), stat.size) != zip_int64_t(stat.size))
                bytes.clear();
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return bytes;
}

FirstPart firstPart(const QString &path)
{
    FirstPart first;
    if (zip_t *archive = zip_open(path.toLocal8Bit().constData(), ZIP_RDONLY, nullptr)) {
        zip_stat_t stat;
        if (zip_stat_index(archive, 0, 0, &stat) == 0)
            first = {QString::fromUtf8(stat.name), stat.comp_method == ZIP_CM_STORE};
        zip_discard(archive);
    }
    return first;
}

SheetCells sheetCells(const QString &path)
{
    if (path.endsWith(QLatin1String(".ods")))
        return odsCells(zipPart(path, "content.xml"));
    return xlsxCells(zipPart(path, "xl/worksheets/sheet1.xml"), zipPart(path, "xl/sharedStrings.xml"));
}
