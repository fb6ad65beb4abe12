// The books' readers replay their fuzz targets' seeds and every input the
// fuzzers found: each file reads, or is refused with one short line of its
// own, never a crash (the sanitizer build catches a read outside a buffer).
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "BookInputs.h"

using namespace zeplo::fuzz;

TEST(FuzzedBookFiles, SeedsAndKeptInputsReadOrAreRefusedInOneLine)
{
    const QDir fuzz(QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir().filePath(QStringLiteral("../../fuzz")));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int read = 0, refused = 0;
    for (const auto &[name, kind] : {std::pair{"csv_file", BookInput::Csv}, std::pair{"ods_file", BookInput::Ods},
                                     std::pair{"xlsx_file", BookInput::Xlsx}}) {
        QFileInfoList inputs;
        for (const char *folder : {"corpus/", "regressions/"})
            inputs += QDir(fuzz.filePath(QLatin1String(folder) + QLatin1String(name))).entryInfoList(QDir::Files, QDir::Name);
        ASSERT_FALSE(inputs.isEmpty()) << name;
        const QString path = dir.filePath(QStringLiteral("input.") + QString::fromLatin1(name).section(QLatin1Char('_'), 0, 0));
        for (const QFileInfo &input : inputs) {
            SCOPED_TRACE(input.filePath().toStdString());
            QFile file(input.filePath());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            writeBookInput(kind, file.readAll(), path);
            const QString message = readBookInput(path);
            (message.isEmpty() ? read : refused) += 1;
            EXPECT_FALSE(message.contains(QLatin1Char('\n'))) << message.toStdString();
            EXPECT_LT(message.size(), 400) << message.toStdString();
            EXPECT_FALSE(message.contains(QLatin1String("std::"))) << message.toStdString();
        }
    }
    // The seeds of real files read; those with an error cell or an unclosed quote are refused.
    EXPECT_GE(read, 3);
    EXPECT_GE(refused, 3);
}
