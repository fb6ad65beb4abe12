// The books' readers replay their fuzz targets' seeds and every input the
// fuzzers found: each file reads, or is refused with one short line of its
// own, never a crash (the sanitizer build catches a read outside a buffer).
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include "BookInputs.h"

using namespace zeplo::fuzz;

TEST(FuzzedBookFiles, SeedsAndKeptInputsReadOrAreRefusedInOneLine)
{
    const QDir fuzz(QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir().filePath(QStringLiteral("../../fuzz")));
    QTemporaryDir dir;
    int read = 0, refused = 0;
    for (const auto &[name, kind] : {std::pair{"csv", BookInput::Csv}, std::pair{"ods", BookInput::Ods},
                                     std::pair{"xlsx", BookInput::Xlsx}}) {
        const QString path = dir.filePath(QStringLiteral("input.") + QLatin1String(name));
        for (const char *folder : {"corpus/", "regressions/"}) {
            QDirIterator inputs(fuzz.filePath(QLatin1String(folder) + QLatin1String(name) + QLatin1String("_file")), QDir::Files);
            while (inputs.hasNext()) {
                QFile file(inputs.next());
                ASSERT_TRUE(file.open(QIODevice::ReadOnly));
                writeBookInput(kind, file.readAll(), path);
                const QString message = readBookInput(path);
                (message.isEmpty() ? read : refused) += 1;
                EXPECT_TRUE(!message.contains(QLatin1Char('\n')) && message.size() < 400 && !message.contains(QLatin1String("std::")))
                    << file.fileName().toStdString() << ": " << message.toStdString();
            }
        }
    }
    // The seeds of real files read; those with an error cell or an unclosed quote are refused.
    EXPECT_GE(read, 3);
    EXPECT_GE(refused, 3);
}
