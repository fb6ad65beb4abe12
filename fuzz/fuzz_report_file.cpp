// Feeds arbitrary bytes to the saved report loader as a file, then shows every
// page it accepted, as the preview would after loading.
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"
#include "report/PageStore.h"

namespace {
QString inputPath;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zeplo::fuzz::startApplication();
    inputPath = QDir::tempPath() + QStringLiteral("/zeplo-fuzz-%1.QRP").arg(QCoreApplication::applicationPid());
    std::atexit([] { QFile::remove(inputPath); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile file(inputPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            abort();
    }
    std::unique_ptr<zeplo::PageStore> store;
    try {
        store = zeplo::PageStore::loadFromFile(inputPath);
    } catch (const zeplo::Error &) {
        return 0;
    }
    for (int n = 1; n <= store->pageCount() && n <= 8; ++n) {
        // A page that loaded is a picture whose header has been checked; the
        // player must still cope with whatever follows the header.
        const QByteArray emf = store->page(n);
        zeplo::fuzz::playOntoPage(emf);
    }
    return 0;
}
