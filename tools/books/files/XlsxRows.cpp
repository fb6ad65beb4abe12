#include <map>
#include <vector>

#include "OoxmlText.h"
#include "SheetDates.h"
#include "WorkbookRows.h"
#include "XmlRows.h"
#include "books/Books.h"

namespace zeplo::tool {

namespace {

const QString kRelationships = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// The shared string table's part may be as large as a sheet; the texts kept
// from it, with 4 bytes each for where they end, at most this.
constexpr std::uint64_t kMostSharedTextBytes = 64u << 20;
// More cell styles than any spreadsheet program lets a workbook have.
constexpr std::size_t kMostCellStyles = 65536;

// An Office Open XML workbook: the first sheet named in xl/workbook.xml, its
// texts in the shared string table, and which of its cell styles show numbers
// as dates in the style sheet.
class XlsxRows : public XmlRows {
public:
    explicit XlsxRows(const std::filesystem::path &file) : XmlRows(file)
    {
        if (!zip_.contains("xl/workbook.xml"))
            fail(fileName_ + say(": not an .xlsx workbook (it has no xl/workbook.xml)",
                                 ": není sešit .xlsx (chybí v něm xl/workbook.xml)"));
        std::string sharedStrings = "xl/sharedStrings.xml", styles = "xl/styles.xml";
        const std::string sheet = firstSheet(sharedStrings, styles);
        if (zip_.contains(sharedStrings))
            readSharedStrings(sharedStrings);
        if (zip_.contains(styles))
            readStyles(styles);
        openSheet(sheet);
    }

    bool next(SheetRow &row) override;

private:
    std::string firstSheet(std::string &sharedStrings, std::string &styles);
    void readSharedStrings(const std::string &part);
    void readStyles(const std::string &part);
    void readCell(SheetRow &row, std::size_t &column);
    // The text of an element's <t> descendants, leaving out phonetic runs.
    std::string textOf(QXmlStreamReader &xml, int line);

    // The shared texts one after another, and where each ends.
    std::string sharedText_;
    std::vector<std::uint32_t> sharedEnds_;
    std::vector<bool> dateStyles_; // by the index of a cell's style
    bool from1904_ = false;
    int lastRow_ = 0;
};

// A part named by a relationship, as a path in the zip file.
std::string partPath(const QString &target)
{
    if (target.startsWith(QLatin1Char('/')))
        return target.mid(1).toStdString();
    return "xl/" + target.toStdString();
}

std::string XlsxRows::firstSheet(std::string &sharedStrings, std::string &styles)
{
    QString id;
    {
        QXmlStreamReader xml;
        const std::unique_ptr<ZipPart> part = openPart("xl/workbook.xml", kLargestSmallPart, xml);
        while (id.isEmpty() && xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("sheet")) {
                id = xml.attributes().value(kRelationships, QStringLiteral("id")).toString();
            } else if (xml.name() == QLatin1String("workbookPr")) {
                const QStringView from1904 = xml.attributes().value(QStringLiteral("date1904"));
                from1904_ = from1904 == QLatin1String("1") || from1904 == QLatin1String("true");
                xml.skipCurrentElement();
            } else if (xml.name() != QLatin1String("workbook") && xml.name() != QLatin1String("sheets")) {
                xml.skipCurrentElement();
            }
        }
        checkPart("xl/workbook.xml", xml, *part);
    }
    if (id.isEmpty())
        fail(fileName_ + say(": the workbook has no sheet", ": sešit nemá žádný list"));
    std::string sheet;
    QXmlStreamReader rels;
    const std::string relsPart = "xl/_rels/workbook.xml.rels";
    const std::unique_ptr<ZipPart> part = openPart(relsPart, kLargestSmallPart, rels);
    while (rels.readNextStartElement()) {
        if (rels.name() != QLatin1String("Relationship"))
            continue;
        const QXmlStreamAttributes attributes = rels.attributes();
        const QString target = attributes.value(QStringLiteral("Target")).toString();
        const QStringView type = attributes.value(QStringLiteral("Type"));
        if (attributes.value(QStringLiteral("Id")) == id)
            sheet = partPath(target);
        else if (type.endsWith(QLatin1String("/sharedStrings")))
            sharedStrings = partPath(target);
        else if (type.endsWith(QLatin1String("/styles")))
            styles = partPath(target);
        rels.skipCurrentElement();
    }
    checkPart(relsPart, rels, *part);
    if (sheet.empty())
        fail(fileName_ + say(": the workbook's first sheet is missing", ": první list sešitu chybí"));
    return sheet;
}

std::string XlsxRows::textOf(QXmlStreamReader &xml, int line)
{
    std::string text;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("t"))
            text += unescapedOoxml(xml.readElementText()).toStdString();
        else if (xml.name() == QLatin1String("r"))
            text += textOf(xml, line);
        else
            xml.skipCurrentElement(); // phonetic runs and run properties
        checkCellText(text, line);
    }
    return text;
}

void XlsxRows::readSharedStrings(const std::string &part)
{
    QXmlStreamReader xml;
    const std::unique_ptr<ZipPart> device = openPart(part, kLargestSheet, xml);
    try {
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("si")) {
                sharedText_ += textOf(xml, 1);
                sharedEnds_.push_back(static_cast<std::uint32_t>(sharedText_.size()));
                if (sharedText_.size() + 4 * sharedEnds_.size() > kMostSharedTextBytes)
                    fail(fileName_ + ": " + part
                         + say(" holds more than 64 MiB of texts, more than a workbook of books holds",
                               " obsahuje víc než 64 MiB textů, víc, než má sešit knih"));
            } else if (xml.name() != QLatin1String("sst")) {
                xml.skipCurrentElement();
            }
        }
    } catch (const BadLine &e) {
        fail(fileName_ + ": " + part + ": " + e.reason);
    }
    checkPart(part, xml, *device);
}

