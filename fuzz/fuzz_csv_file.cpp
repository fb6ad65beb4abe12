// Feeds arbitrary bytes to the books' reader as a CSV file: its encoding and separator found, its header and fields read and checked
// (BookInputs.h). A bad file may only end in zeplo::Error, within the limits
// of memory and time the fuzzer is run with.
#include <QCoreApplication>
#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "BookInputs.h"

namespace {
QString inputPath;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    inputPath = QDir::tempPath() + QStringLiteral("/zeplo-fuzz-%1.csv").arg(QCoreApplication::applicationPid());
    std::atexit([] { QFile::remove(inputPath); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    zeplo::fuzz::writeBookInput(zeplo::fuzz::BookInput::Csv, bytes, inputPath);
    zeplo::fuzz::readBookInput(inputPath);
    return 0;
}
