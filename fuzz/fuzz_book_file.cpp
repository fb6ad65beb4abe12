// Feeds arbitrary bytes to the books' reader as one kind of file, chosen when
// built (BOOK_INPUT: Csv, Ods or Xlsx; one target each): a CSV file's encoding
// and separator found, its header and fields read and checked; a workbook
// whole, or its sheet's XML stored in one (BookInputs.h). A bad file may only
// end in zeplo::Error, within the limits of memory and time the fuzzer is run with.
#include <QCoreApplication>
#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "BookInputs.h"

namespace {
constexpr zeplo::fuzz::BookInput kKind = zeplo::fuzz::BookInput::BOOK_INPUT;
QString inputPath;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *suffix = kKind == zeplo::fuzz::BookInput::Csv ? "csv" : kKind == zeplo::fuzz::BookInput::Ods ? "ods" : "xlsx";
    inputPath = QDir::tempPath()
                + QStringLiteral("/zeplo-fuzz-%1.%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(suffix));
    std::atexit([] { QFile::remove(inputPath); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    zeplo::fuzz::writeBookInput(kKind, bytes, inputPath);
    zeplo::fuzz::readBookInput(inputPath);
    return 0;
}
