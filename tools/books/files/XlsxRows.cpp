#include <vector>

#include "OoxmlText.h"
#include "WorkbookRows.h"
#include "XmlRows.h"
#include "books/Books.h"

namespace zeplo::tool {

namespace {

const QString kRelationships = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// An Office Open XML workbook: the first sheet named in xl/workbook.xml, its
// texts in the shared string table.
class XlsxRows : public XmlRows {
public:
    explicit XlsxRows(const std::filesystem::path &file) : XmlRows(file)
    {
        if (!zip_.contains("xl/workbook.xml"))
            fail(fileName_ + say(": not an .xlsx workbook (it has no xl/workbook.xml)",
                                 ": není sešit .xlsx (chybí v něm xl/workbook.xml)"));
        std::string sharedStrings = "xl/sharedStrings.xml";
        const std::string sheet = firstSheet(sharedStrings);
        if (zip_.contains(sharedStrings))
            readSharedStrings(sharedStrings);
        openSheet(sheet);
    }

    bool next(SheetRow &row) override;

private:
    std::string firstSheet(std::string &sharedStrings);
    void readSharedStrings(const std::string &part);
    void readCell(SheetRow &row, std::size_t &column);
    // The text of an element's <t> descendants, leaving out phonetic runs.
    std::string textOf(QXmlStreamReader &xml);

    std::vector<std::string> strings_;
    int lastRow_ = 0;
};

// A part named by a relationship, as a path in the zip file.
std::string partPath(const QString &target)
{
    if (target.startsWith(QLatin1Char('/')))
        return target.mid(1).toStdString();
    return "xl/" + target.toStdString();
}

std::string XlsxRows::firstSheet(std::string &sharedStrings)
{
    QString id;
    {
        QXmlStreamReader xml(zip_.read("xl/workbook.xml"));
        while (id.isEmpty() && xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("sheet"))
                id = xml.attributes().value(kRelationships, QStringLiteral("id")).toString();
            else if (xml.name() != QLatin1String("workbook") && xml.name() != QLatin1String("sheets"))
                xml.skipCurrentElement();
        }
    }
    if (id.isEmpty())
        fail(fileName_ + say(": the workbook has no sheet", ": sešit nemá žádný list"));
    std::string sheet;
    QXmlStreamReader rels(zip_.read("xl/_rels/workbook.xml.rels"));
    while (rels.readNextStartElement()) {
        if (rels.name() != QLatin1String("Relationship"))
            continue;
        const QXmlStreamAttributes attributes = rels.attributes();
        const QString target = attributes.value(QStringLiteral("Target")).toString();
        if (attributes.value(QStringLiteral("Id")) == id)
            sheet = partPath(target);
        else if (attributes.value(QStringLiteral("Type")).endsWith(QLatin1String("/sharedStrings")))
            sharedStrings = partPath(target);
        rels.skipCurrentElement();
    }
    if (sheet.empty())
        fail(fileName_ + say(": the workbook's first sheet is missing", ": první list sešitu chybí"));
    return sheet;
}

std::string XlsxRows::textOf(QXmlStreamReader &xml)
{
    std::string text;
    const QString element = xml.name().toString();
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("t"))
            text += unescapedOoxml(xml.readElementText()).toStdString();
        else if (xml.name() == QLatin1String("r"))
            text += textOf(xml);
        else
            xml.skipCurrentElement(); // phonetic runs and run properties
    }
    return text;
}

void XlsxRows::readSharedStrings(const std::string &part)
{
    std::uint64_t size = 0;
    const std::unique_ptr<QIODevice> device = zip_.open(part, size);
    QXmlStreamReader xml(device.get());
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("si"))
            strings_.push_back(textOf(xml));
        else if (xml.name() != QLatin1String("sst"))
            xml.skipCurrentElement();
    }
    if (xml.hasError())
        fail(fileName_ + ": " + part + say(" is damaged: ", " je poškozená: ") + xml.errorString().toStdString());
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
    Cell cell;
    QString value;
    bool inlineText = false;
    while (xml_.readNextStartElement()) {
        if (xml_.name() == QLatin1String("v")) {
            value = xml_.readElementText();
        } else if (xml_.name() == QLatin1String("is")) {
            cell.text = textOf(xml_);
            inlineText = true;
        } else {
            xml_.skipCurrentElement(); // a formula: its value is in <v>
        }
    }
    if (type == QLatin1String("s")) {
        bool ok = false;
        const qulonglong index = value.toULongLong(&ok);
        if (!ok || index >= strings_.size())
            throw BadLine(row.line, say("a cell names a text the workbook does not hold",
                                        "buňka odkazuje na text, který sešit neobsahuje"));
        cell.text = strings_[index];
        cell.isText = true;
    } else if (type == QLatin1String("inlineStr") || type == QLatin1String("str")) {
        if (!inlineText)
            cell.text = value.toStdString();
        cell.isText = true;
    } else {
        cell.text = value.toStdString(); // a number, a logical value (1/0), a date, an error
    }
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
        row.line = ok && number > lastRow_ ? number : lastRow_ + 1;
        lastRow_ = row.line;
        row.cells.clear();
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
