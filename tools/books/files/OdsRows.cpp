#include <algorithm>

#include "SheetDates.h"
#include "WorkbookRows.h"
#include "XmlRows.h"
#include "books/Books.h"

namespace zeplo::tool {

namespace {

const QString kTable = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString kOffice = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString kText = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");
// Where LibreOffice says a cell's formula ended in an error ("#N/A", "Err:502").
const QString kCalcExtension = QStringLiteral("urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0");

// An OpenDocument spreadsheet: the first table of content.xml. Repeated rows and
// cells are spelled out, but runs of empty ones (a sheet's rest) are not: a
// repeat costs only what it gives.
class OdsRows : public XmlRows {
public:
    explicit OdsRows(const std::filesystem::path &file) : XmlRows(file)
    {
        if (!zip_.contains("content.xml"))
            fail(fileName_ + say(": not an .ods workbook (it has no content.xml)",
                                 ": není sešit .ods (chybí v něm content.xml)"));
        openSheet("content.xml");
        findTable();
    }

    bool next(SheetRow &row) override;

private:
    void findTable();
    bool readRow(SheetRow &row);
    void readCell(SheetRow &row, std::size_t &column);
    // The text of a paragraph: spans and links read through, spaces, tabs
    // and line breaks as their elements say.
    void appendText(std::string &text, int line);

