#pragma once

// How the fuzz targets of the books' readers turn bytes into a file and read
// it; the test that replays the inputs they found does the same.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include "books/Progress.h"
#include "books/files/BookFile.h"
#include "books/files/ZipArchive.h"
#include "engine/Error.h"

namespace zeplo::fuzz {

enum class BookInput { Csv, Ods, Xlsx };

const char *const kWorkbookPart =
    R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
    R"(<sheet name="Knihy" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const char *const kWorkbookRelationships =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)"
    R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
    R"(</Relationships>)";

// Writes `data` at `path` (whatever was there goes) as a file of that kind: a
// CSV file as it is; a workbook as it is when it is a zip file ("PK"),
// otherwise as the XML of its parts, separated by zero bytes, which no XML
// holds, stored in a new zip file: an .ods's content.xml; an .xlsx's sheet,
// shared strings, styles and workbook part, each left out when not given
// (a workbook part of one sheet then).
inline void writeBookInput(BookInput kind, const QByteArray &data, const QString &path)
{
    QFile::remove(path);
    if (kind == BookInput::Csv || data.startsWith("PK")) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(data);
        return;
    }
    const QList<QByteArray> parts = data.split('\0');
    tool::ZipWriter zip(path.toStdString());
    if (kind == BookInput::Ods) {
        zip.add("mimetype", "application/vnd.oasis.opendocument.spreadsheet", true);
        zip.add("content.xml", parts[0], true);
    } else {
        const char *const names[] = {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml", "xl/workbook.xml"};
        for (qsizetype i = 0; i < parts.size() && i < 4; ++i)
            zip.add(names[i], parts[i], true);
        if (parts.size() < 4)
            zip.add("xl/workbook.xml", kWorkbookPart, true);
        zip.add("xl/_rels/workbook.xml.rels", kWorkbookRelationships, true);
    }
    zip.commit();
}

// The most books a reading goes through. A row of a sheet repeated a million
// times is a million books, as the file means; reading them all shows the
// fuzzer nothing new and takes it longer than it waits for an input.
inline constexpr int kMostBooksRead = 50000;

// Stops the check after about kMostBooksRead books: it reports every kProgressEvery.
class BoundedReading : public tool::Progress {
public:
    void advance(tool::Stage, std::uint64_t, std::uint64_t) override
    {
        if (++reports_ > kMostBooksRead / int(tool::kProgressEvery))
            throw tool::Cancelled();
    }

private:
    int reports_ = 0;
};

// Reads the file as the catalogue tool and the transfer window do: its
// header, its first books as previewed, and its books checked and read, up to
// kMostBooksRead. Returns the message of a refusal, empty when the file was read.
inline QString readBookInput(const QString &path)
{
    try {
        tool::ReadOptions options;
        options.ignoreUnknown = true;
        tool::BookFile file(path.toStdString(), options);
        file.decisions();
        file.preview(20);
        BoundedReading bounded;
        file.check(bounded);
        int books = 0;
        file.read([&](const tool::Book &, int) {
            if (++books > kMostBooksRead)
                throw tool::Cancelled();
        });
    } catch (const tool::Cancelled &) {
        return {};
    } catch (const Error &e) {
        return e.message().isEmpty() ? QStringLiteral("(an empty message)") : e.message();
    }
    return {};
}

} // namespace zeplo::fuzz
