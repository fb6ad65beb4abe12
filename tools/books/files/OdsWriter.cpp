#include "BookWriter.h"
#include "XmlPart.h"
#include "ZipArchive.h"

namespace zeplo::tool {

namespace {

const QString kOffice = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString kTable = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString kText = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");

const char *const kMimeType = "application/vnd.oasis.opendocument.spreadsheet";
const char *const kManifest =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">)"
    R"(<manifest:file-entry manifest:full-path="/" manifest:version="1.2" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>)"
    R"(<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>)"
    R"(</manifest:manifest>)";

class OdsWriter : public BookWriter {
public:
    explicit OdsWriter(const std::filesystem::path &file) : zip_((requireNewFile(file), file))
    {
        QXmlStreamWriter &xml = content_.xml;
        xml.writeNamespace(kOffice, QStringLiteral("office"));
        xml.writeNamespace(kTable, QStringLiteral("table"));
        xml.writeNamespace(kText, QStringLiteral("text"));
        xml.writeStartElement(kOffice, QStringLiteral("document-content"));
        xml.writeAttribute(kOffice, QStringLiteral("version"), QStringLiteral("1.2"));
        xml.writeStartElement(kOffice, QStringLiteral("body"));
        xml.writeStartElement(kOffice, QStringLiteral("spreadsheet"));
        xml.writeStartElement(kTable, QStringLiteral("table"));
        xml.writeAttribute(kTable, QStringLiteral("name"), QStringLiteral("Knihy"));
        xml.writeEmptyElement(kTable, QStringLiteral("table-column"));
        xml.writeAttribute(kTable, QStringLiteral("number-columns-repeated"), QString::number(kColumnCount));
        xml.writeStartElement(kTable, QStringLiteral("table-row"));
        for (const Column &column : kColumns)
            textCell(QString::fromLatin1(column.name));
        xml.writeEndElement();
    }

    void add(const Book &book) override
    {
        QXmlStreamWriter &xml = content_.xml;
        xml.writeStartElement(kTable, QStringLiteral("table-row"));
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Value &value = book[i];
            if (value.null) {
                xml.writeEmptyElement(kTable, QStringLiteral("table-cell"));
            } else if (holdsText(kColumns[i].kind)) {
                const QString text = QString::fromStdString(value.text);
                for (const QChar c : text)
                    if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
                        fail(bookName(book) + say(", column ", ", sloupec ") + kColumns[i].name
                             + say(": the text holds a control character, which an .ods workbook cannot hold",
                                   ": text obsahuje řídicí znak, který sešit .ods neumí uložit"));
                textCell(text);
            } else {
                const QString number = QString::number(value.number);
                xml.writeStartElement(kTable, QStringLiteral("table-cell"));
                xml.writeAttribute(kOffice, QStringLiteral("value-type"), QStringLiteral("float"));
                xml.writeAttribute(kOffice, QStringLiteral("value"), number);
                xml.writeTextElement(kText, QStringLiteral("p"), number);
                xml.writeEndElement();
            }
        }
        xml.writeEndElement();
    }

    void commit() override
    {
        QXmlStreamWriter &xml = content_.xml;
        xml.writeEndElement(); // table
        xml.writeEndElement(); // spreadsheet
        xml.writeEndElement(); // body
        xml.writeEndElement(); // document-content
        // The mimetype comes first and unpacked, so that a program knows the file by its start.
        zip_.add("mimetype", kMimeType, true);
        zip_.add("META-INF/manifest.xml", kManifest);
        zip_.add("content.xml", content_.finish());
        zip_.commit();
    }

private:
    // A text cell: a paragraph per line; spaces that OpenDocument would fold
    // (at a line's ends, or more than one) as <text:s>, tabs as <text:tab>, a
    // carriage return, which XML would turn into a line feed, as a reference.
    void textCell(const QString &text)
    {
        QXmlStreamWriter &xml = content_.xml;
        xml.writeStartElement(kTable, QStringLiteral("table-cell"));
        xml.writeAttribute(kOffice, QStringLiteral("value-type"), QStringLiteral("string"));
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            xml.writeStartElement(kText, QStringLiteral("p"));
            QString run;
            const auto flush = [&] {
                if (!run.isEmpty())
                    xml.writeCharacters(run);
                run.clear();
            };
            for (qsizetype i = 0; i < line.size(); ++i) {
                const QChar c = line[i];
                if (c == QLatin1Char(' ')) {
                    qsizetype n = 1;
                    while (i + n < line.size() && line[i + n] == QLatin1Char(' '))
                        ++n;
                    if (n == 1 && i > 0 && i + 1 < line.size()) {
                        run += c;
                        continue;
                    }
                    flush();
                    xml.writeEmptyElement(kText, QStringLiteral("s"));
                    if (n > 1)
                        xml.writeAttribute(kText, QStringLiteral("c"), QString::number(n));
                    i += n - 1;
                } else if (c == QLatin1Char('\t')) {
                    flush();
                    xml.writeEmptyElement(kText, QStringLiteral("tab"));
                } else if (c == QLatin1Char('\r')) {
                    flush();
                    xml.writeEntityReference(QStringLiteral("#13"));
                } else {
                    run += c;
                }
            }
            flush();
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }

    ZipWriter zip_;
    XmlPart content_;
};

} // namespace

std::unique_ptr<BookWriter> createOdsFile(const std::filesystem::path &file)
{
    return std::make_unique<OdsWriter>(file);
}

} // namespace zeplo::tool
