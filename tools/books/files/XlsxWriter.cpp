#include "BookWriter.h"
#include "OoxmlText.h"
#include "XmlPart.h"
#include "ZipArchive.h"

namespace zeplo::tool {

namespace {

const QString kMain = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");

// The most characters a cell of an .xlsx workbook may hold.
constexpr qsizetype kMostCellCharacters = 32767;

const char *const kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="xml" ContentType="application/xml"/>)"
    R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
    R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
    R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
    R"(</Types>)";
const char *const kPackageRelationships =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
    R"(</Relationships>)";
const char *const kWorkbook =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<sheets><sheet name="Knihy" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const char *const kWorkbookRelationships =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
    R"(</Relationships>)";
const char *const kStyles =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>)"
    R"(<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>)"
    R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
    R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
    R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"
    R"(</styleSheet>)";

QString columnLetter(std::size_t column) { return QString(QChar(u'A' + static_cast<char16_t>(column))); }

class XlsxWriter : public BookWriter {
public:
    explicit XlsxWriter(const std::filesystem::path &file) : zip_((requireNewFile(file), file))
    {
        QXmlStreamWriter &xml = sheet_.xml;
        xml.writeDefaultNamespace(kMain);
        xml.writeStartElement(kMain, QStringLiteral("worksheet"));
        xml.writeStartElement(kMain, QStringLiteral("sheetData"));
        startRow();
        for (std::size_t i = 0; i < kColumnCount; ++i)
            textCell(i, QString::fromLatin1(kColumns[i].name));
        xml.writeEndElement();
    }

    void add(const Book &book) override
    {
        startRow();
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Value &value = book[i];
            if (value.null)
                continue; // no cell: no value
            if (!holdsText(kColumns[i].kind)) {
                numberCell(i, value.number);
                continue;
            }
            const QString text = QString::fromStdString(value.text);
            if (text.size() > kMostCellCharacters)
                fail(bookName(book) + say(", column ", ", sloupec ") + kColumns[i].name
                     + say(": the text is longer than an .xlsx cell may be (32,767 characters)",
                           ": text je delší, než smí být buňka .xlsx (32 767 znaků)"));
            textCell(i, text);
        }
        sheet_.xml.writeEndElement();
    }

    void commit() override
    {
        sheet_.xml.writeEndElement(); // sheetData
        sheet_.xml.writeEndElement(); // worksheet
        zip_.add("[Content_Types].xml", kContentTypes);
        zip_.add("_rels/.rels", kPackageRelationships);
        zip_.add("xl/workbook.xml", kWorkbook);
        zip_.add("xl/_rels/workbook.xml.rels", kWorkbookRelationships);
        zip_.add("xl/styles.xml", kStyles);
        zip_.add("xl/worksheets/sheet1.xml", sheet_.finish());
        zip_.commit();
    }

private:
    void startRow()
    {
        ++row_;
        sheet_.xml.writeStartElement(kMain, QStringLiteral("row"));
        sheet_.xml.writeAttribute(QStringLiteral("r"), QString::number(row_));
    }
    void startCell(std::size_t column)
    {
        sheet_.xml.writeStartElement(kMain, QStringLiteral("c"));
        sheet_.xml.writeAttribute(QStringLiteral("r"), columnLetter(column) + QString::number(row_));
    }
    void numberCell(std::size_t column, std::int64_t number)
    {
        startCell(column);
        sheet_.xml.writeTextElement(kMain, QStringLiteral("v"), QString::number(number));
        sheet_.xml.writeEndElement();
    }
    // An inline text, so that a text that looks like a number stays a text.
    void textCell(std::size_t column, const QString &text)
    {
        QXmlStreamWriter &xml = sheet_.xml;
        startCell(column);
        xml.writeAttribute(QStringLiteral("t"), QStringLiteral("inlineStr"));
        xml.writeStartElement(kMain, QStringLiteral("is"));
        xml.writeStartElement(kMain, QStringLiteral("t"));
        xml.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
        xml.writeCharacters(escapedOoxml(text));
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    }

    ZipWriter zip_;
    XmlPart sheet_;
    int row_ = 0;
};

} // namespace

std::unique_ptr<BookWriter> createXlsxFile(const std::filesystem::path &file)
{
    return std::make_unique<XlsxWriter>(file);
}

} // namespace zeplo::tool
