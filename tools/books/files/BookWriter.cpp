#include "BookWriter.h"

#include <QFile>

#include "BookFile.h"

namespace zeplo::tool {

void requireNewFile(const std::filesystem::path &file)
{
    if (QFile::exists(QString::fromStdString(file.string())))
        fail(file.string() + say(" already exists; an export never overwrites a file",
                                 " už existuje; export nikdy nepřepisuje soubor"));
}

std::unique_ptr<BookWriter> createBookFile(const std::filesystem::path &file, bool forSpreadsheet)
{
    switch (fileFormatOf(file)) {
    case FileFormat::Ods: return createOdsFile(file);
    case FileFormat::Xlsx: return createXlsxFile(file);
    case FileFormat::Csv: break;
    }
    return createCsvFile(file, forSpreadsheet);
}

} // namespace zeplo::tool