void XlsxRows::readStyles(const std::string &part)
{
    QXmlStreamReader xml;
    const std::unique_ptr<ZipPart> device = openPart(part, kLargestSmallPart, xml);
    std::map<int, bool> customFormats; // by id, whether it shows a date
    bool inCellStyles = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("cellXfs"))
            inCellStyles = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        const QXmlStreamAttributes attributes = xml.attributes();
        bool known = false;
        const int format = attributes.value(QStringLiteral("numFmtId")).toInt(&known);
        if (name == QLatin1String("numFmt")) {
            if (known)
                customFormats[format] = isDateFormatCode(attributes.value(QStringLiteral("formatCode")));
            xml.skipCurrentElement();
        } else if (name == QLatin1String("cellXfs")) {
            inCellStyles = true;
        } else if (name == QLatin1String("xf") && inCellStyles) {
            const auto custom = customFormats.find(format);
            dateStyles_.push_back(known && (custom != customFormats.end() ? custom->second : isDateFormat(format)));
            if (dateStyles_.size() > kMostCellStyles)
                fail(fileName_ + ": " + part
                     + say(" has more than 65,536 cell styles, more than spreadsheet programs allow",
                           " má víc než 65 536 stylů buněk, víc, než tabulkové programy dovolí"));
            xml.skipCurrentElement();
        } else if (name != QLatin1String("styleSheet") && name != QLatin1String("numFmts")) {
            xml.skipCurrentElement();
        }
    }
    checkPart(part, xml, *device);
}

// The column of a cell reference such as "AB12", from 0; none when it has no letters.
std::size_t columnOf(QStringView reference, std::size_t otherwise)
{
    std::size_t column = 0;
    qsizetype i = 0;
    for (; i < reference.size() && reference[i] >= QLatin1Char('A') && reference[i] <= QLatin1Char('Z') && i < 4; ++i)
        column = column * 26 + static_cast<std::size_t>(reference[i].unicode() - 'A' + 1);
    return i == 0 ? otherwise : column - 1;
}

void XlsxRows::readCell(SheetRow &row, std::size_t &column)
{
    const QXmlStreamAttributes attributes = xml_.attributes();
    column = columnOf(attributes.value(QStringLiteral("r")), column);
    const QStringView type = attributes.value(QStringLiteral("t"));
    bool styled = false;
    const qulonglong style = attributes.value(QStringLiteral("s")).toULongLong(&styled);
    Cell cell;
    QString value;
    bool inlineText = false;
    while (xml_.readNextStartElement()) {
        if (xml_.name() == QLatin1String("v")) {
            value = xml_.readElementText();
        } else if (xml_.name() == QLatin1String("is")) {
            cell.text = textOf(xml_, row.line);
            inlineText = true;
        } else {
            xml_.skipCurrentElement(); // a formula: its value is in <v>
        }
    }
    if (type == QLatin1String("s")) {
        bool ok = false;
        const qulonglong index = value.toULongLong(&ok);
        if (!ok || index >= sharedEnds_.size())
            throw BadLine(row.line, say("a cell names a text the workbook does not hold",
                                        "buňka odkazuje na text, který sešit neobsahuje"));
        const std::uint32_t start = index ? sharedEnds_[index - 1] : 0;
        cell.text.assign(sharedText_, start, sharedEnds_[index] - start);
        cell.isText = true;
    } else if (type == QLatin1String("inlineStr") || type == QLatin1String("str")) {
        if (!inlineText)
            cell.text = value.toStdString();
        cell.isText = true;
    } else if (type == QLatin1String("e")) {
        cell.text = value.toStdString();
        cell.isError = true;
    } else if (type == QLatin1String("d")) {
        cell.text = withoutMidnight(value.toStdString());
        cell.isDate = !cell.text.empty();
    } else {
        cell.text = value.toStdString(); // a number or a logical value (1/0)
        const bool number = type.isEmpty() || type == QLatin1String("n");
        if (number && !value.isEmpty() && styled && style < dateStyles_.size() && dateStyles_[style]) {
            bool ok = false;
            const double days = value.toDouble(&ok);
            if (const auto date = ok ? dateOfDayNumber(days, from1904_) : std::nullopt) {
                cell.text = *date;
                cell.isDate = true;
            }
        }
    }
    // An empty cell holds nothing to place, however far to the right it lies.
    if (!cell.text.empty() || cell.isText)
        place(row, column, std::move(cell));
    ++column;
}

bool XlsxRows::next(SheetRow &row)
{
    while (xml_.readNextStartElement()) {
        if (xml_.name() != QLatin1String("row")) {
            if (xml_.name() != QLatin1String("worksheet") && xml_.name() != QLatin1String("sheetData"))
                xml_.skipCurrentElement();
            continue;
        }
        bool ok = false;
        const int number = xml_.attributes().value(QStringLiteral("r")).toInt(&ok);
        beginRow(row, ok && number > lastRow_ ? number : lastRow_ + 1);
        lastRow_ = row.line;
        std::size_t column = 0;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == QLatin1String("c"))
                readCell(row, column);
            else
                xml_.skipCurrentElement();
        }
        checkXml(row.line);
        if (trimmedHasValue(row))
            return true;
    }
    checkXml(lastRow_ + 1);
    return false;
}

} // namespace

std::unique_ptr<RowReader> readXlsxRows(const std::filesystem::path &file) { return std::make_unique<XlsxRows>(file); }

} // namespace zeplo::tool