    bool inTable_ = false;
    std::int64_t rowNumber_ = 0; // of the last row read, its repeats counted
    SheetRow repeated_;
    int repeatsLeft_ = 0;
};

int repeatCount(const QXmlStreamAttributes &attributes, const char *name)
{
    bool ok = false;
    const int n = attributes.value(kTable, QLatin1String(name)).toInt(&ok);
    return ok && n > 1 ? n : 1;
}

void OdsRows::findTable()
{
    // office:document-content / office:body / office:spreadsheet / table:table
    while (xml_.readNextStartElement()) {
        const QStringView name = xml_.name();
        if (name == QLatin1String("table") && xml_.namespaceUri() == kTable) {
            inTable_ = true;
            return;
        }
        if (name != QLatin1String("document-content") && name != QLatin1String("body")
            && name != QLatin1String("spreadsheet"))
            xml_.skipCurrentElement();
    }
    checkXml(1);
    fail(fileName_ + say(": the workbook has no sheet", ": sešit nemá žádný list"));
}

void OdsRows::appendText(std::string &text, int line)
{
    while (!xml_.atEnd()) {
        switch (xml_.readNext()) {
        case QXmlStreamReader::Characters:
            text += xml_.text().toString().toStdString();
            checkCellText(text, line);
            break;
        case QXmlStreamReader::StartElement: {
            const QStringView name = xml_.name();
            if (name == QLatin1String("s")) {
                bool ok = false;
                const int n = xml_.attributes().value(kText, QStringLiteral("c")).toInt(&ok);
                text.append(ok && n > 0 ? std::min(n, 1 << 16) : 1, ' ');
                xml_.skipCurrentElement();
            } else if (name == QLatin1String("tab")) {
                text += '\t';
                xml_.skipCurrentElement();
            } else if (name == QLatin1String("line-break")) {
                text += '\n';
                xml_.skipCurrentElement();
            } else if (name == QLatin1String("annotation") || name == QLatin1String("note")) {
                xml_.skipCurrentElement(); // a comment on the cell is not its text
            } else {
                appendText(text, line); // span, link, ...
            }
            checkCellText(text, line);
            break;
        }
        case QXmlStreamReader::EndElement:
            return;
        default:
            break;
        }
    }
}

void OdsRows::readCell(SheetRow &row, std::size_t &column)
{
    const QXmlStreamAttributes attributes = xml_.attributes();
    const int repeat = repeatCount(attributes, "number-columns-repeated");
    const QStringView type = attributes.value(kOffice, QStringLiteral("value-type"));
    Cell cell;
    int paragraphs = 0;
    while (xml_.readNextStartElement()) {
        if (xml_.name() == QLatin1String("p") && xml_.namespaceUri() == kText) {
            if (paragraphs++)
                cell.text += '\n';
            appendText(cell.text, row.line);
        } else {
            xml_.skipCurrentElement();
        }
    }
    if (attributes.value(kCalcExtension, QStringLiteral("value-type")) == QLatin1String("error")) {
        cell.isError = true; // its text is the error as shown
        if (cell.text.empty())
            cell.text = "#ERR";
    } else if (type.isEmpty()) {
        cell.text.clear(); // no value, whatever it shows
    } else if (type == QLatin1String("string")) {
        cell.isText = true;
        const QStringView value = attributes.value(kOffice, QStringLiteral("string-value"));
        if (!value.isEmpty())
            cell.text = value.toString().toStdString();
    } else if (type == QLatin1String("boolean")) {
        cell.text = attributes.value(kOffice, QStringLiteral("boolean-value")).toString().toStdString();
    } else if (type == QLatin1String("date")) {
        cell.text = withoutMidnight(attributes.value(kOffice, QStringLiteral("date-value")).toString().toStdString());
        cell.isDate = !cell.text.empty();
    } else if (type == QLatin1String("time")) {
        cell.text = attributes.value(kOffice, QStringLiteral("time-value")).toString().toStdString();
    } else {
        cell.text = attributes.value(kOffice, QStringLiteral("value")).toString().toStdString(); // float, currency, percentage
    }
    if (cell.text.empty() && !cell.isText) {
        column += static_cast<std::size_t>(repeat); // empty cells, however many
        return;
    }
    for (int i = 0; i < repeat; ++i) {
        Cell copy = cell;
        place(row, column++, std::move(copy));
    }
}

bool OdsRows::readRow(SheetRow &row)
{
    const int repeat = repeatCount(xml_.attributes(), "number-rows-repeated");
    const std::int64_t first = rowNumber_ + 1;
    rowNumber_ += repeat; // empty rows cost nothing, however many are repeated
    // Rows past the sheet's last, its empty rest, are read as the last.
    beginRow(row, static_cast<int>(std::min<std::int64_t>(first, kMostRows)));
    std::size_t column = 0;
    while (xml_.readNextStartElement()) {
        const QStringView name = xml_.name();
        if (name == QLatin1String("table-cell") || name == QLatin1String("covered-table-cell"))
            readCell(row, column);
        else
            xml_.skipCurrentElement();
    }
    checkXml(row.line);
    if (!trimmedHasValue(row))
        return false;
    if (rowNumber_ > kMostRows)
        throw BadLine(row.line, first > kMostRows
                                    ? say("the row lies beyond the last row a sheet may have (1,048,576)",
                                          "řádek leží za posledním řádkem, který list může mít (1 048 576)")
                                    : say("the row is repeated past the last row a sheet may have (1,048,576)",
                                          "řádek se opakuje za poslední řádek, který list může mít (1 048 576)"));
    repeatsLeft_ = repeat - 1;
    if (repeatsLeft_ > 0)
        repeated_ = row;
    return true;
}

bool OdsRows::next(SheetRow &row)
{
    if (repeatsLeft_ > 0) {
        row = repeated_;
        row.line = static_cast<int>(rowNumber_ - --repeatsLeft_);
        givenAgain(row);
        return true;
    }
    // Rows may sit in header-row and row-group elements; the first table's end is the end.
    while (inTable_) {
        if (!xml_.readNextStartElement()) {
            checkXml(static_cast<int>(std::min<std::int64_t>(rowNumber_ + 1, kMostRows + 1)));
            if (xml_.name() == QLatin1String("table"))
                inTable_ = false;
            continue;
        }
        const QStringView name = xml_.name();
        if (name == QLatin1String("table-row")) {
            if (readRow(row))
                return true;
        } else if (name != QLatin1String("table-header-rows") && name != QLatin1String("table-row-group")
                   && name != QLatin1String("table-rows")) {
            xml_.skipCurrentElement();
        }
    }
    return false;
}

} // namespace

std::unique_ptr<RowReader> readOdsRows(const std::filesystem::path &file) { return std::make_unique<OdsRows>(file); }

} // namespace zeplo::tool
